// The link owner and the GPIB exchanges, without a window.
#include "link/gpibexchange.h"
#include "link/link.h"

#include "devices/gpib.h"
#include "devices/gpib_testing.h"
#include "sim/commands.h"
#include "tests/support/gpibsimlib.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using links::Link;
using links::LinkKind;
using testsupport::ScopedEnv;
using Calls = std::vector<std::string>;

TEST(LinkTest, APortInUseByAnExchangeIsReleasedOnlyWhenTheExchangeEnds)
{
    testsupport::SimPort sim(7);
    Link link;
    bool opened = false;
    link.setPort(std::make_unique<CRS232>(7, 9600, opened));
    ASSERT_TRUE(opened);

    std::atomic<bool> released{false};
    std::atomic<pid_t> quitter{0};
    // The kernel's word that the quitting thread sleeps on a lock (not merely late).
    auto quitterWaits = [&] {
        std::ifstream call("/proc/self/task/" + std::to_string(quitter.load()) + "/syscall");
        long number = -1;
        return quitter.load() != 0 && (call >> number) && number == SYS_futex;
    };
    std::thread quit;
    {
        auto exchange = link.exchange();
        CRS232* port = exchange.port();
        quit = std::thread([&] {
            quitter = ::gettid();
            link.releasePort();
            released = true;
        });
        for (int i = 0; i < 10000 && !released && !quitterWaits(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(released);
        EXPECT_TRUE(port->IsOpen());
        EXPECT_TRUE(port->Write(3, "X\r\n"));
    }
    quit.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(link.port(), nullptr);
    // The port is closed and free again.
    bool again = false;
    CRS232 other(7, 9600, again);
    EXPECT_TRUE(again);
}

TEST(LinkTest, TheKindStaysFromOpenToCloseAndResetForgetsEverything)
{
    EXPECT_EQ(links::LinkKindOfTab(0), LinkKind::Rs232);
    EXPECT_EQ(links::LinkKindOfTab(1), LinkKind::Gpib);
    EXPECT_EQ(links::LinkKindOfTab(2), LinkKind::Ethernet);
    EXPECT_EQ(links::LinkKindOfTab(7), LinkKind::Ethernet);

    Link link;
    EXPECT_FALSE(link.openKind());
    link.open(LinkKind::Gpib);
    link.setGpibDevice(33);
    link.setCommandDelay(-5);
    EXPECT_EQ(link.openKind(), LinkKind::Gpib);
    link.close();
    EXPECT_FALSE(link.openKind());
    EXPECT_EQ(link.gpibDevice(), 33); // kept after Quit
    link.open(LinkKind::Rs232);
    bool opened = true;
    link.setPort(std::make_unique<CRS232>(4000, 9600, opened)); // no such port: kept all the same
    ASSERT_NE(link.port(), nullptr);
    link.reset();
    EXPECT_FALSE(link.openKind());
    EXPECT_EQ(link.port(), nullptr);
    EXPECT_EQ(link.gpibDevice(), 0);
    EXPECT_EQ(link.commandDelay(), 0);
}

namespace {

struct GpibExchangeTest : ::testing::Test {
    ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "5,17"};
    ScopedEnv library{"VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY};
    std::unique_ptr<testsupport::SimLibrary> sim;
    void SetUp() override
    {
        gpib_testing::ResetLayer();
        sim = std::make_unique<testsupport::SimLibrary>(GPIBSIM_LIBRARY);
    }
    void TearDown() override { gpib_testing::ResetLayer(); }
};

const std::string Id = std::string(sim::DefaultIdentification) + "\n";

} // namespace

TEST_F(GpibExchangeTest, AddressesOutsideOneToThirtyOneBecomeSeventeen)
{
    EXPECT_EQ(links::GpibAddressOf(0), 17);
    EXPECT_EQ(links::GpibAddressOf(32), 17);
    EXPECT_EQ(links::GpibAddressOf(31), 31);
    EXPECT_EQ(links::GpibAddressOf(257), 1);
    EXPECT_EQ(links::GpibAddressOf(-1), 17);
}

TEST_F(GpibExchangeTest, TalkAndListenCarryTheLineAndTheAnswerAsTheDriverGivesThem)
{
    const int device = links::GpibOpenDevice(17);
    ASSERT_GT(device, 0);
    const std::string ud = std::to_string(device);
    EXPECT_TRUE(links::GpibTalk(device, std::string(300, 'V'), true));
    EXPECT_TRUE(links::GpibTalk(device, "*IDN?", false));
    const links::GpibAnswer answer = links::GpibListen(device);
    EXPECT_EQ(answer.text, Id);
    EXPECT_EQ(answer.count, static_cast<std::int32_t>(Id.size()));
    const Calls calls = sim->calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1], "ibwrt " + ud + " \"" + std::string(254, 'V') + "\\n\" 255");
    EXPECT_EQ(calls[2], "ibwrt " + ud + " \"*IDN?\" 5");
    EXPECT_EQ(calls[3], "ibrd " + ud + " 256");

    // An offline descriptor: the driver's error makes the write fail; nothing is read.
    links::GpibOffline(device);
    EXPECT_FALSE(links::GpibTalk(device, "*IDN?", false));
    EXPECT_EQ(links::GpibListen(device).text, "");
}

TEST_F(GpibExchangeTest, ScanAsksEveryListenerInOrderWithItsOwnDescriptor)
{
    const auto found = links::GpibScan(true);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].address, 5);
    EXPECT_EQ(found[0].answer, Id);
    EXPECT_EQ(found[1].address, 17);
    EXPECT_EQ(found[1].answer, Id);
    const Calls calls = sim->calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "SendIFC 0");
    EXPECT_EQ(calls[1], "FindLstn 0 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30 30");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ibwrt 32 \"*IDN?\\n\" 6"), calls.end());
}
