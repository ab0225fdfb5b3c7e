// The GPIB tab of the main window against the simulated driver library.
#include "terminal/globals.h"
#include "terminal/main.h"

#include "devices/gpib.h"
#include "devices/gpib_testing.h"
#include "platform/ui.h"
#include "tests/support/fakeclock.h"
#include "tests/support/gpibsimlib.h"
#include "tests/support/simport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using testsupport::ScopedEnv;
using testsupport::SimLibrary;
using Calls = std::vector<std::string>;

namespace {

struct GpibTabTest : ::testing::Test {
    ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "5,17"};
    std::unique_ptr<ScopedEnv> library = std::make_unique<ScopedEnv>("VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY);
    testsupport::FakeClock clock;
    platform::ScopedClock useClock{clock};
    std::vector<QString> messages;
    std::unique_ptr<SimLibrary> sim;
    std::unique_ptr<TfrmMain> w;

    void SetUp() override
    {
        gpib_testing::ResetLayer();
        ResetMainUnitGlobals();
        sim = std::make_unique<SimLibrary>(GPIBSIM_LIBRARY);
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        w = std::make_unique<TfrmMain>(QStringList{"voltdesk"});
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        w->tabsInitialization->setCurrentIndex(TfrmMain::TabGpib);
    }

    void TearDown() override
    {
        w.reset();
        sim.reset();
        ResetMainUnitGlobals();
        gpib_testing::ResetLayer();
        platform::ui::setMessageHandler({});
    }

    void noLibrary() { library = std::make_unique<ScopedEnv>("VOLTDESK_GPIB_LIBRARY", "/nonexistent/libgpib.so"); }
    void click(QWidget* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void init(const QString& address)
    {
        w->txtGpibAddr->setEditText(address);
        click(w->btnInit);
    }
    // The calls since the previous look.
    Calls newCalls()
    {
        Calls all = sim->calls();
        Calls fresh(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen, all.size())), all.end());
        seen = all.size();
        return fresh;
    }
    std::size_t seen = 0;

    std::string ud() const { return std::to_string(ActiveLink.gpibDevice()); }
    QString logLine(int i) const { return w->txtLog->lineText(i); }
};

const std::string Id = std::string(sim::DefaultIdentification) + "\n";

} // namespace

TEST_F(GpibTabTest, AddressesOutsideOneToThirtyOneBecomeSeventeen)
{
    struct Case {
        const char* typed;
        int address;
        const char* shown;
    };
    for (const Case& c : {Case{"0", 17, "17"}, Case{"32", 17, "17"}, Case{"31", 31, "31"}, Case{"273", 17, "273"},
                          Case{"257", 1, "257"}, Case{"-1", 17, "17"}, Case{"5", 5, "5"}}) {
        newCalls();
        init(c.typed);
        Calls calls = newCalls();
        ASSERT_FALSE(calls.empty()) << c.typed;
        EXPECT_EQ(calls[0], "ibdev 0 " + std::to_string(c.address) + " 0 10 1 0") << c.typed;
        EXPECT_EQ(w->txtGpibAddr->currentText(), c.shown);
        click(w->btnQuit);
    }
}

TEST_F(GpibTabTest, InitConfiguresTheDeviceAndEnablesListen)
{
    w->cbUnAddr->setChecked(true);
    init("17");
    EXPECT_TRUE(messages.empty());
    EXPECT_GT(ActiveLink.gpibDevice(), 0);
    EXPECT_EQ(newCalls(), (Calls{"ibdev 0 17 0 10 1 0", "ibconfig " + ud() + " 27 1", "ibconfig " + ud() + " 4 1"}));
    EXPECT_TRUE(w->btnListen->isEnabled());
    EXPECT_TRUE(w->btnQuery->isEnabled());
    EXPECT_TRUE(w->btnTalk->isEnabled());
    EXPECT_FALSE(w->btnUpdate->isEnabled());
    EXPECT_FALSE(w->tabsInitialization->isEnabled());
}

TEST_F(GpibTabTest, QueryWritesPausesAndLogsTheAnswerWithItsByteCount)
{
    init("17");
    newCalls();
    clock.clear();
    w->txtCmd->setEditText("*IDN?");
    click(w->btnQuery);
    EXPECT_EQ(newCalls(), (Calls{"ibwrt " + ud() + " \"*IDN?\" 5", "ibrd " + ud() + " 256"}));
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{10});
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0).toStdString(), Id); // the device's terminator stays
    EXPECT_EQ(w->txtLog->lineColour(0), 0u);
    EXPECT_EQ(w->lblBytesRcvd->text(), QString::number(Id.size()));
    EXPECT_TRUE(w->txtCmd->lineEdit()->hasFocus());
}

TEST_F(GpibTabTest, TalkAddsTheLineFeedWhenAskedAndLogsNothing)
{
    w->cbLf->setChecked(true);
    init("17");
    newCalls();
    w->txtCmd->setEditText("*RST");
    click(w->btnTalk);
    EXPECT_EQ(newCalls(), Calls{"ibwrt " + ud() + " \"*RST\\n\" 5"});
    EXPECT_EQ(w->txtLog->lineCount(), 0);
}

TEST_F(GpibTabTest, AFullListenBufferIsLoggedWholeAndNotReadPast)
{
    init("17");
    const std::string value(255, 'X');
    const std::string set = "VOLT " + value;
    ibwrt(ActiveLink.gpibDevice(), set.data(), static_cast<long>(set.size()));
    w->txtCmd->setEditText("VOLT?");
    click(w->btnQuery);
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0).toStdString(), value + "\n");
    EXPECT_EQ(w->lblBytesRcvd->text(), "256");
}

TEST_F(GpibTabTest, ScanLogsEachListenerInOrderWithoutTouchingTheLink)
{
    AddLogLine(w.get(), "old line", 0);
    w->lblBytesRcvd->setText("3");
    click(w->btnScan);
    ASSERT_EQ(w->txtLog->lineCount(), 2);
    EXPECT_EQ(logLine(0).toStdString(), "5 " + Id);
    EXPECT_EQ(logLine(1).toStdString(), "17 " + Id);
    EXPECT_EQ(w->lblBytesRcvd->text(), "3");
    EXPECT_EQ(ActiveLink.gpibDevice(), 0);
    EXPECT_EQ(clock.sleepCount(100), 2u);
    Calls calls = newCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "SendIFC 0");
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("ibonl", 0) == 0; }), 2);
}

TEST_F(GpibTabTest, WithoutADriverLibraryInitFailsAndScanFindsNothing)
{
    noLibrary();
    AddLogLine(w.get(), "old line", 0);
    click(w->btnScan);
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0), "No GPIB devices found!");
    EXPECT_EQ(w->txtLog->lineColour(0), 255u);

    init("0");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Error: Init GPIB!");
    EXPECT_EQ(ActiveLink.gpibDevice(), -1);
    EXPECT_EQ(w->txtGpibAddr->currentText(), "17");
    EXPECT_TRUE(w->btnInit->isEnabled());
    EXPECT_FALSE(w->btnListen->isEnabled());
    EXPECT_FALSE(w->btnUpdate->isEnabled());

    // A bad address text stops Init before any driver call.
    init("abc");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "'abc' is not a valid integer value");
}

TEST_F(GpibTabTest, DeviceClearAndUnaddressReachTheDriverWithoutALink)
{
    click(w->btnSdc);
    EXPECT_EQ(newCalls(), Calls{"ibclr 0"});
    click(w->cbUnAddr);
    click(w->cbUnAddr);
    EXPECT_EQ(newCalls(), (Calls{"ibconfig 0 27 1", "ibconfig 0 27 0"}));
    w->tabsInitialization->setCurrentIndex(TfrmMain::TabRs232);
    w->btnSdcClick(w->btnSdc);
    EXPECT_TRUE(newCalls().empty()); // only on the GPIB tab
}

TEST_F(GpibTabTest, QuitTakesTheDeviceOfflineAndLeavesFirmwareUpdateDisabled)
{
    init("17");
    const int device = ActiveLink.gpibDevice();
    newCalls();
    click(w->btnQuit);
    EXPECT_EQ(newCalls(), Calls{"ibonl " + std::to_string(device) + " 0"});
    EXPECT_EQ(ActiveLink.gpibDevice(), device);
    EXPECT_TRUE(w->txtGpibAddr->lineEdit()->hasFocus());
    EXPECT_EQ(w->txtGpibAddr->lineEdit()->selectedText(), "17");
    EXPECT_FALSE(w->btnUpdate->isEnabled());
    EXPECT_FALSE(w->btnListen->isEnabled());
    EXPECT_TRUE(w->btnInit->isEnabled());
}
