#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/serialmap.h"
#include "platform/timer.h"

#include "tests/support/simport.h"

#include <QTest>
#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>

#include <string>
#include <vector>

using platform::StrToInt;

TEST(StrToInt, AcceptsWholeDecimalNumbersWithBlanksAndSign)
{
    EXPECT_EQ(StrToInt(std::string("10")), 10);
    EXPECT_EQ(StrToInt(std::string("  -7")), -7);
    EXPECT_EQ(StrToInt(std::string("+0042")), 42);
    EXPECT_EQ(StrToInt(std::string("-2147483648")), INT32_MIN);
    EXPECT_EQ(StrToInt(std::string("2147483647")), INT32_MAX);
}

TEST(StrToInt, RejectsEverythingElseWithTheTextInTheMessage)
{
    for (const char* bad : {"", " ", "abc", "12a", "1 ", "--1", "+", "2147483648", "1e3", "0x10",
                            "99999999999999999999"}) {
        try {
            StrToInt(std::string(bad));
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const platform::EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(SerialMap, KeepsOrderDuplicatesAndNamesAsWritten)
{
    auto m = platform::parseSerialMap("# ports\n/dev/ttyUSB1 COM3\r\n\n  /dev/ttyUSB0\tCOM1\n"
                                      "/dev/ttyUSB1 COM3\n/dev/ttyACM0 MODEM\n/dev/lonely\n");
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].device, "/dev/ttyUSB1");
    EXPECT_EQ(m[0].name, "COM3");
    EXPECT_EQ(m[1].name, "COM1");
    EXPECT_EQ(m[2].name, "COM3");
    EXPECT_EQ(m[3].name, "MODEM");
}

TEST(SerialMap, ResolvesNamesThroughTheFileAndFallsBackToTtyS)
{
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("map"), "/dev/ttyUSB7 COM3\n/dev/ttyACM2 COM12\n");
    testsupport::ScopedEnv env("VOLTDESK_SERIALCOMM", dir.file("map"));
    EXPECT_EQ(platform::comDevicePath(3), "/dev/ttyUSB7");
    EXPECT_EQ(platform::comDevicePath("COM12"), "/dev/ttyACM2");
    EXPECT_EQ(platform::comDevicePath(4), "/dev/ttyS3");
    // Names that are no COM port name nothing: never a file in the current folder, and
    // for "COM03" not /dev/ttyS2 while the map gives COM3 to another device.
    EXPECT_EQ(platform::comDevicePath(0), "");
    EXPECT_EQ(platform::comDevicePath(-5), "");
    EXPECT_EQ(platform::comDevicePath("COMabc"), "");
    EXPECT_EQ(platform::comDevicePath("COM03"), "");
}

TEST(SerialMap, EntriesAreAppendedAndRemovedByDevice)
{
    testsupport::TempDir dir;
    const std::string map = dir.file("map");
    testsupport::writeFile(map, "/dev/ttyUSB0 COM1\n/dev/pts/7 COM9\n");
    ASSERT_TRUE(platform::appendSerialMapEntry(map, {"/dev/pts/8", "COM10"}));
    EXPECT_EQ(testsupport::readFile(map), "/dev/ttyUSB0 COM1\n/dev/pts/7 COM9\n/dev/pts/8 COM10\n");
    ASSERT_TRUE(platform::removeSerialMapEntries(map, "/dev/pts/7"));
    EXPECT_EQ(testsupport::readFile(map), "/dev/ttyUSB0 COM1\n/dev/pts/8 COM10\n");
    ASSERT_TRUE(platform::appendSerialMapEntry(dir.file("new"), {"/dev/pts/9", "COM11"}));
    EXPECT_EQ(testsupport::readFile(dir.file("new")), "/dev/pts/9 COM11\n");
}

TEST(SystemClock, AOneMillisecondPeriodTightensThisThreadsTimerSlackUntilItEnds)
{
    const int before = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    platform::systemClock().beginPeriod(1);
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1000);
    platform::systemClock().endPeriod(1);
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
}

// The socket timer relies on this: a Talk or a passing answer that enables the timer
// while it already waits must not start the wait again.
TEST(Timer, OnlyARealChangeOfEnabledOrIntervalStartsOrStopsTheWait)
{
    struct Recording : platform::Timer {
        std::vector<std::string> waits;
        int ticks = 0;
        Recording() { OnTimer = [this] { ++ticks; }; }
        void update() override { waits.push_back(Enabled() ? "wait " + std::to_string(Interval()) : "off"); }
        void elapse() { tick(); }
    };
    Recording t;
    t.setInterval(20);
    t.setEnabled(true);
    t.setEnabled(true);
    t.setInterval(20);
    t.setInterval(100);
    t.elapse();
    t.setEnabled(false);
    t.setEnabled(false);
    t.elapse(); // a tick already on its way when the timer was switched off
    EXPECT_EQ(t.waits, (std::vector<std::string>{"off", "wait 20", "wait 100", "off"}));
    EXPECT_EQ(t.ticks, 1);
}

// An interval of 0 must not spin: the timer is then idle, also when it was running.
TEST(Timer, AnIntervalOfZeroNeverTicks)
{
    const auto running = [](int& ticks) {
        std::unique_ptr<platform::Timer> t = platform::makeTimer();
        t->OnTimer = [&ticks] { ++ticks; };
        t->setInterval(1);
        t->setEnabled(true);
        return t;
    };
    int ticks = 0;
    std::unique_ptr<platform::Timer> t = running(ticks);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));
    t->setInterval(0);
    const int before = ticks;
    // A 1 ms timer started after it paces the wait: by its ticks a timer still
    // running, at 1 ms or at every pass, has ticked too.
    int beats = 0;
    std::unique_ptr<platform::Timer> pace = running(beats);
    ASSERT_TRUE(QTest::qWaitFor([&] { return beats >= 2; }, 5000));
    EXPECT_EQ(ticks, before);
    t->setEnabled(false);
    t->setEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return beats >= 4; }, 5000));
    EXPECT_EQ(ticks, before);
}

// A busy machine may deliver a tick late, never early. Timers started at many points
// of a second: the default timer's rounding would bring some of them in early.
TEST(Timer, ATickNeverComesEarly)
{
    using Clock = std::chrono::steady_clock;
    std::vector<std::unique_ptr<platform::Timer>> timers;
    std::vector<Clock::time_point> started, ticked(12);
    for (Clock::time_point& tick : ticked) {
        timers.push_back(platform::makeTimer());
        timers.back()->OnTimer = [&tick] { tick = tick == Clock::time_point{} ? Clock::now() : tick; };
        timers.back()->setInterval(500);
        started.push_back(Clock::now());
        timers.back()->setEnabled(true);
        QTest::qWait(37);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::ranges::count(ticked, Clock::time_point{}) == 0; }, 60000));
    for (std::size_t i = 0; i < ticked.size(); ++i)
        EXPECT_GE(ticked[i] - started[i], std::chrono::milliseconds(499)) << "timer " << i;
}
