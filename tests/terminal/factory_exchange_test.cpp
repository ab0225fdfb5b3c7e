// The factory query and the setting sequences on the COM link, against the simulated
// module on a pseudo-terminal. Where a count of polls is the point, the test writes
// the module's bytes itself from the poll's pause, so the module cannot race the count.
#include "terminal/factoryexchange.h"

#include "devices/rs232.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace terminal;

namespace {

constexpr int Com = 7;

struct FactoryExchangeTest : ::testing::Test {
    testsupport::SimPort sim{Com};
    testsupport::ScaledClock clock{2};
    platform::ScopedClock useClock{clock};
    std::unique_ptr<CRS232> port;
    int polls = 0; // 10 ms pauses so far

    void SetUp() override
    {
        clock.onSleep([this](std::uint32_t) { sim.settle(); });
        bool ok = false;
        port = std::make_unique<CRS232>(Com, 9600, ok);
        ASSERT_TRUE(ok);
    }

    // The module obeys but never answers; the test plays its answer with put().
    void silence()
    {
        sim::SerialFaults f;
        f.noAnswer = true;
        sim.module().setFaults(f);
    }

    // Bytes from the module, waiting for the program before this returns.
    void put(const std::string& bytes)
    {
        const int before = sim.module().pendingForProgram();
        sim.module().send(bytes);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sim.module().pendingForProgram() < before + static_cast<int>(bytes.size()) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    // Runs action(n) at the end of the n-th answer poll (1-based).
    void onPoll(std::function<void(int)> action)
    {
        clock.onSleep([this, action](std::uint32_t ms) {
            sim.settle();
            if (ms == 10)
                action(++polls);
        });
    }

    FactoryAnswer query()
    {
        clock.clear();
        return FactoryQueryExchange(port.get());
    }
};

} // namespace

TEST_F(FactoryExchangeTest, TheCombinedQueryReadsTheModulesSettings)
{
    sim.commands().setValue(":CONF:ARC:RAMP", "5E+06");
    FactoryAnswer a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, "1;3;0.5;0.01;5E+06;0");
    EXPECT_EQ(sim.module().lines(), std::vector<std::string>{":CONF:ARC:CONT?;NUM?;TIME?;WAIT?;RAMP?;:SYS:KAVO:ISET?"});
    EXPECT_EQ(sim.module().received(), ":CONF:ARC:CONT?;NUM?;TIME?;WAIT?;RAMP?;:SYS:KAVO:ISET?\r\n");
    // Reading starts at once, and stops at the poll that brought CR LF.
    EXPECT_LT(clock.sleepCount(10), 50u);

    // Text after the CR LF is cut off.
    sim::SerialFaults raw;
    raw.useRawReply = true;
    raw.rawReply = "0;1;2;3;4;5\r\nNEXT\r\n";
    sim.module().setFaults(raw);
    a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, "0;1;2;3;4;5");
}

TEST_F(FactoryExchangeTest, ASilentModuleGetsFiftyPolls)
{
    silence();
    FactoryAnswer a = query();
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(a.text, "");
    EXPECT_EQ(clock.sleepCount(10), 50u);
}

TEST_F(FactoryExchangeTest, ArrivingDataDoesNotRestartTheCount)
{
    silence();
    onPoll([this](int) { put("x"); }); // a byte every poll, never CR LF
    FactoryAnswer a = query();
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(a.text, "");
    EXPECT_EQ(clock.sleepCount(10), 50u);
}

TEST_F(FactoryExchangeTest, CrLfReadInTheFiftiethPollStillCounts)
{
    silence();
    onPoll([this](int n) {
        if (n == 49)
            put("1;2;3;4;5;6\r\n");
    });
    FactoryAnswer a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, "1;2;3;4;5;6");
    EXPECT_EQ(clock.sleepCount(10), 50u);

    // One poll later it is too late: the text is dropped.
    polls = 0;
    onPoll([this](int n) {
        if (n == 50)
            put("1;2;3;4;5;6\r\n");
    });
    a = query();
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(a.text, "");
    EXPECT_EQ(clock.sleepCount(10), 50u);
}

TEST_F(FactoryExchangeTest, AnAnswerSplitOverManyPollsIsJoined)
{
    silence();
    const std::string answer = "1;42;0.002;0.2;200000;1\r\n";
    onPoll([this, answer](int n) {
        if (n <= static_cast<int>(answer.size()))
            put(answer.substr(static_cast<std::size_t>(n - 1), 1));
    });
    FactoryAnswer a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, "1;42;0.002;0.2;200000;1");
    EXPECT_EQ(clock.sleepCount(10), answer.size() + 1); // the last byte is read one poll later
}

TEST_F(FactoryExchangeTest, OverlongAndOddAnswersStayWithinTheBuffer)
{
    sim::SerialFaults raw;
    raw.useRawReply = true;

    // 300 bytes without CR LF: the poll count ends it.
    raw.rawReply = std::string(300, '7');
    sim.module().setFaults(raw);
    FactoryAnswer a = query();
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(clock.sleepCount(10), 50u);

    // 300 bytes and then CR LF: the line end no longer fits the 255 characters.
    raw.rawReply = std::string(300, '7') + "\r\n";
    sim.module().setFaults(raw);
    a = query();
    EXPECT_FALSE(a.complete);

    // 250 bytes and CR LF fit.
    raw.rawReply = std::string(250, '7') + "\r\n";
    sim.module().setFaults(raw);
    a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, std::string(250, '7'));

    // NUL bytes do not hide the CR LF after them.
    raw.rawReply = std::string("1;\0" "2;3\r\n", 8);
    sim.module().setFaults(raw);
    a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, std::string("1;\0" "2;3", 6));

    // An empty line is a complete, empty answer.
    raw.rawReply = "\r\n";
    sim.module().setFaults(raw);
    a = query();
    EXPECT_TRUE(a.complete);
    EXPECT_EQ(a.text, "");
}

TEST_F(FactoryExchangeTest, SettingsGoOutWithTheirPauses)
{
    // What the module had received when each pause began.
    std::vector<std::pair<std::uint32_t, std::string>> atPause;
    clock.onSleep([&](std::uint32_t ms) {
        sim.settle();
        if (ms >= 100)
            atPause.emplace_back(ms, sim.module().received());
    });
    SendFactoryCommands(port.get(), DateOkCommands({2031, 2, 3, 4, 5, 6}).commands);
    const std::string date = "*DATE,31-02-03\r\n";
    const std::string time = date + "*TIME,04:05:06\r\n";
    const std::string reset = time + ":SYS:KAVO:FACTORYRESET 1\r\n";
    EXPECT_EQ(atPause, (std::vector<std::pair<std::uint32_t, std::string>>{{100, date}, {100, time}, {300, reset}}));
    EXPECT_EQ(sim.module().received(), reset + ":CONF:INTER LOCAL\r\n");
    // The module keeps what was set.
    EXPECT_EQ(sim.commands().value("*DATE"), "31-02-03");
    EXPECT_EQ(sim.commands().value("*TIME"), "04:05:06");
    EXPECT_EQ(sim.commands().value("FACTORYRESET COUNT"), "1");
    EXPECT_EQ(sim.commands().value(":CONF:INTER"), "LOCAL");
}

TEST_F(FactoryExchangeTest, AnEchoFailureCutsOnlyItsOwnLine)
{
    sim::SerialFaults f;
    f.wrongEchoAt = 3;
    sim.module().setFaults(f);
    clock.clear();
    SendFactoryCommands(port.get(), LumetraOkCommands(true).commands);
    // The first line stops after its third byte; the pause still follows, and the
    // next line goes out whole.
    EXPECT_EQ(sim.module().received(), ":SY:CONF:INTER LOCAL\r\n");
    EXPECT_EQ(clock.sleepCount(100), 1u);

    // No port: nothing sent, and the query gives up at once.
    clock.clear();
    FactoryAnswer a = FactoryQueryExchange(nullptr);
    EXPECT_FALSE(a.complete);
    EXPECT_EQ(clock.sleepCount(10), 0u);
}
