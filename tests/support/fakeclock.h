#pragma once
// Clocks for tests. FakeClock never waits: it records each sleep and advances its
// own time, and can run a hook on each sleep. ScaledClock records the same way but
// really sleeps a fraction of each pause.
//
// Against a simulated module on a thread of its own, a FakeClock follows the
// module's progress rather than real time: given the module (follow), every pause
// first lets the module take what the program wrote, then moves the time on and
// lets the module do what has come due, and every yield lets the module take what
// the program wrote. A limit the program counts on this clock thus runs out only
// when the module has nothing more to say, however loaded the machine is.
#include "platform/clock.h"
#include "sim/serialmodule.h"

#include <atomic>
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
    // The module the program waits on; nullptr for none.
    void follow(sim::SerialModule* module);

protected:
    virtual void realWait(std::uint32_t) {}

private:
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> sleeps_;
    std::vector<int> periods_;
    std::uint64_t yields_ = 0;
    std::uint32_t now_ = 1000;
    std::function<void(std::uint32_t)> hook_;
    std::atomic<sim::SerialModule*> module_{nullptr};
};

// Makes a FakeClock follow a module for a scope.
class ScopedFollow {
public:
    ScopedFollow(FakeClock& clock, sim::SerialModule& module) : clock_(clock) { clock_.follow(&module); }
    ~ScopedFollow() { clock_.follow(nullptr); }
    ScopedFollow(const ScopedFollow&) = delete;
    ScopedFollow& operator=(const ScopedFollow&) = delete;

private:
    FakeClock& clock_;
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
