#include "platform/toolkit/WindowTimer.h"

#include "platform/toolkit/Application.h"

#include <climits>

namespace velmar {

WindowTimer::WindowTimer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &WindowTimer::tick);
}

void WindowTimer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    restart();
}

void WindowTimer::setInterval(std::uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    restart();
}

void WindowTimer::restart() {
    timer_.stop();
    if (!enabled_ || interval_ == 0 || held_)
        return;
    // Qt's timers take an int; an interval beyond that (weeks) is as good as never.
    timer_.start(interval_ > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX
                                                                 : static_cast<int>(interval_));
}

void WindowTimer::holdTicks(bool hold) {
    held_ = hold;
    restart();
}

void WindowTimer::tick() {
    if (enabled_ && OnTimer)
        Guarded([this] { OnTimer(); });
}

} // namespace velmar
