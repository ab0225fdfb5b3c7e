#include "flasher/serialio.h"

#include "platform/serialmap.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace burnport;

namespace {

// A bare pseudo-terminal registered as COM8: the test plays the module by hand.
class RawPty {
public:
    RawPty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) || ::unlockpt(master_) || ::ptsname_r(master_, name, sizeof name))
            throw std::runtime_error("no pseudo-terminal");
        map_ = dir_.file("serialcomm");
        env_ = std::make_unique<testsupport::ScopedEnv>("VOLTDESK_SERIALCOMM", map_);
        platform::appendSerialMapEntry(map_, {name, "COM8"});
        // Also under the longest name taken and one character more.
        for (std::size_t n : {251, 252})
            platform::appendSerialMapEntry(map_, {name, std::string(n, 'L')});
    }
    ~RawPty() { ::close(master_); }

    void put(const std::string& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    // What the program wrote, after a short settle.
    std::string taken()
    {
        std::string out;
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
                return out;
            char buf[256];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                return out;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }
    void hangUp() { ::close(master_); master_ = -1; }

private:
    testsupport::TempDir dir_;
    std::string map_;
    std::unique_ptr<testsupport::ScopedEnv> env_;
    int master_ = -1;
};

// Bytes the master wrote reach the slave's queue shortly after.
bool waitQueued(Handle h, int n)
{
    for (int i = 0; i < 1000; ++i) {
        if (platform::serial::queuedBytes(h) >= n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

struct RawPortTest : ::testing::Test {
    RawPty pty;
    Handle h = openPort("COM8");
    void SetUp() override { ASSERT_NE(h, -1); }
    void TearDown() override { platform::serial::closePort(h); }
};

} // namespace

TEST_F(RawPortTest, ReadAvailableTakesWhatIsQueuedAndLeavesTheRest)
{
    char buf[16];
    std::uint32_t got = 99;
    EXPECT_TRUE(readAvailable(h, got, sizeof buf, buf));
    EXPECT_EQ(got, 0u);

    pty.put("ABCDEF");
    ASSERT_TRUE(waitQueued(h, 6));
    EXPECT_TRUE(readAvailable(h, got, 4, buf));
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "ABCD");
    EXPECT_TRUE(readAvailable(h, got, sizeof buf, buf));
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "EF");
}

TEST_F(RawPortTest, ReadExactIsAllOrNothing)
{
    char buf[120];
    std::uint32_t got = 7;
    pty.put("82\r");
    ASSERT_TRUE(waitQueued(h, 3));
    EXPECT_TRUE(readExact(h, 4, got, sizeof buf, buf));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(platform::serial::queuedBytes(h), 3);

    pty.put("\n85\r\n");
    ASSERT_TRUE(waitQueued(h, 8));
    EXPECT_TRUE(readExact(h, 4, got, sizeof buf, buf));
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "82\r\n");

    got = 7;
    EXPECT_FALSE(readExact(h, 0, got, sizeof buf, buf));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(readExact(h, 5, got, 4, buf));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(platform::serial::queuedBytes(h), 4); // nothing taken by the refused calls
}

TEST_F(RawPortTest, FlushInputEmptiesTheQueue)
{
    pty.put(std::string(300, 'x'));
    ASSERT_TRUE(waitQueued(h, 300));
    flushInput(h);
    EXPECT_EQ(platform::serial::queuedBytes(h), 0);
}

TEST_F(RawPortTest, WriteBytesSendsAndSpeedsAreSet)
{
    EXPECT_TRUE(writeBytes(h, 3, "abc"));
    EXPECT_EQ(pty.taken(), "abc");
    EXPECT_TRUE(setBaudRate(h, 9600));
    EXPECT_TRUE(setBaudRate(h, 57600));
    EXPECT_TRUE(setBaudRate(h, 115200));
    EXPECT_FALSE(setBaudRate(h, 12345));
}

TEST_F(RawPortTest, AVanishedPortFailsTheReads)
{
    pty.hangUp();
    char buf[8];
    std::uint32_t got = 5;
    EXPECT_FALSE(readAvailable(h, got, sizeof buf, buf));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(readExact(h, 4, got, sizeof buf, buf));
    EXPECT_FALSE(sendEchoed(h, "X")); // at once, not after a million polls
}

TEST_F(RawPortTest, NamesOfUpTo251CharactersAreOpened)
{
    platform::serial::closePort(h);
    EXPECT_EQ(openPort(std::string(252, 'L')), -1);
    h = openPort(std::string(251, 'L'));
    EXPECT_NE(h, -1);
}

TEST_F(RawPortTest, ThePortIsHeldExclusively)
{
    EXPECT_EQ(openPort("COM8"), -1);
}

TEST(SerialRoutines, MissingHandlesFailWithoutASystemCall)
{
    char buf[4];
    for (Handle h : {Handle{0}, Handle{-1}}) {
        std::uint32_t got = 3;
        EXPECT_FALSE(writeBytes(h, 1, "x"));
        EXPECT_FALSE(setBaudRate(h, 9600));
        EXPECT_FALSE(readAvailable(h, got, 4, buf));
        EXPECT_EQ(got, 0u);
        got = 3;
        EXPECT_FALSE(readExact(h, 4, got, 4, buf));
        EXPECT_EQ(got, 0u);
    }
}

namespace {

struct EchoTest : ::testing::Test {
    testsupport::SimPort port{9};
    testsupport::FakeClock clock;
    platform::ScopedClock use{clock};
    testsupport::ScopedFollow follow{clock, port.module()};
    Handle h = openPort("COM9");
    EchoTest() { FastMode = false; MinCount = 500000; }
    ~EchoTest() override
    {
        platform::serial::closePort(h);
        FastMode = false;
    }
    // What the module received once it has taken all the program wrote.
    std::string receivedSettled()
    {
        port.module().settle(false);
        return port.module().received();
    }
};

} // namespace

TEST_F(EchoTest, EchoedTextGoesOutCharacterByCharacter)
{
    ASSERT_NE(h, -1);
    EXPECT_TRUE(sendEchoed(h, "*IDN?\r\n"));
    EXPECT_EQ(receivedSettled(), "*IDN?\r\n");
    EXPECT_GE(clock.yields(), 7u); // each echo poll hands over the processor
}

TEST_F(EchoTest, EmptyTextDrainsInputAndWritesNothing)
{
    ASSERT_TRUE(sendEchoed(h, "*IDN?\r\n")); // leaves the answer queued
    port.module().settle(false);
    ASSERT_GT(platform::serial::queuedBytes(h), 0);
    EXPECT_TRUE(sendEchoed(h, ""));
    EXPECT_EQ(platform::serial::queuedBytes(h), 0);
    EXPECT_EQ(receivedSettled(), "*IDN?\r\n");
}

TEST_F(EchoTest, AWrongEchoStopsTheTextAtThatCharacter)
{
    sim::SerialFaults f;
    f.wrongEchoAt = 3;
    port.module().setFaults(f);
    EXPECT_FALSE(sendEchoed(h, "ABCDEF\r\n"));
    EXPECT_EQ(receivedSettled(), "ABC");
}

TEST_F(EchoTest, NoEchoFailsAfterTheFullBudgetForTheFirstCharacter)
{
    sim::SerialFaults f;
    f.noEcho = true;
    port.module().setFaults(f);
    EXPECT_FALSE(sendEchoed(h, "AB"));
    EXPECT_EQ(clock.yields(), 1000000u);
    EXPECT_EQ(receivedSettled(), "A");
}

TEST_F(EchoTest, WithoutFastModeARecordIsSentLikeAnyText)
{
    EXPECT_TRUE(sendRecord(h, "S1130000\r\n"));
    EXPECT_EQ(MinCount, 500000);
    EXPECT_TRUE(clock.sleeps().empty()); // the burst form's 1 ms pause is not taken
    EXPECT_GE(clock.yields(), 10u);
}

TEST_F(EchoTest, BurstFormWritesTheWholeLineThenChecksTheEcho)
{
    FastMode = true;
    EXPECT_TRUE(sendRecord(h, "S1130000\r\n"));
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{1});
    EXPECT_EQ(clock.yields(), 0u);
    EXPECT_EQ(receivedSettled(), "S1130000\r\n");
}

TEST_F(EchoTest, BurstFormFailsOnAWrongOrMissingEchoAndKeepsMinCount)
{
    FastMode = true;
    sim::SerialFaults f;
    f.wrongEchoAt = 4;
    port.module().setFaults(f);
    EXPECT_FALSE(sendRecord(h, "S1130000\r\n"));
    EXPECT_EQ(MinCount, 500000);
    EXPECT_EQ(receivedSettled(), "S1130000\r\n"); // the whole line went out

    port.module().clearRecord();
    f = {};
    f.noEcho = true;
    port.module().setFaults(f);
    EXPECT_FALSE(sendRecord(h, "S9030000FC\r\n"));
    EXPECT_EQ(MinCount, 500000);
    EXPECT_EQ(receivedSettled(), "S9030000FC\r\n");
}
