#pragma once
// A socket timer that ticks only when the test says so, so that pauses of hundreds of
// milliseconds are asserted as intervals and stepped at once.
#include "platform/timer.h"

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

protected:
    void update() override {}
};

} // namespace testsupport
