// The factory dialog as a user drives it: "Factory..." in the main window, clicks at
// the places of the arrows and buttons, keys to the focused control, against the
// simulated module on a pseudo-terminal.
#include "terminal/factory.h"
#include "terminal/globals.h"
#include "terminal/main.h"

#include "platform/ui.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <filesystem>

using testsupport::click;

namespace {

constexpr int Com = 7;
const std::string Local = ":CONF:INTER LOCAL\r\n";

// Records pauses like the others and tells the dialog a fixed date and time.
struct CalendarClock : testsupport::ScaledClock {
    using ScaledClock::ScaledClock;
    platform::LocalTime now{2024, 5, 1, 7, 8, 9};
    platform::LocalTime localNow() override { return now; }
};

struct FactoryDialogTest : ::testing::Test {
    testsupport::TempDir cwd;
    std::string oldCwd = std::filesystem::current_path().string();
    testsupport::SimPort port{Com};
    CalendarClock clock{1}; // pauses in real time: the echo and answer polls get full margin
    platform::ScopedClock useClock{clock};
    std::vector<QString> messages;
    std::unique_ptr<TfrmMain> w;
    std::unique_ptr<TfrmFactory> dlg;
    // Every pause but the 5 ms polls of the echo check, with what the module had
    // received when it began.
    std::vector<std::pair<std::uint32_t, std::string>> atPause;

    void SetUp() override
    {
        std::filesystem::current_path(cwd.path());
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        // The dialog shows modally but hands control back, so the test can drive it.
        platform::ui::setModalHandler([](QDialog& d) {
            d.open();
            return 0;
        });
        clock.onSleep([this](std::uint32_t ms) {
            port.settle();
            if (ms != 5)
                atPause.emplace_back(ms, port.module().received());
        });
        w = std::make_unique<TfrmMain>(QStringList{"voltdesk", "mrtq"});
        dlg = std::make_unique<TfrmFactory>(w.get());
        frmFactory = dlg.get();
        ASSERT_TRUE(testsupport::showActive(*w));
        w->tabsInitialization->setCurrentIndex(TfrmMain::TabRs232);
        w->txtComPort->setEditText(QString::number(Com));
        click(w->btnInit);
        ASSERT_TRUE(w->btnFactory->isEnabled());
    }

    void TearDown() override
    {
        frmFactory = nullptr;
        dlg.reset();
        w.reset();
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler({});
        platform::ui::setModalHandler({});
        std::filesystem::current_path(oldCwd);
    }

    static void key(Qt::Key k, Qt::KeyboardModifiers mods = {})
    {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        QTest::keyClick(focus->window()->windowHandle(), k, mods);
    }

    static void type(const QString& text)
    {
        ASSERT_TRUE(QApplication::focusWidget());
        QTest::keyClicks(QApplication::focusWidget(), text);
    }

    // "Factory..." clicked: the query, the fill, the show.
    TfrmFactory& openFactory()
    {
        EXPECT_FALSE(dlg->isVisible()) << "the modal dialog would take the click";
        click(w->btnFactory);
        EXPECT_TRUE(dlg->isVisible());
        dlg->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 30000));
        port.module().clearRecord();
        atPause.clear();
        return *dlg;
    }

    void rawReply(const std::string& raw)
    {
        sim::SerialFaults f;
        f.useRawReply = true;
        f.rawReply = raw;
        port.module().setFaults(f);
    }

    std::string received() { return port.module().received(); }
    std::string value(const char* key) { return port.commands().value(key); }
};

} // namespace

TEST_F(FactoryDialogTest, HasItsControlsWhereTheFormPutsThem)
{
    TfrmFactory& d = *dlg;
    EXPECT_EQ(d.windowTitle(), "frmFactory");
    EXPECT_EQ(d.size(), QSize(590, 294));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(d.pos(), QPoint(492, 359));
    EXPECT_EQ(d.font().family(), "MS Sans Serif");
    EXPECT_EQ(d.font().pointSize(), 8);

    struct Placed {
        QWidget* w;
        QWidget* parent;
        QRect rect;
    };
    const Placed placed[] = {
        {d.grpArcParameter, &d, {16, 16, 329, 265}},  {d.chkArcEnabled, d.grpArcParameter, {16, 32, 217, 17}},
        {d.txtArcNum, d.grpArcParameter, {104, 64, 187, 21}}, {d.udArcNum, d.grpArcParameter, {291, 64, 15, 21}},
        {d.txtArcTime, d.grpArcParameter, {104, 104, 187, 21}}, {d.udArcTime, d.grpArcParameter, {291, 104, 15, 21}},
        {d.txtArcWait, d.grpArcParameter, {104, 144, 187, 21}}, {d.udArcWait, d.grpArcParameter, {291, 144, 15, 21}},
        {d.txtArcRamp, d.grpArcParameter, {104, 184, 187, 21}}, {d.udArcRamp, d.grpArcParameter, {291, 184, 15, 21}},
        {d.btnArcOk, d.grpArcParameter, {232, 232, 75, 25}},  {d.grpLumetra, &d, {352, 16, 225, 121}},
        {d.chkIset, d.grpLumetra, {16, 24, 97, 17}},          {d.btnLumetraOk, d.grpLumetra, {136, 88, 75, 25}},
        {d.grpDateTime, &d, {352, 144, 225, 137}},            {d.txtDate, d.grpDateTime, {16, 24, 193, 21}},
        {d.txtTime, d.grpDateTime, {16, 64, 193, 21}},        {d.btnDateOk, d.grpDateTime, {136, 104, 75, 25}},
    };
    for (const auto& p : placed) {
        EXPECT_EQ(p.w->parentWidget(), p.parent) << p.w->metaObject()->className();
        EXPECT_EQ(p.w->geometry(), p.rect) << p.w->metaObject()->className();
    }
    EXPECT_EQ(d.Label1->pos(), QPoint(16, 68));
    EXPECT_EQ(d.Label2->pos(), QPoint(16, 104));
    EXPECT_EQ(d.Label3->pos(), QPoint(16, 146));
    EXPECT_EQ(d.Label4->pos(), QPoint(16, 188));

    EXPECT_EQ(d.grpArcParameter->title(), "Arc Parameter");
    EXPECT_EQ(d.grpLumetra->title(), "Lumetra");
    EXPECT_EQ(d.grpDateTime->title(), "Date / Time");
    EXPECT_EQ(d.chkArcEnabled->text(), "Arc Management Enabled");
    EXPECT_EQ(d.chkIset->text(), "Iset adjustable");
    EXPECT_EQ(d.Label1->text(), "Arc Number:");
    EXPECT_EQ(d.Label2->text(), "Arc Time (s):");
    EXPECT_EQ(d.Label3->text(), "Arc Wait Time (s):");
    EXPECT_EQ(d.Label4->text(), "Arc Ramp (V/s):");
    for (QPushButton* b : {d.btnArcOk, d.btnLumetraOk, d.btnDateOk})
        EXPECT_EQ(b->text(), "Ok");
    EXPECT_FALSE(d.chkArcEnabled->isChecked());
    EXPECT_FALSE(d.chkIset->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "0");
    EXPECT_EQ(d.txtArcTime->text(), "");
    EXPECT_EQ(d.txtArcWait->text(), "");
    EXPECT_EQ(d.txtArcRamp->text(), "");
    EXPECT_EQ(d.txtDate->text(), "txtDate");
    EXPECT_EQ(d.txtTime->text(), "txtTime");
    for (UpDown* ud : {d.udArcNum, d.udArcTime, d.udArcWait, d.udArcRamp}) {
        EXPECT_EQ(ud->Min(), 0);
        EXPECT_EQ(ud->Max(), 100);
        EXPECT_EQ(ud->Position(), 0);
        EXPECT_EQ(ud->Increment(), 1);
        EXPECT_FALSE(ud->Wrap());
        EXPECT_TRUE(ud->ArrowKeys());
    }
    EXPECT_EQ(d.udArcNum->Associate(), d.txtArcNum);
    EXPECT_EQ(d.udArcTime->Associate(), nullptr);
    EXPECT_FALSE(d.isVisible()); // hidden until "Factory..."
}

TEST_F(FactoryDialogTest, TabWalksTheGroupsInOrder)
{
    TfrmFactory& d = openFactory();
    d.chkArcEnabled->setFocus();
    const std::vector<QWidget*> order = {d.chkArcEnabled, d.txtArcNum, d.txtArcTime, d.txtArcWait,
                                         d.txtArcRamp,    d.btnArcOk,  d.chkIset,   d.btnLumetraOk,
                                         d.btnDateOk,     d.txtDate,   d.txtTime,   d.chkArcEnabled};
    std::vector<QWidget*> seen{QApplication::focusWidget()};
    for (std::size_t i = 1; i < order.size(); ++i) {
        key(Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(seen, order);
}

TEST_F(FactoryDialogTest, TheAnswerFillsTheDialogAndNothingTouchedSendsOnlyLocal)
{
    // The module holds 1;3;0.5;0.01;1000;0.
    TfrmFactory& d = openFactory();
    EXPECT_TRUE(d.chkArcEnabled->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "3");
    EXPECT_EQ(d.txtArcTime->text(), "0.5");
    EXPECT_EQ(d.txtArcWait->text(), "0.01");
    EXPECT_EQ(d.txtArcRamp->text(), "1000");
    EXPECT_FALSE(d.chkIset->isChecked());
    EXPECT_EQ(d.udArcNum->Position(), 3);
    EXPECT_EQ(d.udArcTime->Position(), 9);
    EXPECT_EQ(d.udArcWait->Position(), 4);
    EXPECT_EQ(d.udArcRamp->Position(), 7);
    EXPECT_EQ(d.txtDate->text(), "24-05-01");
    EXPECT_EQ(d.txtTime->text(), "07:08:09");

    click(d.btnArcOk);
    EXPECT_EQ(received(), Local);
    EXPECT_TRUE(atPause.empty());
    EXPECT_FALSE(d.isVisible());
}

TEST_F(FactoryDialogTest, ArrowClicksStepThroughTheTables)
{
    TfrmFactory& d = openFactory();
    click(d.udArcTime->upButton());
    EXPECT_EQ(d.udArcTime->Position(), 10);
    EXPECT_EQ(d.txtArcTime->text(), "2"); // the step 1 is skipped
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:TIME 2\r\n" + Local);
    EXPECT_EQ(atPause, (decltype(atPause){{100, ":CONF:ARC:TIME 2\r\n"}}));
    EXPECT_EQ(value(":CONF:ARC:TIME"), "2");

    // Down from 0.5 lands on 0.5 again: no change, nothing to send.
    port.commands().setValue(":CONF:ARC:TIME", "0.5");
    openFactory();
    click(d.udArcTime->downButton());
    EXPECT_EQ(d.udArcTime->Position(), 8);
    EXPECT_EQ(d.txtArcTime->text(), "0.5");
    click(d.btnArcOk);
    EXPECT_EQ(received(), Local);

    // 0.7 sits between steps: up shows 2, down 0.5.
    port.commands().setValue(":CONF:ARC:TIME", "0.7");
    openFactory();
    EXPECT_EQ(d.udArcTime->Position(), 9);
    click(d.udArcTime->upButton());
    EXPECT_EQ(d.txtArcTime->text(), "2");
    click(d.udArcTime->downButton());
    click(d.udArcTime->downButton());
    EXPECT_EQ(d.txtArcTime->text(), "0.5");

    // 0.01 is a step itself: the up-down sits one above it, and up goes on to 0.05.
    EXPECT_EQ(d.udArcWait->Position(), 4);
    click(d.udArcWait->upButton());
    EXPECT_EQ(d.txtArcWait->text(), "0.05");
    d.windowHandle()->close();

    // At the top step an up click comes back to it and the text stays.
    port.commands().setValue(":CONF:ARC:WAIT", "2");
    openFactory();
    EXPECT_EQ(d.udArcWait->Position(), 11);
    click(d.udArcWait->upButton());
    EXPECT_EQ(d.udArcWait->Position(), 11);
    EXPECT_EQ(d.txtArcWait->text(), "5");
    click(d.udArcWait->upButton());
    EXPECT_EQ(d.udArcWait->Position(), 11);
    EXPECT_EQ(d.txtArcWait->text(), "5");
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:WAIT 5\r\n" + Local);
}

TEST_F(FactoryDialogTest, ValuesBeyondTheTablesStartAtTheFirstStep)
{
    port.commands().setValue(":CONF:ARC:TIME", "5");
    port.commands().setValue(":CONF:ARC:WAIT", "junk");
    port.commands().setValue(":CONF:ARC:RAMP", "5000000");
    TfrmFactory& d = openFactory();
    EXPECT_EQ(d.txtArcWait->text(), "0");
    EXPECT_EQ(d.txtArcRamp->text(), "5E+06");
    EXPECT_EQ(d.udArcTime->Position(), 0);
    EXPECT_EQ(d.udArcWait->Position(), 0);
    EXPECT_EQ(d.udArcRamp->Position(), 0);
    // Down at position 0 would leave the range: no step, no handler, the text stays.
    click(d.udArcRamp->downButton());
    EXPECT_EQ(d.txtArcRamp->text(), "5E+06");
    click(d.udArcTime->upButton());
    click(d.udArcWait->upButton());
    click(d.udArcRamp->upButton());
    EXPECT_EQ(d.txtArcTime->text(), "0.002");
    EXPECT_EQ(d.txtArcWait->text(), "0.002");
    EXPECT_EQ(d.txtArcRamp->text(), "20");
    click(d.udArcRamp->downButton());
    click(d.udArcRamp->downButton());
    EXPECT_EQ(d.udArcRamp->Position(), 0);
    EXPECT_EQ(d.txtArcRamp->text(), "10");
}

TEST_F(FactoryDialogTest, PercentGTextsGoOutAsShown)
{
    port.commands().setValue(":CONF:ARC:TIME", "0.00001");
    TfrmFactory& d = openFactory();
    EXPECT_EQ(d.txtArcTime->text(), "1E-05");
    EXPECT_EQ(d.udArcTime->Position(), 0);
    for (int i = 0; i < 8; ++i) // 1000 at 7 ... 1E+06 at 15
        click(d.udArcRamp->upButton());
    EXPECT_EQ(d.udArcRamp->Position(), 15);
    EXPECT_EQ(d.txtArcRamp->text(), "1E+06");
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:RAMP 1E+06\r\n" + Local);
    EXPECT_EQ(value(":CONF:ARC:RAMP"), "1E+06");
}

// The two arrows share the up-down to its edges, the upper half stepping up; an arrow
// held down goes on stepping.
TEST_F(FactoryDialogTest, TheArrowsFillTheUpDownAndRepeatWhileHeld)
{
    port.commands().setValue(":CONF:ARC:NUM", "50");
    TfrmFactory& d = openFactory();
    QWindow* window = d.windowHandle();
    const auto at = [&](int x, int y) { return d.udArcNum->mapTo(&d, QPoint(x, y)); }; // the up-down is 15 x 21
    const std::pair<QPoint, int> clicks[] = {{at(0, 0), 51}, {at(14, 9), 52}, {at(0, 10), 51}, {at(14, 20), 50}};
    for (const auto& [point, position] : clicks) {
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, point);
        EXPECT_EQ(d.txtArcNum->text(), QString::number(position)) << point.x() << "," << point.y();
    }
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at(7, 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.udArcNum->Position() >= 53; }, 10000));
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at(7, 5));
}

TEST_F(FactoryDialogTest, ArrowKeysStepTheArcNumber)
{
    port.commands().setValue(":CONF:ARC:NUM", "150");
    TfrmFactory& d = openFactory();
    EXPECT_EQ(d.txtArcNum->text(), "100");
    click(d.txtArcNum);
    ASSERT_EQ(QApplication::focusWidget(), d.txtArcNum);
    key(Qt::Key_Up); // no wrap at the top
    EXPECT_EQ(d.txtArcNum->text(), "100");
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(d.txtArcNum->text(), "98");
    EXPECT_EQ(d.udArcNum->Position(), 98);
    // Enter in a box sends nothing and keeps the dialog open.
    key(Qt::Key_Return);
    EXPECT_EQ(received(), "");
    EXPECT_TRUE(d.isVisible());
    // A number typed into the box is where the arrows go on from.
    key(Qt::Key_A, Qt::ControlModifier);
    type("7");
    click(d.udArcNum->upButton());
    EXPECT_EQ(d.txtArcNum->text(), "8");
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:NUM 8\r\n" + Local);

    port.commands().setValue(":CONF:ARC:NUM", "-3");
    openFactory();
    EXPECT_EQ(d.txtArcNum->text(), "0");
    click(d.txtArcNum);
    key(Qt::Key_Down);
    EXPECT_EQ(d.txtArcNum->text(), "0");
    click(d.btnArcOk);
    EXPECT_EQ(received(), Local);

    // A typed number beyond the range is held within it like any position: the arrow
    // that would leave the range changes nothing, the other steps from the edge.
    openFactory();
    click(d.txtArcNum);
    key(Qt::Key_A, Qt::ControlModifier);
    type("150");
    key(Qt::Key_Up);
    EXPECT_EQ(d.txtArcNum->text(), "150");
    EXPECT_EQ(d.udArcNum->Position(), 100);
    key(Qt::Key_Down);
    EXPECT_EQ(d.txtArcNum->text(), "99");
    key(Qt::Key_A, Qt::ControlModifier);
    type("-5");
    key(Qt::Key_Down);
    EXPECT_EQ(d.txtArcNum->text(), "-5");
    EXPECT_EQ(d.udArcNum->Position(), 0);
    key(Qt::Key_Up);
    EXPECT_EQ(d.txtArcNum->text(), "1");
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:NUM 1\r\n" + Local);
}

TEST_F(FactoryDialogTest, EnterClicksTheFocusedOkAndAltTypesNothing)
{
    TfrmFactory& d = openFactory();
    click(d.txtArcRamp);
    key(Qt::Key_End);
    key(Qt::Key_7, Qt::AltModifier);
    EXPECT_EQ(d.txtArcRamp->text(), "1000");
    key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.btnArcOk);
    key(Qt::Key_Return);
    EXPECT_EQ(received(), Local);
    EXPECT_FALSE(d.isVisible());

    openFactory();
    click(d.chkIset);
    key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.btnLumetraOk);
    key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(received(), ":SYS:KAVO:ISET 1\r\n" + Local);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(FactoryDialogTest, ArcOkSendsEveryTouchedSettingInQueryOrder)
{
    port.commands().setValue(":CONF:ARC:CONT", "0");
    TfrmFactory& d = openFactory();
    EXPECT_FALSE(d.chkArcEnabled->isChecked());
    // Ticked and unticked again: touched, and the current state goes out.
    click(d.chkArcEnabled);
    click(d.chkArcEnabled);
    click(d.udArcRamp->upButton());
    click(d.txtArcWait);
    key(Qt::Key_A, Qt::ControlModifier);
    type(" 0.3 ");
    click(d.txtArcNum);
    key(Qt::Key_Up);
    click(d.udArcTime->upButton());
    click(d.btnArcOk);
    const std::string cont = ":CONF:ARC:CONT 0\r\n";
    const std::string num = cont + ":CONF:ARC:NUM 4\r\n";
    const std::string time = num + ":CONF:ARC:TIME 2\r\n";
    const std::string wait = time + ":CONF:ARC:WAIT  0.3 \r\n";
    const std::string ramp = wait + ":CONF:ARC:RAMP 5000\r\n";
    EXPECT_EQ(received(), ramp + Local);
    EXPECT_EQ(atPause, (decltype(atPause){{100, cont}, {100, num}, {100, time}, {100, wait}, {100, ramp}}));
    EXPECT_EQ(value(":CONF:ARC:NUM"), "4");
    EXPECT_EQ(value(":CONF:ARC:RAMP"), "5000");
    EXPECT_EQ(value(":CONF:INTER"), "LOCAL");

    // A value put back by hand still counts as touched.
    openFactory();
    click(d.udArcTime->upButton());
    click(d.udArcTime->downButton());
    EXPECT_EQ(d.txtArcTime->text(), "2");
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:TIME 2\r\n" + Local);
}

TEST_F(FactoryDialogTest, AnOverlongTextIsRefusedWithAMessage)
{
    TfrmFactory& d = openFactory();
    click(d.txtArcTime);
    key(Qt::Key_A, Qt::ControlModifier);
    type(QString(239, '1'));
    click(d.udArcRamp->upButton());
    click(d.btnArcOk);
    EXPECT_EQ(received(), ":CONF:ARC:RAMP 5000\r\n" + Local);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], ":CONF:ARC:TIME not sent: its text is too long.");
    EXPECT_FALSE(d.isVisible());
}

TEST_F(FactoryDialogTest, LumetraOkAlwaysSendsTheIsetOption)
{
    TfrmFactory& d = openFactory();
    click(d.chkIset);
    EXPECT_TRUE(d.chkIset->isChecked());
    click(d.btnLumetraOk);
    EXPECT_EQ(received(), ":SYS:KAVO:ISET 1\r\n" + Local);
    EXPECT_EQ(atPause, (decltype(atPause){{100, ":SYS:KAVO:ISET 1\r\n"}}));
    EXPECT_EQ(value(":SYS:KAVO:ISET"), "1");
    EXPECT_FALSE(d.isVisible());

    port.commands().setValue(":SYS:KAVO:ISET", "0");
    openFactory();
    EXPECT_FALSE(d.chkIset->isChecked());
    click(d.btnLumetraOk);
    EXPECT_EQ(received(), ":SYS:KAVO:ISET 0\r\n" + Local);
}

TEST_F(FactoryDialogTest, DateTimeOkReadsTheClockAndEndsWithTheFactoryReset)
{
    TfrmFactory& d = openFactory();
    click(d.txtDate);
    key(Qt::Key_A, Qt::ControlModifier);
    type("99-99-99");
    clock.now = {2031, 12, 30, 23, 59, 58};
    click(d.btnDateOk);
    const std::string date = "*DATE,31-12-30\r\n";
    const std::string time = date + "*TIME,23:59:58\r\n";
    const std::string reset = time + ":SYS:KAVO:FACTORYRESET 1\r\n";
    EXPECT_EQ(received(), reset + Local);
    EXPECT_EQ(atPause, (decltype(atPause){{100, date}, {100, time}, {300, reset}}));
    EXPECT_EQ(value("FACTORYRESET COUNT"), "1");
    EXPECT_EQ(value("*DATE"), "31-12-30");
    EXPECT_FALSE(d.isVisible());
    // The next show shows the clock again.
    openFactory();
    EXPECT_EQ(d.txtDate->text(), "31-12-30");
    EXPECT_EQ(d.txtTime->text(), "23:59:58");
}

TEST_F(FactoryDialogTest, EscapeKeepsItOpenTheCloseBoxSendsNothingAndTheNextShowStartsClean)
{
    TfrmFactory& d = openFactory();
    click(d.chkArcEnabled);
    click(d.udArcTime->upButton());
    key(Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());
    d.windowHandle()->close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(received(), "");
    EXPECT_EQ(value(":CONF:ARC:TIME"), "0.5");

    openFactory();
    EXPECT_TRUE(d.chkArcEnabled->isChecked()); // refilled from the module
    EXPECT_EQ(d.txtArcTime->text(), "0.5");
    click(d.btnArcOk);
    EXPECT_EQ(received(), Local);
}

TEST_F(FactoryDialogTest, WithoutACompleteAnswerTheDialogShowsWhatItHeld)
{
    // The first time, the form's own texts.
    sim::SerialFaults silent;
    silent.noAnswer = true;
    port.module().setFaults(silent);
    clock.clear();
    TfrmFactory& d = openFactory();
    EXPECT_EQ(clock.sleepCount(10), 50u);
    EXPECT_FALSE(d.chkArcEnabled->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "0");
    EXPECT_EQ(d.txtArcTime->text(), "");
    EXPECT_EQ(d.udArcTime->Position(), 0);
    click(d.udArcTime->upButton());
    EXPECT_EQ(d.txtArcTime->text(), "0.002");
    d.windowHandle()->close();

    // Then what the last fill put there.
    port.module().setFaults({});
    openFactory();
    d.windowHandle()->close();
    rawReply(std::string(300, '9'));
    openFactory();
    EXPECT_TRUE(d.chkArcEnabled->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "3");
    EXPECT_EQ(d.txtArcTime->text(), "0.5");
    EXPECT_EQ(d.txtArcRamp->text(), "1000");

    // Fewer than six fields: the missing ones keep their values.
    d.windowHandle()->close();
    rawReply(std::string("0;7\0junk\r\n", 10));
    openFactory();
    EXPECT_FALSE(d.chkArcEnabled->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "7");
    EXPECT_EQ(d.txtArcTime->text(), "0.5");
    EXPECT_EQ(d.txtArcWait->text(), "0.01");
    EXPECT_EQ(d.udArcWait->Position(), 4);
    // Without field 2 a number typed into the box stays as typed.
    click(d.txtArcNum);
    key(Qt::Key_A, Qt::ControlModifier);
    type("42");
    d.windowHandle()->close();
    rawReply("1\r\n");
    openFactory();
    EXPECT_TRUE(d.chkArcEnabled->isChecked());
    EXPECT_EQ(d.txtArcNum->text(), "42");

    // Seven values: the sixth field reads as the sixth value.
    d.windowHandle()->close();
    rawReply("1;2;3;4;5;1;0\r\n");
    openFactory();
    EXPECT_TRUE(d.chkIset->isChecked());
    EXPECT_EQ(d.txtArcRamp->text(), "5");
    click(d.btnArcOk);
    EXPECT_EQ(received(), Local);
}
