#include "devices/rs232.h"

#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using testsupport::SimPort;

namespace {

// Waits (bounded) until the program side of the terminal has n bytes queued.
bool waitPending(sim::SerialModule& m, int n)
{
    for (int i = 0; i < 2000; ++i) {
        if (m.pendingForProgram() >= n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// What the module received once it has taken all the program wrote.
std::string receivedSettled(sim::SerialModule& m)
{
    m.settle(false);
    return m.received();
}

// The clock moves on only as the module keeps up, so the echo limits run out only
// when the module really stays silent.
struct Rs232Test : ::testing::Test {
    SimPort port{7};
    testsupport::FakeClock clock;
    platform::ScopedClock useClock{clock};
    testsupport::ScopedFollow follow{clock, port.module()};
};

} // namespace

TEST_F(Rs232Test, OpensOnlyAtTheThreeRatesAndLeavesThePortFreeOtherwise)
{
    bool ok = true;
    CRS232 at4800(7, 4800, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(at4800.IsOpen());

    for (int rate : {1200, 9600, 19200}) {
        CRS232 p(7, rate, ok);
        EXPECT_TRUE(ok) << rate;
    }
}

TEST_F(Rs232Test, OpenIsExclusiveUntilTheHolderIsDeleted)
{
    // The terminal's exclusive flag keeps other programs out; root's opens below pass it.
    const int tty = ::open(port.module().devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(tty, 0);
    auto exclusive = [tty] {
        int on = -1;
        return ::ioctl(tty, TIOCGEXCL, &on) == 0 ? on : -1;
    };
    bool first = false, second = true;
    auto holder = std::make_unique<CRS232>(7, 9600, first);
    ASSERT_TRUE(first);
    EXPECT_EQ(exclusive(), 1);
    CRS232 other(7, 9600, second);
    EXPECT_FALSE(second);
    holder.reset();
    EXPECT_EQ(exclusive(), 0);
    ::close(tty);
    CRS232 again(7, 9600, second);
    EXPECT_TRUE(second);
}

TEST_F(Rs232Test, AFailedOpenYieldsAnObjectWhoseOperationsFail)
{
    bool ok = true;
    CRS232 missing(99, 9600, ok); // not in the map, and no /dev/ttyS98
    ASSERT_FALSE(ok);
    char buf[4] = {'x', 'x', 'x', 'x'};
    std::uint32_t got = 77;
    EXPECT_FALSE(missing.Write(2, "AB"));
    EXPECT_FALSE(missing.Read(got, 4, buf));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(missing.WriteEchoed(0, ""));
    clock.clear();
    EXPECT_FALSE(missing.WriteEchoed(2, "AB"));
    // The start pause, then the 100 polls of the first byte only.
    EXPECT_EQ(clock.sleepCount(5), 1u + 100u);
}

TEST_F(Rs232Test, ReadTakesOnlyWhatIsQueuedUpToTheMaximum)
{
    bool ok = false;
    CRS232 p(7, 9600, ok);
    ASSERT_TRUE(ok);
    char buf[512];
    std::uint32_t got = 99;
    EXPECT_TRUE(p.Read(got, 256, buf));
    EXPECT_EQ(got, 0u);

    std::string block(300, '\0');
    for (int i = 0; i < 300; ++i)
        block[i] = static_cast<char>(i); // NUL and bytes above 127 pass untouched
    port.module().send(block);
    ASSERT_TRUE(waitPending(port.module(), 300));
    EXPECT_TRUE(p.Read(got, 256, buf));
    ASSERT_EQ(got, 256u);
    EXPECT_EQ(std::string(buf, 256), block.substr(0, 256));
    EXPECT_EQ(port.module().pendingForProgram(), 44);
    EXPECT_TRUE(p.Read(got, 256, buf));
    EXPECT_EQ(std::string(buf, got), block.substr(256));
}

TEST_F(Rs232Test, EchoedWriteDiscardsOldInputAndConfirmsEachByte)
{
    bool ok = false;
    CRS232 p(7, 9600, ok);
    ASSERT_TRUE(ok);
    port.module().send("stale bytes");
    ASSERT_TRUE(waitPending(port.module(), 11));

    EXPECT_TRUE(p.WriteEchoed(7, "*IDN?\r\n"));
    EXPECT_EQ(port.module().lines(), std::vector<std::string>{"*IDN?"});
    // What is left is the answer only: the stale bytes and the echo are gone.
    std::string answer = std::string(sim::DefaultIdentification) + "\r\n";
    ASSERT_TRUE(waitPending(port.module(), static_cast<int>(answer.size())));
    char buf[256];
    std::uint32_t got = 0;
    ASSERT_TRUE(p.Read(got, sizeof buf, buf));
    EXPECT_EQ(std::string(buf, got), answer);
}

TEST_F(Rs232Test, EchoedWriteStopsAtTheFirstWrongOrMissingEcho)
{
    bool ok = false;
    CRS232 p(7, 9600, ok);
    ASSERT_TRUE(ok);

    sim::SerialFaults wrong;
    wrong.wrongEchoAt = 3;
    port.module().setFaults(wrong);
    EXPECT_FALSE(p.WriteEchoed(7, "*IDN?\r\n"));
    EXPECT_EQ(receivedSettled(port.module()), "*ID");

    port.module().clearRecord();
    sim::SerialFaults silent;
    silent.noEcho = true;
    port.module().setFaults(silent);
    clock.clear();
    EXPECT_FALSE(p.WriteEchoed(7, "*IDN?\r\n"));
    EXPECT_EQ(receivedSettled(port.module()), "*");
    EXPECT_EQ(clock.sleepCount(5), 1u + 100u);
}

TEST_F(Rs232Test, EchoedWriteOfNothingWritesNothing)
{
    bool ok = false;
    CRS232 p(7, 9600, ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(p.WriteEchoed(0, "x"));
    EXPECT_EQ(receivedSettled(port.module()), "");
}

TEST_F(Rs232Test, AWriteTheSystemFailsIsReportedAsFailure)
{
    bool ok = false;
    CRS232 p(7, 9600, ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(p.Write(2, "A\n"));
    port.module().stop(); // the adapter is unplugged
    EXPECT_FALSE(p.Write(2, "A\n"));
    EXPECT_FALSE(p.WriteEchoed(2, "A\n"));
}

TEST(Rs232Names, APlainFileIsNoPort)
{
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("notaport"), "");
    testsupport::writeFile(dir.file("map"), dir.file("notaport") + " COM4\n");
    testsupport::ScopedEnv env("VOLTDESK_SERIALCOMM", dir.file("map"));
    bool ok = true;
    CRS232 p(4, 9600, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(p.Write(1, "x"));
}

TEST(Rs232Names, TwoDigitPortsResolveThroughTheMapLikeOthers)
{
    SimPort port(12);
    bool ok = false;
    CRS232 p(12, 9600, ok);
    EXPECT_TRUE(ok);
}
