#include "clock.h"

#include <atomic>
#include <sys/prctl.h>
#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

class SystemClock final : public Clock {
public:
    void sleepMs(std::uint32_t ms) override
    {
        // A pause of 0 gives up the rest of the time slice; sleep_for(0) would return at once.
        if (ms == 0)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void yield() override { std::this_thread::yield(); }
    // A finer timer request shortens the calling thread's timer slack, so that 1 ms
    // pauses last 1 ms and not 1.05; its own slack comes back at the end.
    void beginPeriod(unsigned ms) override
    {
        if (ms <= 1 && savedSlack < 0) {
            savedSlack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
            (void)::prctl(PR_SET_TIMERSLACK, FineTimerSlackNs, 0, 0, 0);
        }
    }
    void endPeriod(unsigned ms) override
    {
        if (ms <= 1 && savedSlack > 0)
            (void)::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(savedSlack), 0, 0, 0);
        if (ms <= 1)
            savedSlack = -1;
    }
    std::uint32_t tickMs() override
    {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<std::uint32_t>(ms);
    }

private:
    static constexpr unsigned long FineTimerSlackNs = 1000;
    static thread_local int savedSlack;
};

thread_local int SystemClock::savedSlack = -1;

std::atomic<Clock*> current{nullptr};

} // namespace

LocalTime Clock::localNow()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

Clock& systemClock()
{
    static SystemClock c;
    return c;
}

Clock& clock()
{
    Clock* c = current.load(std::memory_order_acquire);
    return c ? *c : systemClock();
}

void setClock(Clock* replacement)
{
    current.store(replacement, std::memory_order_release);
}

} // namespace platform
