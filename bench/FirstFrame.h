#pragma once
// The moment a window's picture is actually drawn: the first time the window system asks a
// top-level widget's window to show itself (Expose, or the update request that follows), the
// probe lets Qt paint every widget of it and hand the picture to the window system, and then
// reports, provided that a top-level widget was painted in that pass. Header only and Qt only,
// so the bare yardstick programs use it too.
//
// Install it application-wide before the window is shown (qApp->installEventFilter).
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <utility>

namespace velmar::bench {

class FirstFrameProbe : public QObject {
public:
    // `drawn` gets the top-level widget whose first frame was drawn; return true to stop
    // watching, false to wait for the next top-level widget's first frame.
    explicit FirstFrameProbe(std::function<bool(QWidget*)> drawn) : drawn_(std::move(drawn)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (done_)
            return false;
        const QEvent::Type type = event->type();
        if (type == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isWindow() && !painted_)
                painted_ = widget;
            return false;
        }
        if (inside_ || (type != QEvent::Expose && type != QEvent::UpdateRequest) ||
            !qobject_cast<QWindow*>(watched))
            return false;
        // Let Qt paint and flush now, then look whether a top-level widget was painted.
        inside_ = true;
        painted_ = nullptr;
        watched->event(event);
        inside_ = false;
        if (QWidget* widget = std::exchange(painted_, nullptr))
            done_ = drawn_(widget);
        return true;
    }

private:
    std::function<bool(QWidget*)> drawn_;
    QWidget* painted_ = nullptr;
    bool inside_ = false;
    bool done_ = false;
};

} // namespace velmar::bench
