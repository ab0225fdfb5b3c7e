// The body of a script run, on a thread of its own as in the worker, against the
// simulated module on a pseudo-terminal and the simulated GPIB driver. No Qt: these
// run under ThreadSanitizer too.
#include "scripts/script.h"
#include "scripts/scriptrun.h"

#include "devices/gpib_testing.h"
#include "platform/errors.h"
#include "link/gpibexchange.h"
#include "link/rs232exchange.h"
#include "tests/support/commalocale.h"
#include "tests/support/fakeclock.h"
#include "tests/support/gpibsimlib.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numeric>
#include <regex>
#include <thread>

using scripts::RunEnd;
using links::LinkKind;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

namespace {

using namespace std::chrono_literals;

const std::string Id = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07";

// The window's side of a run: keeps the lines shown, in order.
class RecordingSink : public scripts::LogSink {
public:
    // Runs on the worker thread after each line is kept.
    std::function<void(const Lines&)> onLine;

    void UpdateLog(const std::string& message) override
    {
        if (message.empty())
            return;
        Lines now;
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(message);
            now = lines_;
        }
        changed_.notify_all();
        if (onLine)
            onLine(now);
    }
    void ClearLog() override
    {
        std::lock_guard lock(mutex_);
        lines_.clear();
        ++clears_;
    }
    Lines lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int clears() const
    {
        std::lock_guard lock(mutex_);
        return clears_;
    }
    // Waits (bounded) until at least n lines are there.
    bool waitForLines(std::size_t n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return lines_.size() >= n; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Lines lines_;
    int clears_ = 0;
};

// Records every pause and really waits it.
class RecordingClock : public testsupport::FakeClock {
protected:
    void realWait(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

std::size_t count(const Lines& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// The pauses in order; a run of three or more equal pauses is written "msxN":
// "30 5x9 10" is 30 ms, nine of 5 ms, then 10 ms.
std::string pausesOf(const std::vector<std::uint32_t>& sleeps)
{
    std::string out;
    for (std::size_t i = 0; i < sleeps.size();) {
        std::size_t n = 1;
        while (i + n < sleeps.size() && sleeps[i + n] == sleeps[i])
            ++n;
        const std::string one = std::to_string(sleeps[i]);
        for (std::size_t k = 0; k < (n >= 3 ? 1 : n); ++k) {
            out += out.empty() ? "" : " ";
            out += one;
        }
        if (n >= 3) {
            out += 'x';
            out += std::to_string(n);
        }
        i += n;
    }
    return out;
}

// Stops the run once the sink holds n lines (the line under way is the last).
std::function<void(const Lines&)> stopAfter(std::size_t n)
{
    return [n](const Lines& lines) {
        if (lines.size() == n)
            StopScript = true;
    };
}

struct ScriptRunTest : ::testing::Test {
    testsupport::TempDir dir;
    testsupport::SimPort port{7};
    links::Link link;
    RecordingSink sink;
    std::atomic<bool> hurry{false};
    scripts::RunSettings settings;
    RunEnd end = RunEnd::NotLoaded;
    std::thread worker;

    void SetUp() override
    {
        StopScript = false;
        settings.fileName = dir.file("script.txt");
        settings.link = LinkKind::Rs232;
    }
    void TearDown() override
    {
        StopScript = true;
        hurry = true;
        if (worker.joinable())
            worker.join();
        StopScript = false;
    }

    void openPort()
    {
        bool ok = false;
        link.setPort(std::make_unique<CRS232>(7, 9600, ok));
        ASSERT_TRUE(ok);
    }
    void script(const std::string& text) { testsupport::writeFile(settings.fileName, text); }
    // At the first pause for which due holds, the run is told to finish, as the window does.
    void finishAtPause(testsupport::FakeClock& clock, std::function<bool(std::uint32_t)> due)
    {
        clock.onSleep([this, due](std::uint32_t ms) {
            if (due(ms))
                hurry = StopScript = true;
        });
    }
    void start()
    {
        worker = std::thread([this] { end = scripts::ExecuteScript(settings, link, sink, hurry); });
    }
    Lines finish()
    {
        worker.join();
        return sink.lines();
    }
    Lines run()
    {
        start();
        return finish();
    }
    void expectStatistics(const Lines& lines, const std::string& sent, const std::string& received)
    {
        ASSERT_GE(lines.size(), 2u);
        const std::string& first = lines[lines.size() - 2];
        EXPECT_TRUE(std::regex_match(first, std::regex(sent + " send in [0-9]+\\.[0-9] seconds\\."))) << first;
        EXPECT_EQ(lines.back(), received);
    }
};

} // namespace

TEST_F(ScriptRunTest, AOneLineSentScriptRepeatsUntilStoppedAndCountsEveryLine)
{
    openPort();
    link.setCommandDelay(10);
    script("*IDN?\n");
    start();
    ASSERT_TRUE(sink.waitForLines(3));
    StopScript = true;
    const Lines lines = finish();
    EXPECT_EQ(end, RunEnd::Statistics);
    ASSERT_GE(lines.size(), 5u);
    const std::size_t sent = lines.size() - 2;
    EXPECT_EQ(count(lines, "*IDN? sent."), sent);
    expectStatistics(lines, std::to_string(sent) + " commands \\(" + std::to_string(5 * sent) + " bytes\\)",
                     "0 answers (0 bytes) received.");
    EXPECT_EQ(port.module().lines(), Lines(sent, "*IDN?"));
}

TEST_F(ScriptRunTest, PassingLinesRunUntilStoppedAndCountEveryPass)
{
    openPort();
    script("*IDN?\tHVSIM,.*\nVOLT 7\nVOLT?\t7\n// comment\nCURR?\t0\nOUTP?\tOFF\n");
    sink.onLine = stopAfter(10);
    const Lines lines = run();
    const Lines pass = {"*IDN? passed: '" + Id + "'", "VOLT 7 sent.", "VOLT? passed: '7'", "CURR? passed: '0'",
                        "OUTP? passed: 'OFF'"};
    ASSERT_EQ(lines.size(), 12u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(lines[i], pass[i % 5]);
    expectStatistics(lines, "10 commands \\(52 bytes\\)", "8 answers (96 bytes) received.");
}

TEST_F(ScriptRunTest, AStopLineEndsTheRunWithItsStatistics)
{
    openPort();
    script("*IDN?\t.*\nSTOP\nVOLT 1\n");
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "*IDN? passed: '" + Id + "'");
    EXPECT_EQ(lines[1], "Stopping Script");
    expectStatistics(lines, "1 commands \\(5 bytes\\)", "1 answers (43 bytes) received.");
    EXPECT_TRUE(StopScript);
    EXPECT_EQ(port.module().lines(), Lines{"*IDN?"});
}

TEST_F(ScriptRunTest, AFailedCheckOnTheThirdLineOfTheSecondPassEndsTheRun)
{
    openPort();
    script("*IDN?\t.*\nCURR?\t0\nVOLT?\t0\nVOLT 5\n");
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[3], "VOLT 5 sent.");
    EXPECT_EQ(lines[4], "*IDN? passed: '" + Id + "'");
    EXPECT_EQ(lines[5], "CURR? passed: '0'");
    EXPECT_EQ(lines[6], "VOLT? failed: '5'");
    // The failed line counts among the answers, not among the commands.
    expectStatistics(lines, "6 commands \\(36 bytes\\)", "6 answers (90 bytes) received.");
    EXPECT_EQ(scripts::LogLineColour(lines[6]), 255u);
}

// Every pause of a line, whole: the delay before it, the echo check of the port (5 ms
// before the line and one for each byte), the 10 ms after a line only sent, the 10 ms
// answer polls and the delay after the read. Nothing follows a STOP's delay or a
// failed line.
TEST_F(ScriptRunTest, EachLineKeepsItsPauseScheduleOnRs232)
{
    openPort();
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    testsupport::ScopedFollow follow(clock, port.module());
    sim::SerialFaults none, ack, silent, lfOnly, nul;
    ack.prefix = "ACK\r\n";
    silent.noAnswer = true;
    lfOnly.useRawReply = true;
    lfOnly.rawReply = "7\n";
    nul.useRawReply = true;
    nul.rawReply = "7\0X\r\n"s;
    const std::string v255(255, 'V');
    struct Case {
        const char* what;
        std::int32_t delay;
        bool rvx;
        sim::SerialFaults faults;
        std::string script;
        std::string pauses;
        Lines wire; // the command lines the module received
        Lines log;
    };
    const Case cases[] = {
        {"sent, answered, SLEEP, STOP", 30, false, none, "VOLT 7\nVOLT?\t7\nSLEEP 250\nSTOP\n",
         "30 5x9 10 30 5x8 10 30 30 100 100 50 30", {"VOLT 7", "VOLT?"},
         {"VOLT 7 sent.", "VOLT? passed: '7'", "Stopping Script", "2 commands (11 bytes) send in 0.5 seconds.",
          "1 answers (1 bytes) received."}},
        {"RVX: one more poll for the line after the acknowledgement", 20, true, ack, "VOLT?\t7\nSTOP\n",
         "20 5x8 10 10 20 20", {"VOLT?"},
         {"VOLT? passed: '7'", "Stopping Script", "1 commands (5 bytes) send in 0.1 seconds.",
          "1 answers (1 bytes) received."}},
        {"no answer: 100 polls, then the failed line ends the run", 30, false, silent, "VOLT?\t7\nSTOP\n",
         "30 5x8 10x100 30", {"VOLT?"},
         {"VOLT? failed: ''", "0 commands (5 bytes) send in 1.1 seconds.", "1 answers (0 bytes) received."}},
        {"an answer ending in LF alone is read for 100 polls and kept whole", 30, false, lfOnly,
         "VOLT?\t7\\s\nSTOP\n", "30 5x8 10x100 30 30", {"VOLT?"},
         {"VOLT? passed: '7\n'", "Stopping Script", "1 commands (5 bytes) send in 1.1 seconds.",
          "1 answers (2 bytes) received."}},
        {"the answer ends at a NUL", 30, false, nul, "VOLT?\t7\nSTOP\n", "30 5x8 10 30 30", {"VOLT?"},
         {"VOLT? passed: '7'", "Stopping Script", "1 commands (5 bytes) send in 0.1 seconds.",
          "1 answers (1 bytes) received."}},
        {"keywords are whole texts; a full line goes out cut to 253", 0, false, none,
         "STOPX\nsleep 5\nSDC 12\n" + v255 + "\nSTOP\n", "5x8 10 5x10 10 5x9 10 5x256 10",
         {"STOPX", "sleep 5", "SDC 12", std::string(253, 'V')},
         {"STOPX sent.", "sleep 5 sent.", "SDC 12 sent.", v255 + " sent.", "Stopping Script",
          "4 commands (271 bytes) send in 1.5 seconds.", "0 answers (0 bytes) received."}},
        {"SLEEP numbers are decimal", 0, false, none, "SLEEP010\nSLEEP 0007\nSTOP\n", "10 7", {},
         {"Stopping Script", "0 commands (0 bytes) send in 0.0 seconds.", "0 answers (0 bytes) received."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port.module().setFaults(c.faults);
        port.module().clearRecord();
        sink.ClearLog();
        clock.clear();
        StopScript = false;
        link.setCommandDelay(c.delay);
        settings.rvx = c.rvx;
        script(c.script);
        EXPECT_EQ(run(), c.log);
        EXPECT_EQ(pausesOf(clock.sleeps()), c.pauses);
        EXPECT_EQ(port.module().lines(), c.wire);
    }
}

TEST_F(ScriptRunTest, SleepWritesItsTimeBackAndWaitsItOnEveryPass)
{
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    script("SLEEP 250\nSLEEP7\t30\nSLEEP\t-40\nSDC\n");
    sink.onLine = stopAfter(2);
    const Lines lines = run();
    EXPECT_EQ(lines, (Lines{"Warning: Ignoring command SDC", "Warning: Ignoring command SDC",
                            "0 commands (0 bytes) send in 0.6 seconds.", "0 answers (0 bytes) received."}));
    EXPECT_EQ(ScriptAnswers[0], "250");
    EXPECT_EQ(ScriptAnswers[1], "30"); // the expected-answer column wins
    // Long pauses go in slices; a negative time waits nothing.
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{100, 100, 50, 30, 100, 100, 50, 30}));
    EXPECT_EQ(clock.periods(), (std::vector<int>{1, -1}));
}

TEST_F(ScriptRunTest, StopBeforeTheFirstLineRunsNoLine)
{
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    openPort();
    script("*IDN?\n");
    StopScript = true;
    const Lines lines = run();
    EXPECT_EQ(lines, (Lines{"0 commands (0 bytes) send in 0.0 seconds.", "0 answers (0 bytes) received."}));
    EXPECT_TRUE(port.module().lines().empty());
}

TEST_F(ScriptRunTest, TheStatisticsWriteTheSecondsWithAPointInEveryLocale)
{
    testsupport::CommaLocale comma;
    ASSERT_EQ(comma.failure(), "");
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    script("SLEEP 260\nSDC\n");
    sink.onLine = stopAfter(1);
    EXPECT_EQ(run(), (Lines{"Warning: Ignoring command SDC", "0 commands (0 bytes) send in 0.3 seconds.",
                            "0 answers (0 bytes) received."}));
}

TEST_F(ScriptRunTest, AMissingOrEmptyScriptEndsWithoutALine)
{
    EXPECT_EQ(run(), Lines{});
    EXPECT_EQ(end, RunEnd::NotLoaded);
    script("// nothing but a comment\n\n");
    EXPECT_EQ(run(), Lines{});
    EXPECT_EQ(end, RunEnd::NotLoaded);
}

TEST_F(ScriptRunTest, RandDrawsANumberInItsRangeForEachExecution)
{
    openPort();
    script("VOLT $RAND(10,20)\nVOLT?\t1[0-9]\nCURR $RAND(5,5) $RAND(1,2)\n");
    sink.onLine = stopAfter(9);
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 11u);
    const Lines got = port.module().lines();
    ASSERT_EQ(got.size(), 9u);
    for (std::size_t i = 0; i < 9; i += 3) {
        EXPECT_TRUE(std::regex_match(got[i], std::regex("VOLT 1[0-9]"))) << got[i];
        EXPECT_EQ(lines[i], got[i] + " sent.");
        EXPECT_EQ(got[i + 2], "CURR 5 $RAND(1,2)");
    }
}

TEST_F(ScriptRunTest, BadNumbersAndPatternsEndTheRunWithoutStatistics)
{
    openPort();
    RecordingClock clock;
    platform::ScopedClock useClock(clock);
    for (const char* bad : {"SLEEP", "SLEEP   ", "SLEEP junk", "SLEEP 5 ms", "SLEEP 0x1A", "VOLT $RAND(a,5)",
                            "VOLT $RAND(1)", "VOLT $RAND(,)", "VOLT $RAND(1,99999999999)", "*IDN?\t("}) {
        sink.ClearLog();
        clock.clear();
        StopScript = false;
        script(std::string("SDC\n") + bad + "\n");
        const Lines lines = run();
        EXPECT_EQ(end, RunEnd::Error) << bad;
        EXPECT_EQ(lines, Lines{"Warning: Ignoring command SDC"}) << bad;
        EXPECT_EQ(clock.periods(), (std::vector<int>{1, -1})) << bad;
    }
}

TEST_F(ScriptRunTest, AnAdapterThatVanishesEndsTheRunWithTheFailedSend)
{
    openPort();
    script("*IDN?\t.*\n");
    sink.onLine = [this](const Lines& lines) {
        if (lines.size() == 2)
            port.module().stop();
    };
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "*IDN? failed.");
    expectStatistics(lines, "2 commands \\(15 bytes\\)", "2 answers (86 bytes) received.");
}

TEST_F(ScriptRunTest, WithoutAPortTheFirstDeviceLineFailsToSend)
{
    script("SDC\nVOLT 1\n");
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "VOLT 1 failed.");
    expectStatistics(lines, "0 commands \\(6 bytes\\)", "0 answers (0 bytes) received.");
}

TEST_F(ScriptRunTest, WaitingForTheRunCutsALongPauseShort)
{
    RecordingClock clock;
    platform::ScopedClock useClock(clock);
    script("SLEEP 600000\nSDC\n");
    start();
    for (int i = 0; i < 3000 && clock.sleeps().empty(); ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(clock.sleeps().empty());
    StopScript = true;
    hurry = true;
    const Lines lines = finish();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "0 answers (0 bytes) received.");
    const auto slept = clock.sleeps();
    EXPECT_LT(std::accumulate(slept.begin(), slept.end(), 0u), 600000u);
}

// Told to finish (Quit, the window closing) in the delay before the second line: the
// line after the pause never goes out.
TEST_F(ScriptRunTest, FinishingInTheDelayBeforeALineSendsNothingMore)
{
    openPort();
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    testsupport::ScopedFollow follow(clock, port.module());
    link.setCommandDelay(3000);
    script("VOLT 1\nVOLT 2\nVOLT 3\n");
    finishAtPause(clock, [&](std::uint32_t ms) { return ms == 100 && sink.lines() == Lines{"VOLT 1 sent."}; });
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "VOLT 1 sent.");
    expectStatistics(lines, "1 commands \\(6 bytes\\)", "0 answers (0 bytes) received.");
    EXPECT_EQ(port.module().lines(), Lines{"VOLT 1"});
}

TEST_F(ScriptRunTest, AnInteractiveQueryDuringARunNeverTakesTheWorkersAnswer)
{
    openPort();
    script("*IDN?\tHVSIM,.*\nOUTP?\tOFF\n");
    start();
    ASSERT_TRUE(sink.waitForLines(1));
    for (int i = 0; i < 8; ++i) {
        auto exchange = link.exchange();
        const auto answer = links::Rs232Exchange(exchange.port(), "VOLT?", false, false);
        EXPECT_EQ(answer.text, "0");
    }
    const std::size_t before = sink.lines().size();
    ASSERT_TRUE(sink.waitForLines(before + 2));
    StopScript = true;
    const Lines lines = finish();
    for (std::size_t i = 0; i + 2 < lines.size(); ++i)
        EXPECT_EQ(lines[i].find("failed"), std::string::npos) << lines[i];
    EXPECT_EQ(count(port.module().lines(), "VOLT?"), 8u);
}

TEST(LogLineColourTest, FailedAfterTheFirstCharacterIsRed)
{
    EXPECT_EQ(scripts::LogLineColour("VOLT 1 failed."), 255u);
    EXPECT_EQ(scripts::LogLineColour("*IDN? passed: 'failed'"), 255u);
    EXPECT_EQ(scripts::LogLineColour("failed: 'x'"), 0u);
    EXPECT_EQ(scripts::LogLineColour("failedX failed."), 0u); // only the first occurrence counts
    EXPECT_EQ(scripts::LogLineColour("FAILED here"), 0u);
    EXPECT_EQ(scripts::LogLineColour("Stopping Script"), 0u);
}

TEST(SubstituteRandTest, OnlyTheFirstMarkerIsReplacedByItsRule)
{
    int draws = 0;
    auto r = [&](std::int32_t value) {
        return [&draws, value] {
            ++draws;
            return value;
        };
    };
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(10,20)", r(27)), "VOLT 17");
    EXPECT_EQ(scripts::SubstituteRand("A$RAND(10,20)B $RAND(1,2)", r(0)), "A10B $RAND(1,2)");
    EXPECT_EQ(draws, 2);
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(5,5)", r(3)), "VOLT 5");
    EXPECT_EQ(draws, 2); // equal bounds draw nothing
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(20,10)", r(13)), "VOLT 23"); // reversed: low + 0..9
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(-5,5) V", r(12)), "VOLT -3 V");
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(1,3", r(4)), "VOLT 1"); // no ")": to the end
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND( 7, 9)x", r(1)), "VOLT 8x");
    EXPECT_EQ(scripts::SubstituteRand("VOLT $rand(1,3)", r(1)), "VOLT $rand(1,3)");
    EXPECT_EQ(scripts::SubstituteRand("VOLT $RAND(010,012)", r(1)), "VOLT 11"); // decimal, not octal
    // Bounds at the ends of 32 bits, and reversed: exact, never wrapped.
    EXPECT_EQ(scripts::SubstituteRand("$RAND(-2147483648,2147483647)", r(2147483647)), "-1");
    EXPECT_EQ(scripts::SubstituteRand("$RAND(2147483647,-2147483648)", r(2147483646)), "4294967293");
    for (const char* bad : {"$RAND(", "$RAND(1)", "$RAND(x,3)", "$RAND(1,3 )", "$RAND(1,2147483648)",
                            "$RAND(0x1A,30)"})
        EXPECT_THROW(scripts::SubstituteRand(bad, r(1)), platform::EConvertError) << bad;
}

TEST(SleepArgumentTest, TheTextAfterTheKeywordWithoutLeadingWhiteSpace)
{
    EXPECT_EQ(scripts::SleepArgumentOf("SLEEP 500"), "500");
    EXPECT_EQ(scripts::SleepArgumentOf("SLEEP500"), "500");
    EXPECT_EQ(scripts::SleepArgumentOf("SLEEP \t\v\f\r\n 7 "), "7 ");
    EXPECT_EQ(scripts::SleepArgumentOf("SLEEP    "), "");
    EXPECT_EQ(scripts::SleepArgumentOf("SLEEP " + std::string(150, '1')), std::string(100, '1'));
}

namespace {

struct ScriptAnswerReadTest : ::testing::Test {
    testsupport::SimPort port{7};
    RecordingClock clock;
    platform::ScopedClock useClock{clock};
    std::unique_ptr<CRS232> rs232;

    void SetUp() override
    {
        bool ok = false;
        rs232 = std::make_unique<CRS232>(7, 9600, ok);
        ASSERT_TRUE(ok);
    }
    // The module's bytes, there before the read begins.
    void queued(const std::string& bytes)
    {
        port.module().send(bytes);
        for (int i = 0; i < 3000 && port.module().pendingForProgram() < static_cast<int>(bytes.size()); ++i)
            std::this_thread::sleep_for(1ms);
    }
    std::size_t polls() const { return clock.sleepCount(10); }
};

} // namespace

TEST_F(ScriptAnswerReadTest, AnAnswerWithoutLineEndIsTakenAsItCameAfterAHundredPolls)
{
    EXPECT_EQ(scripts::ReadScriptAnswer(*rs232, false), "");
    EXPECT_EQ(polls(), 100u);
    // 10 KB of garbage without a line end: the first 255 bytes are kept.
    sim::SerialFaults garbage;
    garbage.noEcho = true;
    garbage.useRawReply = true;
    garbage.rawReply = std::string(10000, 'G');
    port.module().setFaults(garbage);
    clock.clear();
    ASSERT_TRUE(rs232->Write(3, "X\r\n"));
    EXPECT_EQ(scripts::ReadScriptAnswer(*rs232, false), std::string(255, 'G'));
    EXPECT_EQ(polls(), 100u);
}

TEST_F(ScriptAnswerReadTest, RvxTakesTheLineAfterAnEarlyFirstLine)
{
    queued("X\r\nY\r\nZ");
    EXPECT_EQ(scripts::ReadScriptAnswer(*rs232, true), "Y");
    EXPECT_EQ(polls(), 2u);
    clock.clear();
    queued("X\r\n");
    EXPECT_EQ(scripts::ReadScriptAnswer(*rs232, true), "");
    EXPECT_EQ(polls(), 51u);
}

TEST_F(ScriptAnswerReadTest, RvxDropsTheFirstLineOnlyWhenItCameWithinFiftyPolls)
{
    struct Case {
        int sentInPause; // the first line, found by the poll after this pause; the second a pause later
        const char* answer;
    };
    for (const Case c : {Case{49, "B"}, Case{50, "A"}}) {
        SCOPED_TRACE(c.sentInPause);
        clock.clear();
        int pauses = 0;
        clock.onSleep([&](std::uint32_t) {
            ++pauses;
            if (pauses == c.sentInPause)
                queued("A\r\n");
            else if (pauses == c.sentInPause + 1)
                queued("B\r\n");
        });
        EXPECT_EQ(scripts::ReadScriptAnswer(*rs232, true), c.answer);
        EXPECT_EQ(polls(), 51u);
    }
    clock.onSleep(nullptr);
}

namespace {

struct GpibRunTest : ScriptRunTest {
    testsupport::ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "5,17"};
    testsupport::ScopedEnv library{"VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY};
    std::unique_ptr<testsupport::SimLibrary> sim;
    std::string ud;

    void SetUp() override
    {
        ScriptRunTest::SetUp();
        gpib_testing::ResetLayer();
        sim = std::make_unique<testsupport::SimLibrary>(GPIBSIM_LIBRARY);
        settings.link = LinkKind::Gpib;
        link.setGpibDevice(links::GpibOpenDevice(17));
        ud = std::to_string(link.gpibDevice());
    }
    void TearDown() override
    {
        ScriptRunTest::TearDown();
        gpib_testing::ResetLayer();
    }
};

} // namespace

// The driver calls and pauses of a run in the order they happen: the delay before
// every line and before each read, none after a write. The device's line feed stays
// in the answer.
TEST_F(GpibRunTest, EachLineKeepsItsPauseScheduleBesideTheDriverCalls)
{
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    std::size_t seen = 0;
    Lines timeline;
    // A call as the driver recorded it, without the descriptor.
    auto takeCalls = [&] {
        const Lines calls = sim->calls();
        for (; seen < calls.size(); ++seen) {
            std::string call = calls[seen];
            const std::size_t at = call.find(' ' + ud);
            if (at != std::string::npos)
                call.erase(at, ud.size() + 1);
            timeline.push_back(call);
        }
    };
    clock.onSleep([&](std::uint32_t ms) {
        takeCalls();
        timeline.push_back("sleep " + std::to_string(ms));
    });
    const std::string v255(255, 'V');
    struct Case {
        const char* what;
        std::int32_t delay;
        std::string script;
        Lines timeline;
        Lines log;
    };
    const Case cases[] = {
        {"sent, answered, SDC, STOP", 40, "VOLT 5\nVOLT?\t5.*\nSDC\nSTOP\n",
         {"sleep 40", "ibwrt \"VOLT 5\" 6", "sleep 40", "ibwrt \"VOLT?\" 5", "sleep 40", "ibrd 256", "sleep 40",
          "ibclr", "sleep 40"},
         {"VOLT 5 sent.", "VOLT? passed: '5\n'", "Selected Device Clear", "Stopping Script",
          "3 commands (11 bytes) send in 0.2 seconds.", "1 answers (2 bytes) received."}},
        {"the line feed fails an exact check and the run ends at once", 40, "VOLT?\t5\nSTOP\n",
         {"sleep 40", "ibwrt \"VOLT?\" 5", "sleep 40", "ibrd 256"},
         {"VOLT? failed: '5\n'", "0 commands (5 bytes) send in 0.1 seconds.", "1 answers (2 bytes) received."}},
        {"keywords are whole texts; a full line goes out whole", 0,
         "STOPX\nsleep 5\nCLEARX\n" + v255 + "\nSLEEP\t20\nSTOP\n",
         {"ibwrt \"STOPX\" 5", "ibwrt \"sleep 5\" 7", "ibwrt \"CLEARX\" 6", "ibwrt \"" + v255 + "\" 255",
          "sleep 20"},
         {"STOPX sent.", "sleep 5 sent.", "CLEARX sent.", v255 + " sent.", "Stopping Script",
          "4 commands (273 bytes) send in 0.0 seconds.", "0 answers (0 bytes) received."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sink.ClearLog();
        StopScript = false;
        seen = sim->calls().size();
        timeline.clear();
        link.setCommandDelay(c.delay);
        script(c.script);
        EXPECT_EQ(run(), c.log);
        takeCalls();
        EXPECT_EQ(timeline, c.timeline);
    }
}

// Told to finish in the delay before the read: the device is not addressed again.
TEST_F(GpibRunTest, FinishingInTheDelayBeforeTheReadReadsNothing)
{
    testsupport::FakeClock clock;
    platform::ScopedClock useClock(clock);
    link.setCommandDelay(40);
    script("VOLT?\t5.*\n");
    finishAtPause(clock, [&](std::uint32_t) { return sim->calls().back().starts_with("ibwrt"); });
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "VOLT? sent.");
    expectStatistics(lines, "1 commands \\(5 bytes\\)", "0 answers (0 bytes) received.");
    EXPECT_EQ(sim->calls().back(), "ibwrt " + ud + " \"VOLT?\" 5");
}

TEST_F(GpibRunTest, SdcClearsTheDeviceAndCountsAsACommand)
{
    script("SDC\nSTOP\n");
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Selected Device Clear");
    EXPECT_EQ(lines[1], "Stopping Script");
    expectStatistics(lines, "1 commands \\(0 bytes\\)", "0 answers (0 bytes) received.");
    EXPECT_EQ(sim->calls().back(), "ibclr " + ud);
}

TEST_F(GpibRunTest, ADeviceThatStopsAnsweringFailsItsLine)
{
    script("*IDN?\tHVSIM,.*\n");
    sink.onLine = [this](const Lines& lines) {
        if (lines.size() == 2)
            sim->setSilent(17, true);
    };
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "*IDN? passed: '" + Id + "\n'");
    EXPECT_EQ(lines[2], "*IDN? failed: ''");
    expectStatistics(lines, "2 commands \\(15 bytes\\)", "3 answers (88 bytes) received.");
}

TEST_F(GpibRunTest, AWriteTheDriverRefusesFailsTheLine)
{
    links::GpibOffline(link.gpibDevice());
    script("*IDN?\t.*\n");
    const Lines lines = run();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "*IDN? failed.");
    expectStatistics(lines, "0 commands \\(5 bytes\\)", "0 answers (0 bytes) received.");
}

TEST_F(GpibRunTest, TwoThousandLinesOfExtremeRandBoundsRunUntilABoundIsMissing)
{
    const char* bounds[] = {"-2147483648,2147483647", "2147483647,-2147483648", "-50,-60", "7,7",
                            " -1000000000,1000000000", "0,1"};
    std::string text;
    for (int i = 0; i < 1999; ++i)
        text += "VOLT $RAND(" + std::string(bounds[i % 6]) + ")\n";
    text += "VOLT $RAND(5)\n";
    script(text);
    const Lines lines = run();
    EXPECT_EQ(end, RunEnd::Error);
    ASSERT_EQ(lines.size(), 1999u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::regex("VOLT (-?[0-9]+) sent\\."))) << lines[i];
        const long long v = std::stoll(m[1]);
        switch (i % 6) {
        case 0: EXPECT_TRUE(v >= -2147483648LL && v < 2147483647LL) << v; break;
        case 1: EXPECT_TRUE(v >= 2147483647LL && v < 2147483647LL + 4294967295LL) << v; break;
        case 2: EXPECT_TRUE(v >= -50 && v < -40) << v; break;
        case 3: EXPECT_EQ(v, 7); break;
        case 4: EXPECT_TRUE(v >= -1000000000 && v < 1000000000) << v; break;
        default: EXPECT_EQ(v, 0); break;
        }
    }
}
