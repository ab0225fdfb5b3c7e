#pragma once
// Clocks for tests. FakeClock never waits: it records each sleep and advances its
// own time, and can run a hook on each sleep. ScaledClock records the same way but
// really sleeps a fraction of each pause, for tests against a simulated module
// that runs in real time.
#include "platform/clock.h"

#include <functional>
#include <mutex>
#include <vector>

namespace testsupport {

class FakeClock : public platform::Clock {
public:
    void sleepMs(std::uint32_t ms) override;
    void yield() override;
    std::uint32_t tickMs() override;
    void beginPeriod(unsigned ms) override;
    void endPeriod(unsigned ms) override;

    // Sleeps in order.
    std::vector<std::uint32_t> sleeps() const;
    std::size_t sleepCount(std::uint32_t ms) const;
    std::uint64_t yields() const;
    std::vector<int> periods() const; // +ms begin, -ms end
    void clear();
    void advance(std::uint32_t ms);
    void onSleep(std::function<void(std::uint32_t)> hook) { hook_ = std::move(hook); }

protected:
    virtual void realWait(std::uint32_t) {}

private:
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> sleeps_;
    std::vector<int> periods_;
    std::uint64_t yields_ = 0;
    std::uint32_t now_ = 1000;
    std::function<void(std::uint32_t)> hook_;
};

class ScaledClock : public FakeClock {
public:
    // Each pause of ms milliseconds really waits ms * 1000 / divisor microseconds.
    explicit ScaledClock(unsigned divisor = 5) : divisor_(divisor) {}

protected:
    void realWait(std::uint32_t ms) override;

private:
    unsigned divisor_;
};

} // namespace testsupport
