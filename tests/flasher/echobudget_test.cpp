// The echo waits counted in polls. This program links a stand-in for the serial layer
// in place of the real one: it echoes each byte written at a set poll after the
// write, so whether an echo is in time depends on the count, not on the machine.
#include "flasher/serialio.h"
#include "tests/support/fakeclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

namespace {

struct StandInPort {
    long lag = 0; // the echo of a byte is readable from the lag-th poll after its write
    long polls = 0;
    std::deque<std::pair<long, char>> coming;
    std::string queued;
} port;

} // namespace

namespace platform::serial {

Handle openExclusive(const std::string&) { return InvalidHandle; }
bool configureRaw(Handle, int) { return true; }
bool setSpeed(Handle, int) { return true; }
void requestLowLatency(Handle) {}
bool hungUp(Handle) { return false; }

bool writeAll(Handle, const void* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        port.coming.emplace_back(port.polls + port.lag, static_cast<const char*>(bytes)[i]);
    return true;
}

int queuedBytes(Handle)
{
    ++port.polls;
    for (; !port.coming.empty() && port.coming.front().first <= port.polls; port.coming.pop_front())
        port.queued += port.coming.front().second;
    return static_cast<int>(port.queued.size());
}

long readSome(Handle, void* buffer, std::size_t n)
{
    n = std::min(n, port.queued.size());
    std::memcpy(buffer, port.queued.data(), n);
    port.queued.erase(0, n);
    return static_cast<long>(n);
}

} // namespace platform::serial

using namespace burnport;

struct PollCount : ::testing::Test {
    testsupport::FakeClock clock; // counts the per-character form's yields
    platform::ScopedClock use{clock};
    PollCount()
    {
        port = {};
        MinCount = 500000;
    }
    ~PollCount() override { FastMode = false; }
};

TEST_F(PollCount, AnEchoUpToTheLastPollOfTheBudgetIsTaken)
{
    port.lag = 1000000;
    EXPECT_TRUE(sendEchoed(5, "AB"));
    EXPECT_EQ(clock.yields(), 2000000u);

    FastMode = true;
    port.lag = 1; // the whole echo came while the line was written
    EXPECT_TRUE(sendRecord(5, "S9030000FC\r\n"));
    EXPECT_EQ(MinCount, 500000);
    EXPECT_TRUE(sendRecord(5, std::string(255, 'S'))); // the longest line the echo buffer holds
    EXPECT_FALSE(sendRecord(5, std::string(256, 'S')));
    // The burst form: the write's own poll, then the 500,000 of the budget.
    port.lag = 500001;
    EXPECT_TRUE(sendRecord(5, "S9030000FC\r\n"));
    EXPECT_EQ(MinCount, 0);

    port.lag = 500002;
    port.polls = 0;
    EXPECT_FALSE(sendRecord(5, "S9030000FC\r\n"));
    EXPECT_EQ(port.polls, 1 + 12 + 500000); // the drain, one per byte written, the budget
}
