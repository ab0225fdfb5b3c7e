// The GPIB tab of the main window against the simulated driver library, driven through
// the window; each test compares the driver calls with the calls the window must make.
#include "terminal/globals.h"
#include "terminal/main.h"

#include "devices/gpib.h"
#include "devices/gpib_testing.h"
#include "platform/ui.h"
#include "tests/support/fakeclock.h"
#include "tests/support/gpibsimlib.h"
#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using testsupport::click;
using testsupport::ScopedEnv;
using testsupport::SimLibrary;
using Calls = std::vector<std::string>;

namespace {

struct GpibTabTest : ::testing::Test {
    ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "5,17"};
    ScopedEnv library{"VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY};
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
        ASSERT_TRUE(testsupport::showActive(*w));
        alt(Qt::Key_2);
        ASSERT_EQ(w->tabsInitialization->currentIndex(), 1);
    }

    void TearDown() override
    {
        w.reset();
        sim.reset();
        ResetMainUnitGlobals();
        gpib_testing::ResetLayer();
        platform::ui::setMessageHandler({});
    }

    // Named but missing: an unset variable would let the system's library in.
    void noLibrary() { library.set("/nonexistent/libgpib.so"); }

    // Input as the window system delivers it.
    void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(w->windowHandle(), key, mods);
    }
    void alt(Qt::Key key) { press(key, Qt::AltModifier); }
    void typeInto(QWidget* box, const QString& text)
    {
        click(box);
        press(Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }
    void init(const QString& address)
    {
        typeInto(w->txtGpibAddr, address);
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

    QString logLine(int i) const { return w->txtLog->lineText(i); }
};

const std::string Id = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07\n";

} // namespace

TEST_F(GpibTabTest, AddressesOutsideOneToThirtyOneBecomeSeventeen)
{
    struct Case {
        const char* typed;
        const char* ibdev;
        const char* shown;
    };
    for (const Case& c : {Case{"0", "ibdev 0 17 0 10 1 0", "17"}, Case{"32", "ibdev 0 17 0 10 1 0", "17"},
                          Case{"31", "ibdev 0 31 0 10 1 0", "31"}, Case{"273", "ibdev 0 17 0 10 1 0", "273"},
                          Case{"257", "ibdev 0 1 0 10 1 0", "257"}, Case{"-1", "ibdev 0 17 0 10 1 0", "17"},
                          Case{"5", "ibdev 0 5 0 10 1 0", "5"}}) {
        newCalls();
        init(c.typed);
        Calls calls = newCalls();
        ASSERT_FALSE(calls.empty()) << c.typed;
        EXPECT_EQ(calls[0], c.ibdev) << c.typed;
        EXPECT_EQ(w->txtGpibAddr->currentText(), c.shown);
        click(w->btnQuit);
    }
}

TEST_F(GpibTabTest, InitConfiguresTheDeviceAndEnablesListen)
{
    click(w->cbUnAddr);
    newCalls();
    init("17");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(newCalls(), (Calls{"ibdev 0 17 0 10 1 0", "ibconfig 32 27 1", "ibconfig 32 4 1"}));
    EXPECT_TRUE(w->btnListen->isEnabled());
    EXPECT_TRUE(w->btnQuery->isEnabled());
    EXPECT_TRUE(w->btnTalk->isEnabled());
    EXPECT_FALSE(w->btnUpdate->isEnabled());
    EXPECT_FALSE(w->tabsInitialization->isEnabled());

    // Unticked, no unaddressing call at all.
    click(w->btnQuit);
    click(w->cbUnAddr);
    newCalls();
    init("17");
    EXPECT_EQ(newCalls(), (Calls{"ibdev 0 17 0 10 1 0", "ibconfig 33 4 1"}));
}

TEST_F(GpibTabTest, QueryWritesPausesAndLogsTheAnswerWithItsByteCount)
{
    init("17");
    newCalls();
    clock.clear();
    press(Qt::Key_Return); // "*IDN?" is in the command box
    EXPECT_EQ(newCalls(), (Calls{"ibwrt 32 \"*IDN?\" 5", "ibrd 32 256"}));
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{10});
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0).toStdString(), Id); // the device's terminator stays
    EXPECT_EQ(w->txtLog->lineColour(0), 0u);
    EXPECT_EQ(w->lblBytesRcvd->text(), "44");
    EXPECT_EQ(QApplication::focusWidget(), w->txtCmd);
}

TEST_F(GpibTabTest, ListenReadsWhileEnabledAndItsAcceleratorDoesNothingWithoutALink)
{
    alt(Qt::Key_L);
    EXPECT_TRUE(newCalls().empty());
    init("17");
    alt(Qt::Key_T);
    newCalls();
    alt(Qt::Key_L);
    EXPECT_EQ(newCalls(), Calls{"ibrd 32 256"});
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0).toStdString(), Id);
}

TEST_F(GpibTabTest, TalkAddsTheLineFeedWhenAskedAndLogsNothing)
{
    click(w->cbLf);
    init("17");
    newCalls();
    alt(Qt::Key_M);
    press(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "*RST");
    alt(Qt::Key_T);
    EXPECT_EQ(newCalls(), Calls{"ibwrt 32 \"*RST\\n\" 5"});
    EXPECT_EQ(w->txtLog->lineCount(), 0);
}

TEST_F(GpibTabTest, AFullListenBufferIsLoggedWholeAndNotReadPast)
{
    init("17");
    // The listener keeps a value that is read back longer than the read buffer.
    const std::string value(255, 'X');
    const std::string set = "VOLT " + value;
    ibwrt(ActiveLink.gpibDevice(), set.data(), static_cast<long>(set.size()));
    alt(Qt::Key_M);
    press(Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), "VOLT?");
    press(Qt::Key_Return);
    ASSERT_EQ(w->txtLog->lineCount(), 1);
    EXPECT_EQ(logLine(0).toStdString(), value + "\n");
    EXPECT_EQ(w->lblBytesRcvd->text(), "256");
}

TEST_F(GpibTabTest, ScanAsksEveryListenerInOrderWithDescriptorsOfItsOwn)
{
    AddLogLine(w.get(), "old line", 0);
    w->lblBytesRcvd->setText("3");
    newCalls();
    click(w->btnScan);
    EXPECT_EQ(newCalls(), (Calls{"SendIFC 0",
                                 "FindLstn 0 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30 30",
                                 "ibdev 0 5 0 10 1 0", "ibwrt 32 \"*IDN?\" 5", "ibrd 32 255", "ibonl 32 0",
                                 "ibdev 0 17 0 10 1 0", "ibwrt 33 \"*IDN?\" 5", "ibrd 33 255", "ibonl 33 0"}));
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{100, 100}));
    ASSERT_EQ(w->txtLog->lineCount(), 2);
    EXPECT_EQ(logLine(0).toStdString(), "5 " + Id);
    EXPECT_EQ(logLine(1).toStdString(), "17 " + Id);
    EXPECT_EQ(w->lblBytesRcvd->text(), "3");
    EXPECT_EQ(ActiveLink.gpibDevice(), 0);

    // With Send Line Feed ticked the query carries one.
    click(w->cbLf);
    newCalls();
    click(w->btnScan);
    Calls calls = newCalls();
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[3], "ibwrt 34 \"*IDN?\\n\" 6");
    EXPECT_EQ(calls[7], "ibwrt 35 \"*IDN?\\n\" 6");
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

TEST_F(GpibTabTest, DeviceClearReachesTheDriverWithoutALink)
{
    click(w->btnSdc);
    EXPECT_EQ(newCalls(), Calls{"ibclr 0"});
    init("17");
    click(w->btnQuit);
    newCalls();
    click(w->btnSdc);
    EXPECT_EQ(newCalls(), Calls{"ibclr 32"}); // the descriptor taken offline
}

// However the tick changes -- a click, Space on the focused box, or the toggle action
// of assistive technology -- the driver follows it.
TEST_F(GpibTabTest, EveryChangeOfTheUnaddressTickReachesTheDriver)
{
    click(w->cbUnAddr);
    EXPECT_TRUE(w->cbUnAddr->isChecked());
    EXPECT_EQ(newCalls(), Calls{"ibconfig 0 27 1"});
    press(Qt::Key_Space); // the click left the focus on the box
    EXPECT_FALSE(w->cbUnAddr->isChecked());
    EXPECT_EQ(newCalls(), Calls{"ibconfig 0 27 0"});

    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(w->cbUnAddr);
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->actionInterface(), nullptr);
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(w->cbUnAddr->isChecked());
    EXPECT_EQ(newCalls(), Calls{"ibconfig 0 27 1"});
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(w->cbUnAddr->isChecked());
    EXPECT_EQ(newCalls(), Calls{"ibconfig 0 27 0"});
}

TEST_F(GpibTabTest, QuitTakesTheDeviceOfflineAndLeavesFirmwareUpdateDisabled)
{
    init("17");
    newCalls();
    click(w->btnQuit);
    EXPECT_EQ(newCalls(), Calls{"ibonl 32 0"});
    EXPECT_EQ(ActiveLink.gpibDevice(), 32);
    EXPECT_EQ(QApplication::focusWidget(), w->txtGpibAddr);
    EXPECT_EQ(w->txtGpibAddr->lineEdit()->selectedText(), "17");
    EXPECT_FALSE(w->btnUpdate->isEnabled());
    EXPECT_FALSE(w->btnListen->isEnabled());
    EXPECT_TRUE(w->btnInit->isEnabled());
}
