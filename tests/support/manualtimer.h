#pragma once
// A socket timer that ticks only when the test says so, so that pauses of hundreds of
// milliseconds are asserted as intervals and stepped at once.
#include "platform/timer.h"

#include <vector>

namespace testsupport {

class ManualTimer : public platform::Timer {
public:
    // One tick, as the event loop would give it once the interval has passed; false
    // (and no tick) while the timer is off or its interval can never pass.
    bool fire()
    {
        if (!Enabled() || Interval() <= 0)
            return false;
        tick();
        return true;
    }

    // The interval of every wait begun, a restart included, in order: what the event
    // loop would have been asked to wait.
    std::vector<int> waits;

protected:
    void update() override
    {
        if (Enabled() && Interval() > 0)
            waits.push_back(Interval());
    }
};

} // namespace testsupport
