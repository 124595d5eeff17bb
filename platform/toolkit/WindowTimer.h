#pragma once
// A window timer: while Enabled it calls OnTimer every Interval milliseconds; an Interval of 0
// never fires (the timer stays enabled). Enabled is also the flag that the timer's operation is
// in progress. Tag is free for the owner's use.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

namespace velmar {

class WindowTimer : public QObject {
    Q_OBJECT
public:
    explicit WindowTimer(QObject* parent = nullptr);

    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::uint32_t Interval() const { return interval_; }
    void setInterval(std::uint32_t ms);
    int Tag = 0;
    std::function<void()> OnTimer;

    // Runs one tick now, as if the interval had elapsed (tests and benchmarks).
    void tick();
    // While held, the timer keeps its Enabled state but only tick() makes it fire (tests that
    // step through a timeline without waiting for it).
    void holdTicks(bool hold);

private:
    void restart();

    QTimer timer_;
    bool enabled_ = false;
    bool held_ = false;
    std::uint32_t interval_ = 1000;
};

} // namespace velmar
