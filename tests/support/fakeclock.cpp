#include "fakeclock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace testsupport {

void FakeClock::sleepMs(std::uint32_t ms)
{
    sim::SerialModule* module = module_.load();
    if (module)
        module->settle(false);
    {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(ms);
        now_ += ms;
    }
    realWait(ms);
    if (hook_)
        hook_(ms);
    if (module)
        module->settle(true);
}

void FakeClock::yield()
{
    {
        std::lock_guard lock(mutex_);
        ++yields_;
    }
    if (sim::SerialModule* module = module_.load())
        module->settle(false);
}

void FakeClock::follow(sim::SerialModule* module)
{
    module_.store(module);
}

std::uint32_t FakeClock::tickMs()
{
    std::lock_guard lock(mutex_);
    return now_;
}

void FakeClock::beginPeriod(unsigned ms)
{
    std::lock_guard lock(mutex_);
    periods_.push_back(static_cast<int>(ms));
}

void FakeClock::endPeriod(unsigned ms)
{
    std::lock_guard lock(mutex_);
    periods_.push_back(-static_cast<int>(ms));
}

std::vector<std::uint32_t> FakeClock::sleeps() const
{
    std::lock_guard lock(mutex_);
    return sleeps_;
}

std::size_t FakeClock::sleepCount(std::uint32_t ms) const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(sleeps_.begin(), sleeps_.end(), ms));
}

std::uint64_t FakeClock::yields() const
{
    std::lock_guard lock(mutex_);
    return yields_;
}

std::vector<int> FakeClock::periods() const
{
    std::lock_guard lock(mutex_);
    return periods_;
}

void FakeClock::clear()
{
    std::lock_guard lock(mutex_);
    sleeps_.clear();
    periods_.clear();
    yields_ = 0;
}

void FakeClock::advance(std::uint32_t ms)
{
    std::lock_guard lock(mutex_);
    now_ += ms;
}

void ScaledClock::realWait(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000ull / divisor_));
}

} // namespace testsupport
