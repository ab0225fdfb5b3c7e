#pragma once
// The class library's timer: Enabled, Interval in milliseconds and a tick event. It
// ticks once per interval while enabled; an interval of 0 or below never ticks, so it
// cannot spin.
#include <functional>
#include <memory>

namespace platform {

class Timer {
public:
    virtual ~Timer() = default;

    bool Enabled() const { return enabled_; }
    // Enabling a timer that runs already does not restart it.
    void setEnabled(bool on);
    int Interval() const { return interval_; }
    // A new interval restarts a timer that runs.
    void setInterval(int ms);

    std::function<void()> OnTimer;

protected:
    // Enabled or Interval changed: run or stop accordingly.
    virtual void update() = 0;
    // One tick, if the timer is still enabled.
    void tick();

private:
    bool enabled_ = false;
    int interval_ = 1000;
};

// A timer on the calling thread's event loop.
std::unique_ptr<Timer> makeTimer();

} // namespace platform
