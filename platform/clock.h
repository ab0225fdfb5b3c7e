#pragma once
// Sleeps, yields and the millisecond counter, behind one seam so that tests can
// replace them with a recording fake and assert pause sequences without waiting.
#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleepMs(std::uint32_t ms) = 0;
    virtual void yield() = 0;
    // 32-bit millisecond counter that wraps, like the multimedia timer.
    virtual std::uint32_t tickMs() = 0;
    virtual void beginPeriod(unsigned ms) { (void)ms; }
    virtual void endPeriod(unsigned ms) { (void)ms; }
};

// The monotonic system clock.
Clock& systemClock();

// The clock every program path uses. Thread-safe to read.
Clock& clock();
// Installs a replacement; nullptr restores the system clock.
void setClock(Clock* replacement);

class ScopedClock {
public:
    explicit ScopedClock(Clock& c) { setClock(&c); }
    ~ScopedClock() { setClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

inline void Sleep(std::uint32_t ms) { clock().sleepMs(ms); }
inline void SwitchToThread() { clock().yield(); }
inline std::uint32_t timeGetTime() { return clock().tickMs(); }

} // namespace platform
