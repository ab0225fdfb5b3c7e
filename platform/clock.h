#pragma once
// Sleeps, yields and the millisecond counter, behind one seam so that tests can
// replace them with a recording fake and assert pause sequences without waiting.
#include <cstdint>

namespace platform {

// The PC's calendar date and local time of day.
struct LocalTime {
    int year = 0;   // e.g. 2024
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;   // 0 to 23
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleepMs(std::uint32_t ms) = 0;
    virtual void yield() = 0;
    // 32-bit millisecond counter that wraps, like the multimedia timer.
    virtual std::uint32_t tickMs() = 0;
    virtual void beginPeriod(unsigned ms) { (void)ms; }
    virtual void endPeriod(unsigned ms) { (void)ms; }
    virtual LocalTime localNow();
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
inline LocalTime Now() { return clock().localNow(); }

} // namespace platform
