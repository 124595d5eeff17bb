#include "app/WindowLook.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleOption>

#include <algorithm>

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

namespace {

class WindowStyle : public QProxyStyle {
public:
    // Built on the style the application has, so a style chosen with -style stays in force.
    explicit WindowStyle(const QString& baseKey) : QProxyStyle(baseKey) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameGroupBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // The frame starts below the caption (or a few pixels down without one), as the
        // platform style draws it, outlined a shade darker than the window.
        constexpr int captionGap = 3;
        const auto* box = qobject_cast<const QGroupBox*>(widget);
        const bool captionless = box && !box->isCheckable() && box->title().isEmpty();
        const int top = captionless
                            ? captionGap
                            : std::max(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget),
                                       option->fontMetrics.height()) +
                                  captionGap;
        const QRect frame = option->rect.adjusted(0, top, 0, 0);
        const QColor window = option->palette.color(QPalette::Window);
        // Four straight lines (an antialiased rounded outline cost the first frame more than all
        // the texts in the window); inside, the group shows the window's own background.
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        const int l = frame.left(), t = frame.top(), r = frame.right(), b = frame.bottom();
        painter->setPen(window.darker(135));
        // Corners cut by one pixel read as a slight rounding.
        const QLine outline[] = {
            {l + 1, t, r - 1, t}, {l + 1, b, r - 1, b}, {l, t + 1, l, b - 1}, {r, t + 1, r, b - 1}};
        painter->drawLines(outline, 4);
        painter->restore();
    }

    // A push button is drawn in its own state: one inside a disabled group that its action
    // keeps enabled looks enabled (it takes no input while its group is disabled).
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (button && widget && !widget->isEnabled() &&
            !widget->testAttribute(Qt::WA_ForceDisabled) &&
            qobject_cast<const QPushButton*>(widget)) {
            QStyleOptionButton own(*button);
            own.state |= State_Enabled;
            own.palette.setCurrentColorGroup(widget->isActiveWindow() ? QPalette::Active
                                                                      : QPalette::Inactive);
            QProxyStyle::drawControl(element, &own, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

void installWindowStyle() {
    QApplication::setStyle(new WindowStyle(QApplication::style()->name()));
    // The styles cache the pictures of buttons and frames, and every picture cached keeps a
    // clean-up timer that wakes the idle program 30 s later. The few small controls of these
    // windows are drawn directly in a few microseconds, so nothing is cached.
    QPixmapCache::setCacheLimit(0);
}

void fitTextToWidth(QLabel* label) {
    const QString text = label->text();
    const int room = label->width() - 2 * label->margin();
    QFont font = label->font();
    const auto fits = [&] {
        return QFontMetrics(font).horizontalAdvance(text) <= room;
    };
    if (fits())
        return;
    for (int stretch = 99; stretch >= 80 && !fits(); --stretch)
        font.setStretch(stretch);
    for (int tenths = 1; tenths <= 10 && !fits(); ++tenths)
        font.setLetterSpacing(QFont::AbsoluteSpacing, -0.1 * tenths);
    label->setFont(font);
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
