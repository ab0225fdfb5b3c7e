#include "clock.h"

#include <atomic>
#include <chrono>
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
    std::uint32_t tickMs() override
    {
        using namespace std::chrono;
        auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
        return static_cast<std::uint32_t>(ms);
    }
};

std::atomic<Clock*> current{nullptr};

} // namespace

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
