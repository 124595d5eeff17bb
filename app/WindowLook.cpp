#include "app/WindowLook.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

namespace velmar {

void applyWindowLook(QWidget* window) {
    // Font matching falls back to the sans-serif face by the style hint when the family is
    // missing, without enumerating the installed fonts at start-up.
    QFont f;
    // Liberation Sans has Arial's widths, close to the designed font's, so texts fit their
    // designed boxes.
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(Scale(window)(11));
    window->setFont(f);
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
