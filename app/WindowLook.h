#pragma once
// What both windows share: the window font and the scaling of designed pixel sizes (96 dpi) to
// the screen's text size.
#include <QFont>
#include <QRect>
#include <QWidget>

class QLabel;

namespace velmar {

// "MS Sans Serif" where installed, otherwise a face of the same widths; 11 pixels high (at
// 96 dpi) either way.
QFont WindowFont(double scale = 1.0);
void applyWindowLook(QWidget* window);
// Keeps `label` at its designed width: where the window font runs wider than the designed one,
// the label's font is narrowed (stretched, then spaced closer) until its whole text fits.
void fitTextToWidth(QLabel* label);
// The application's style: the platform's own, except that group-box frames are drawn with lines
// instead of from an image (so painting a window loads no image reader), and no picture is kept
// in the pixmap cache (whose clean-up timer would wake the idle program half a minute later).
// Call once, after the application object exists.
void installWindowStyle();

class Scale {
public:
    explicit Scale(const QWidget* w);
    double factor() const { return factor_; }
    int operator()(int designed) const { return static_cast<int>(designed * factor_ + 0.5); }
    QRect rect(int l, int t, int w, int h) const {
        return QRect((*this)(l), (*this)(t), (*this)(w), (*this)(h));
    }

private:
    double factor_ = 1.0;
};

} // namespace velmar
