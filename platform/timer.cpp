#include "timer.h"

#include <QTimer>

namespace platform {
namespace {

class QtTimer : public Timer {
public:
    QtTimer()
    {
        // The default coarse timer may tick 5 % early and rounds long intervals to
        // whole seconds; a script's pauses must last as long as written.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }

protected:
    void update() override
    {
        if (Enabled() && Interval() > 0)
            timer_.start(Interval());
        else
            timer_.stop();
    }

private:
    QTimer timer_;
};

} // namespace

void Timer::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    update();
}

void Timer::setInterval(int ms)
{
    if (ms == interval_)
        return;
    interval_ = ms;
    update();
}

void Timer::tick()
{
    if (enabled_ && OnTimer)
        OnTimer();
}

std::unique_ptr<Timer> makeTimer()
{
    return std::make_unique<QtTimer>();
}

} // namespace platform
