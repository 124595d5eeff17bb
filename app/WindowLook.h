#pragma once
// What both windows share: the window font and the scaling of designed pixel sizes (96 dpi) to
// the screen's text size.
#include <QRect>
#include <QWidget>

namespace velmar {

// "MS Sans Serif" where installed, otherwise the sans-serif face; 11 pixels high either way.
void applyWindowLook(QWidget* window);

class Scale {
public:
    explicit Scale(const QWidget* w);
    int operator()(int designed) const { return static_cast<int>(designed * factor_ + 0.5); }
    QRect rect(int l, int t, int w, int h) const {
        return QRect((*this)(l), (*this)(t), (*this)(w), (*this)(h));
    }

private:
    double factor_ = 1.0;
};

} // namespace velmar
