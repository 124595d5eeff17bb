#include "app/WindowLook.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

namespace velmar {

QFont WindowFont(double scale) {
    QFont f;
    // Liberation Sans has Arial's widths, close to the designed font's, so texts fit their
    // designed boxes.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(static_cast<int>(11 * scale + 0.5));
    return f;
}

void applyWindowLook(QWidget* window) {
    window->setFont(WindowFont(Scale(window).factor()));
}

Scale::Scale(const QWidget* w) {
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const double dpi = screen->logicalDotsPerInchY();
        if (dpi > 0)
            factor_ = dpi / 96.0;
    }
}

} // namespace velmar
