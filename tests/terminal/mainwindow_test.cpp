// The main window driven the way a user drives it: keys and clicks go to the window and
// from there to the focus widget, against the simulated module on a pseudo-terminal.
#include "terminal/factory.h"
#include "terminal/globals.h"
#include "terminal/main.h"

#include "devices/gpib_testing.h"
#include "platform/ui.h"
#include "platform/version.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using testsupport::click;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr int Com = 7;
constexpr const char* Identification = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07";

struct MainWindowTest : ::testing::Test {
    testsupport::TempDir cwd;
    std::string oldCwd = std::filesystem::current_path().string();
    testsupport::SimPort port{Com};
    // The module answers on a thread of its own; the program's clock moves on only once
    // the module has taken and answered what the program sent, so that the echo and
    // answer limits run out only when the module really stays silent, however loaded
    // the machine is.
    testsupport::FakeClock clock;
    platform::ScopedClock useClock{clock};
    testsupport::ScopedFollow follow{clock, port.module()};
    std::vector<QString> messages;
    std::vector<QString> openedFolders;
    std::unique_ptr<TfrmMain> w;

    void SetUp() override
    {
        std::filesystem::current_path(cwd.path());
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        platform::ui::setOpenFolderHandler([this](const QString& f) { openedFolders.push_back(f); });
    }

    void TearDown() override
    {
        w.reset();
        gpib_testing::ResetLayer(); // a driver library, once loaded, would stay for later tests
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler({});
        platform::ui::setOpenFolderHandler({});
        platform::resetVersionBlock();
        std::filesystem::current_path(oldCwd);
    }

    TfrmMain& open(QStringList args = {"voltdesk"})
    {
        w = std::make_unique<TfrmMain>(args);
        EXPECT_TRUE(testsupport::showActive(*w));
        return *w;
    }

    // ---- input as the window system delivers it ----
    QWindow* window() const { return w->windowHandle(); }
    static QWidget* focus() { return QApplication::focusWidget(); }
    void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(w->windowHandle(), key, mods); }
    void alt(Qt::Key key) { press(key, Qt::AltModifier); }
    void type(const QString& text)
    {
        ASSERT_NE(focus(), nullptr);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }
    // Tab until the control has the focus, as a user would.
    bool tabTo(QWidget* control)
    {
        for (int i = 0; i < 60 && focus() != control; ++i)
            press(Qt::Key_Tab);
        return focus() == control;
    }
    // The command box by its accelerator, its text replaced by typing.
    void typeCommand(const QString& command)
    {
        alt(Qt::Key_M);
        press(Qt::Key_A, Qt::ControlModifier);
        type(command);
    }

    void initCom()
    {
        alt(Qt::Key_1);
        click(w->btnInit);
    }

    // Types a command into the command box and presses Enter.
    void query(const QString& command)
    {
        typeCommand(command);
        press(Qt::Key_Return);
    }

    void reply(const std::string& raw)
    {
        sim::SerialFaults f;
        f.useRawReply = true;
        f.rawReply = raw;
        port.module().setFaults(f);
    }

    QString lastLog() const { return w->txtLog->lineText(w->txtLog->lineCount() - 1); }
    std::uint32_t lastColour() const { return w->txtLog->lineColour(w->txtLog->lineCount() - 1); }
    QString bytes() const { return w->lblBytesRcvd->text(); }

    QStringList history() const
    {
        QStringList out;
        for (int i = 0; i < w->txtCmd->count(); ++i)
            out << w->txtCmd->itemText(i);
        return out;
    }
};

struct Enabled {
    bool init, quit, talk, listen, query, test, factory, update, tabs;
};

void expectEnabled(const TfrmMain& w, const Enabled& e)
{
    EXPECT_EQ(w.btnInit->isEnabled(), e.init);
    EXPECT_EQ(w.btnQuit->isEnabled(), e.quit);
    EXPECT_EQ(w.btnTalk->isEnabled(), e.talk);
    EXPECT_EQ(w.btnListen->isEnabled(), e.listen);
    EXPECT_EQ(w.btnQuery->isEnabled(), e.query);
    EXPECT_EQ(w.btnTest->isEnabled(), e.test);
    EXPECT_EQ(w.btnFactory->isEnabled(), e.factory);
    EXPECT_EQ(w.btnUpdate->isEnabled(), e.update);
    EXPECT_EQ(w.tabsInitialization->isEnabled(), e.tabs);
}

constexpr Enabled NoLink{true, false, false, false, false, false, false, true, true};
constexpr Enabled Rs232Link{false, true, true, false, true, true, false, false, false};
constexpr Enabled FailedInit{true, false, false, false, false, false, false, false, true};

} // namespace

TEST_F(MainWindowTest, ComesUpWithTheControlsInTheirStartStates)
{
    auto& f = open();
    EXPECT_EQ(f.windowTitle(), "Voltdesk v1.0.20");
    EXPECT_EQ(f.size(), QSize(631, 672));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_EQ(f.grpInit->geometry(), QRect(8, 1, 617, 177));
    EXPECT_EQ(f.grpCommand->geometry(), QRect(8, 184, 617, 89));
    EXPECT_EQ(f.grpScript->geometry(), QRect(8, 280, 353, 89));
    EXPECT_EQ(f.grpUpdate->geometry(), QRect(368, 280, 257, 89));
    EXPECT_EQ(f.txtLog->geometry(), QRect(8, 376, 617, 273));
    EXPECT_EQ(f.tabsInitialization->geometry(), QRect(16, 24, 593, 113));
    EXPECT_EQ(f.grpUpdate->title(), "Firmware Update && Factory Settings");
    EXPECT_EQ(f.tabsInitialization->currentIndex(), 0);
    EXPECT_EQ(f.tabsInitialization->tabText(1), "&2 GPIB (IEEE-488)");
    expectEnabled(f, NoLink);
    EXPECT_FALSE(f.cbNoEcho->isVisible());
    EXPECT_FALSE(f.cbRVX->isVisibleTo(f.tabRs232));
    EXPECT_FALSE(f.cbRVX->isEnabled());
    EXPECT_EQ(f.txtGpibAddr->count(), 30);
    EXPECT_EQ(f.txtGpibAddr->currentIndex(), 16);
    EXPECT_EQ(f.txtGpibAddr->currentText(), "17");
    EXPECT_EQ(f.txtDelay->text(), "10");
    EXPECT_EQ(f.txtIpAddr->text(), "192.168.1.10");
    EXPECT_EQ(f.txtTcpPort->text(), "10001");
    EXPECT_EQ(f.txtCmd->currentText(), "*IDN?");
    EXPECT_EQ(f.txtCmd->count(), 0);
    EXPECT_EQ(f.txtFilename->text(), "script.txt");
    EXPECT_EQ(f.cbFilament->currentText(), "Filament 1");
    EXPECT_EQ(f.lblBytesRcvd->text(), "0");
    EXPECT_EQ(f.FileOpenDlg.title, "Skript laden");
    // The COM list comes from the map and the COM box has the focus, its text selected.
    EXPECT_EQ(f.txtComPort->currentText(), "7");
    EXPECT_EQ(focus(), f.txtComPort);
    EXPECT_EQ(f.txtComPort->lineEdit()->selectedText(), "7");
}

// Every caption of both forms shows whole, in the room its control leaves beside the
// box or bevel, and runs under no other control of its parent.
TEST_F(MainWindowTest, EveryCaptionShowsWholeInBothWindows)
{
    auto& f = open({"voltdesk", "mrtq"});
    TfrmFactory factory(&f);
    factory.ensurePolished();

    int checked = 0;
    for (QWidget* form : {static_cast<QWidget*>(&f), static_cast<QWidget*>(&factory)}) {
        for (QWidget* w : form->findChildren<QWidget*>()) {
            if (w->isHidden() || w->window() != form)
                continue;
            QString text;
            QRect room;
            int align = Qt::AlignLeft | Qt::AlignVCenter;
            QStyleOptionButton opt;
            opt.initFrom(w);
            if (auto* l = qobject_cast<QLabel*>(w)) {
                text = l->text();
                room = l->contentsRect();
                align = int(l->alignment());
            } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
                text = opt.text = c->text();
                room = w->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, w);
            } else if (auto* b = qobject_cast<QPushButton*>(w)) {
                text = opt.text = b->text();
                room = w->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, w);
                align = Qt::AlignCenter;
            } else {
                continue;
            }
            ++checked;
            const QRect drawn = w->style()->itemTextRect(QFontMetrics(w->font()), room, align | Qt::TextShowMnemonic,
                                                         true, text);
            EXPECT_GE(drawn.left(), room.left()) << text.toStdString();
            EXPECT_LE(drawn.right(), room.right()) << text.toStdString() << " needs " << drawn.width() << " of "
                                                   << room.width();
            const QRect inParent = drawn.translated(w->pos());
            for (QObject* o : w->parentWidget()->children()) {
                auto* sibling = qobject_cast<QWidget*>(o);
                if (sibling && sibling != w && !sibling->isHidden()) {
                    EXPECT_FALSE(inParent.intersects(sibling->geometry()))
                        << text.toStdString() << " runs under a " << sibling->metaObject()->className();
                }
            }
        }
    }
    // 12 labels, 6 check boxes and 18 buttons; cbRVX stays hidden.
    EXPECT_EQ(checked, 36);
}

TEST_F(MainWindowTest, OpensCentredOnTheScreen)
{
    auto& f = open();
    const QRect screen = f.screen()->availableGeometry();
    const QRect frame = f.frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 1);
    if (frame.height() <= screen.height()) {
        EXPECT_LE(std::abs(frame.center().y() - screen.center().y()), 1);
    } else { // taller than the screen: the caption stays on it
        EXPECT_EQ(frame.top(), screen.top());
    }
}

TEST_F(MainWindowTest, CaptionWithoutVersionBlockStillReadsTheCommandLine)
{
    platform::overrideVersionBlock(std::nullopt);
    auto& f = open({"voltdesk", "--ip", "10.1.2.3", "mrtq"});
    EXPECT_EQ(f.windowTitle(), "Voltdesk v");
    EXPECT_EQ(f.txtIpAddr->text(), "10.1.2.3");
    EXPECT_TRUE(FactoryMode);
    EXPECT_TRUE(f.cbNoEcho->isVisible());
    EXPECT_EQ(ScriptFolder, "I:\\PRODDATA\\TOOLS\\Voltdesk\\scripts");
    EXPECT_EQ(FirmwareFolder, "I:\\PRODDATA\\TOOLS\\Voltdesk\\hex");

    platform::VersionBlock noString;
    noString.translations.push_back({0x0409, 0x04B0});
    platform::overrideVersionBlock(noString);
    EXPECT_EQ(TfrmMain({"voltdesk"}).windowTitle(), "Voltdesk v");
}

TEST_F(MainWindowTest, InitAndQuitSwitchTheControlsOnTheRs232Tab)
{
    auto& f = open();
    initCom();
    EXPECT_TRUE(messages.empty());
    ASSERT_TRUE(ActiveLink.port());
    EXPECT_TRUE(ActiveLink.port()->IsOpen());
    EXPECT_EQ(ActiveLink.commandDelay(), 10);
    expectEnabled(f, Rs232Link);
    EXPECT_EQ(focus(), f.txtCmd);
    EXPECT_EQ(f.txtCmd->lineEdit()->selectedText(), "*IDN?");

    click(f.btnQuit);
    EXPECT_FALSE(ActiveLink.port());
    expectEnabled(f, NoLink);
    EXPECT_EQ(focus(), f.txtComPort);
    EXPECT_EQ(f.txtComPort->lineEdit()->selectedText(), "7");
    // The port is free again for other programs.
    bool ok = false;
    CRS232 other(Com, 9600, ok);
    EXPECT_TRUE(ok);
}

// On every tab Quit leaves the focus in the tab's address box with its first 100
// characters selected, however long the text is.
TEST_F(MainWindowTest, QuitSelectsTheFirstHundredCharactersOfTheAddressBoxOfEachTab)
{
    testsupport::ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "17"};
    testsupport::ScopedEnv library{"VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY};
    auto& f = open();
    struct Tab {
        const char* name;
        Qt::Key accelerator;
        QWidget* box;
        QLineEdit* edit;
        QString text; // longer than 100 characters, and still a valid address
    };
    const Tab tabs[]{
        {"RS-232", Qt::Key_1, f.txtComPort, f.txtComPort->lineEdit(), QString(110, '0') + "7"},
        {"GPIB", Qt::Key_2, f.txtGpibAddr, f.txtGpibAddr->lineEdit(), QString(110, '0') + "17"},
        {"Ethernet", Qt::Key_3, f.txtIpAddr, f.txtIpAddr, QString(120, '9')},
    };
    for (const Tab& t : tabs) {
        const char* name = t.name;
        alt(t.accelerator);
        click(t.box);
        press(Qt::Key_A, Qt::ControlModifier);
        type(t.text);
        press(Qt::Key_Return); // Init
        ASSERT_FALSE(f.btnInit->isEnabled()) << name;
        ASSERT_EQ(focus(), f.txtCmd) << name;
        alt(Qt::Key_U); // Quit
        EXPECT_EQ(focus(), t.box) << name;
        EXPECT_EQ(t.edit->text(), t.text) << name;
        EXPECT_EQ(t.edit->selectionStart(), 0) << name;
        EXPECT_EQ(t.edit->selectedText(), t.text.left(100)) << name;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, FactoryButtonFollowsFactoryModeAfterAnRs232Init)
{
    auto& f = open({"voltdesk", "mrtq"});
    initCom();
    EXPECT_TRUE(f.btnFactory->isEnabled());
    click(f.btnQuit);
    EXPECT_FALSE(f.btnFactory->isEnabled());
}

TEST_F(MainWindowTest, InitFailuresLeaveTheWindowUsable)
{
    auto& f = open();
    // A port held by another program.
    {
        bool ok = false;
        CRS232 holder(Com, 9600, ok);
        ASSERT_TRUE(ok);
        initCom();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "Error: Init RS-232!\n\nMaybe COM Port 7 is used by other Application?");
        expectEnabled(f, FailedInit);
        ASSERT_TRUE(ActiveLink.port()); // kept, with no open port
        EXPECT_FALSE(ActiveLink.port()->IsOpen());
    }
    // A COM number that is not a number: the conversion error, no new port object.
    CRS232* before = ActiveLink.port();
    click(f.txtComPort);
    press(Qt::Key_A, Qt::ControlModifier);
    type("x3");
    click(f.btnInit);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "'x3' is not a valid integer value");
    EXPECT_EQ(ActiveLink.port(), before);
    // A Delay field that is not a number stops Init after its first step.
    f.txtComPort->setEditText("7");
    alt(Qt::Key_2);
    click(f.txtDelay);
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_Delete);
    initCom();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], "'' is not a valid integer value");
    expectEnabled(f, FailedInit);
    // Corrected, Init goes through.
    alt(Qt::Key_2);
    click(f.txtDelay);
    type(" 25");
    initCom();
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(ActiveLink.commandDelay(), 25);
    expectEnabled(f, Rs232Link);
}

TEST_F(MainWindowTest, QueryWithEnterLogsTheAnswerInBlackAndKeepsTheHistory)
{
    auto& f = open();
    initCom();
    query("*idn?");
    ASSERT_EQ(f.txtLog->lineCount(), 1);
    EXPECT_EQ(lastLog(), Identification);
    EXPECT_EQ(lastColour(), 0u);
    EXPECT_EQ(bytes(), "45");
    EXPECT_EQ(port.module().lines(), std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(history(), QStringList{"*IDN?"});
    EXPECT_EQ(focus(), f.txtCmd);
    EXPECT_EQ(f.txtCmd->lineEdit()->selectedText(), "*IDN?");

    query("VOLT 100");
    EXPECT_EQ(lastLog(), "<Command sent>");
    EXPECT_EQ(bytes(), "0");
    query("volt?");
    EXPECT_EQ(lastLog(), "100");
    EXPECT_EQ(port.module().lines().size(), 3u); // one exchange per Query
}

TEST_F(MainWindowTest, EnterInTheCommandBoxDoesNothingWhileQueryIsDisabled)
{
    auto& f = open();
    typeCommand("volt?");
    ASSERT_EQ(focus(), f.txtCmd);
    press(Qt::Key_Return);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(f.txtLog->lineCount(), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(history(), QStringList());
    EXPECT_EQ(f.txtCmd->currentText(), "VOLT?");
    EXPECT_TRUE(port.module().lines().empty());
    expectEnabled(f, NoLink);
}

TEST_F(MainWindowTest, EnterInEachAddressBoxRunsInitForItsTab)
{
    auto& f = open();
    // COM box: it has the focus at start.
    ASSERT_EQ(focus(), f.txtComPort);
    press(Qt::Key_Return);
    ASSERT_TRUE(ActiveLink.port() && ActiveLink.port()->IsOpen());
    expectEnabled(f, Rs232Link);
    EXPECT_EQ(f.txtLog->lineCount(), 0); // Enter did not also run Query
    EXPECT_TRUE(port.module().lines().empty());
    click(f.btnQuit);

    // IP address and TCP port, with Return and with the keypad's Enter.
    alt(Qt::Key_3);
    click(f.txtTcpPort);
    press(Qt::Key_A, Qt::ControlModifier);
    type("x1");
    press(Qt::Key_Return);
    ASSERT_EQ(messages.size(), 1u); // a port that is not a number stops Init
    EXPECT_EQ(messages[0], "'x1' is not a valid integer value");
    EXPECT_TRUE(f.btnInit->isEnabled());
    press(Qt::Key_A, Qt::ControlModifier);
    type("10002");
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(f.ethernet->sock->Address, "192.168.1.10");
    EXPECT_EQ(f.ethernet->sock->Port, 10002);
    EXPECT_FALSE(f.ethernet->sock->Active()); // the first Talk connects
    EXPECT_FALSE(f.btnInit->isEnabled());
    EXPECT_FALSE(f.tabsInitialization->isEnabled());
    EXPECT_TRUE(f.btnTalk->isEnabled());
    click(f.btnQuit);
    EXPECT_EQ(focus(), f.txtIpAddr);
    EXPECT_FALSE(f.btnUpdate->isEnabled()); // only an RS-232 Quit gives it back

    press(Qt::Key_A, Qt::ControlModifier);
    type("10.0.0.9");
    press(Qt::Key_Return);
    EXPECT_EQ(f.ethernet->sock->Address, "10.0.0.9");
    EXPECT_FALSE(f.btnInit->isEnabled());
    click(f.btnQuit);

    // GPIB address: without a driver library Init fails with its message.
    testsupport::ScopedEnv noLibrary("VOLTDESK_GPIB_LIBRARY", "/nonexistent/libgpib.so");
    alt(Qt::Key_2);
    click(f.txtGpibAddr);
    ASSERT_EQ(focus(), f.txtGpibAddr);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Error: Init GPIB!");
    EXPECT_EQ(ActiveLink.gpibDevice(), -1);
}

TEST_F(MainWindowTest, EnterOnAFocusedButtonRunsThatButtonAndInTheLogNothing)
{
    writeFile(cwd.file("history.txt"), "");
    auto& f = open();
    initCom();
    // Talk: the command goes out once, and the focus stays on Talk (Query would take
    // it to the command box).
    ASSERT_TRUE(tabTo(f.btnTalk));
    press(Qt::Key_Return);
    EXPECT_EQ(port.module().lines(), std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(focus(), f.btnTalk);

    // A click on a line of the log to copy it: Enter there is the log's own.
    QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, f.txtLog->viewport()->mapTo(&f, QPoint(20, 4)));
    ASSERT_EQ(focus(), f.txtLog);
    press(Qt::Key_Return);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(port.module().lines().size(), 1u);

    // Save Log to File: the file, and nothing sent.
    ASSERT_TRUE(tabTo(f.btnSave));
    press(Qt::Key_Return);
    EXPECT_EQ(QDir(QString::fromStdString(cwd.path())).entryList({"LOG_*.TXT"}).size(), 1);
    EXPECT_EQ(port.module().lines().size(), 1u);

    // Quit: the link closes and nothing is sent.
    ASSERT_TRUE(tabTo(f.btnQuit));
    press(Qt::Key_Return);
    EXPECT_FALSE(ActiveLink.port());
    expectEnabled(f, NoLink);
    EXPECT_EQ(port.module().lines().size(), 1u);
}

// Every accelerator fires while its control is enabled; while it is disabled, and for
// a letter that no control has, Alt+key does nothing and types nothing.
TEST_F(MainWindowTest, AcceleratorsFireOnlyForEnabledControlsAndAltNeverTypes)
{
    auto& f = open();
    AddLogLine(&f, "old", 0);
    ASSERT_EQ(focus(), f.txtComPort);
    // No link: Quit, Talk, Listen and Query are disabled.
    for (Qt::Key k : {Qt::Key_U, Qt::Key_T, Qt::Key_L, Qt::Key_Q, Qt::Key_X, Qt::Key_5, Qt::Key_Space})
        alt(k);
    EXPECT_EQ(f.txtComPort->currentText(), "7");
    EXPECT_TRUE(port.module().lines().empty());
    EXPECT_TRUE(messages.empty());
    expectEnabled(f, NoLink);
    // The pages while the tab control is enabled.
    alt(Qt::Key_2);
    EXPECT_EQ(f.tabsInitialization->currentIndex(), 1);
    alt(Qt::Key_3);
    EXPECT_EQ(f.tabsInitialization->currentIndex(), 2);
    alt(Qt::Key_1);
    EXPECT_EQ(f.tabsInitialization->currentIndex(), 0);
    // Clear Log, and Co&mmand: the command box.
    alt(Qt::Key_C);
    EXPECT_EQ(f.txtLog->lineCount(), 0);
    alt(Qt::Key_M);
    EXPECT_EQ(focus(), f.txtCmd);
    alt(Qt::Key_Z);
    EXPECT_EQ(f.txtCmd->currentText(), "*IDN?");
    // Init.
    click(f.txtComPort);
    alt(Qt::Key_I);
    ASSERT_TRUE(ActiveLink.port() && ActiveLink.port()->IsOpen());
    EXPECT_EQ(focus(), f.txtCmd);

    // A link: Init, the pages and Listen (RS-232) are disabled.
    for (Qt::Key k : {Qt::Key_I, Qt::Key_2, Qt::Key_3, Qt::Key_L, Qt::Key_W})
        alt(k);
    EXPECT_EQ(f.txtCmd->currentText(), "*IDN?");
    EXPECT_EQ(f.tabsInitialization->currentIndex(), 0);
    EXPECT_TRUE(port.module().lines().empty());
    press(Qt::Key_Return);
    EXPECT_EQ(port.module().lines(), std::vector<std::string>{"*IDN?"});
    // Talk and Query.
    alt(Qt::Key_T);
    EXPECT_EQ(port.module().lines().size(), 2u);
    alt(Qt::Key_Q);
    EXPECT_EQ(port.module().lines().size(), 3u);
    EXPECT_EQ(f.txtLog->lineCount(), 3);
    // Quit.
    alt(Qt::Key_U);
    EXPECT_FALSE(ActiveLink.port());
    expectEnabled(f, NoLink);
    EXPECT_EQ(focus(), f.txtComPort);
}

TEST_F(MainWindowTest, HistoryMovesASentCommandToTheEnd)
{
    auto& f = open();
    f.txtCmd->addItems({"a", "B", "C"});
    initCom();
    typeCommand("a");
    EXPECT_EQ(f.txtCmd->currentText(), "A"); // the box takes upper case only
    ASSERT_TRUE(tabTo(f.btnTalk));
    press(Qt::Key_Space);
    // The search ignores case: the old "a" goes, "A" comes last.
    EXPECT_EQ(history(), QStringList({"B", "C", "A"}));
    EXPECT_EQ(f.txtCmd->currentIndex(), 2);
    // Talk does not move the focus, nor log the command itself.
    EXPECT_EQ(focus(), f.btnTalk);
    EXPECT_EQ(f.txtLog->lineCount(), 1);

    // Typed letters outside ASCII keep their Latin-1 bytes on the wire.
    typeCommand("");
    press(Qt::Key_Delete);
    for (QChar c : QString::fromLatin1("volt 5\xB5" "a\xE9")) // keyClicks takes ASCII only
        QTest::sendKeyEvent(QTest::Click, focus(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    EXPECT_EQ(f.txtCmd->currentText(), QString::fromLatin1("VOLT 5\xB5" "A\xC9"));
    click(f.btnTalk);
    EXPECT_EQ(port.module().lines().back(), "VOLT 5\xB5" "A\xC9");
}

TEST_F(MainWindowTest, DownRecallsTheOldestLoadedCommandFirst)
{
    writeFile(cwd.file("history.txt"), "A?\r\nB?\r\nC?\r\n");
    auto& f = open();
    press(Qt::Key_Return); // Init from the COM box
    ASSERT_EQ(focus(), f.txtCmd);
    ASSERT_EQ(f.txtCmd->currentText(), "*IDN?");
    press(Qt::Key_Down);
    EXPECT_EQ(f.txtCmd->currentText(), "A?");
    press(Qt::Key_Return);
    // Talk selects the last entry, the one just sent, so Up goes to the one before.
    press(Qt::Key_Up);
    press(Qt::Key_Return);
    EXPECT_EQ(port.module().lines(), (std::vector<std::string>{"A?", "C?"}));
}

TEST_F(MainWindowTest, TalkLogsTheAnswerBytesAsLatin1)
{
    auto& f = open();
    initCom();
    reply(std::string("\xB5V\0X\xFF\r\nrest", 11));
    click(f.btnTalk);
    EXPECT_EQ(lastLog(), QString::fromLatin1("\xB5V\0X\xFF", 5));
    EXPECT_EQ(lastColour(), 0u);
    EXPECT_EQ(bytes(), "11");
}

TEST_F(MainWindowTest, NoAnswerLogsCommandSentWithByteCountZero)
{
    auto& f = open();
    initCom();
    sim::SerialFaults silent;
    silent.noAnswer = true;
    port.module().setFaults(silent);
    f.lblBytesRcvd->setText("9");
    click(f.btnTalk);
    EXPECT_EQ(lastLog(), "<Command sent>");
    EXPECT_EQ(lastColour(), 0u);
    EXPECT_EQ(bytes(), "0");
}

TEST_F(MainWindowTest, AnEchoFailureLogsNoCommunicationInRed)
{
    auto& f = open({"voltdesk", "mrtq"});
    initCom();
    f.lblBytesRcvd->setText("12");
    sim::SerialFaults f1;
    f1.wrongEchoAt = 2;
    port.module().setFaults(f1);
    click(f.btnTalk);
    EXPECT_EQ(lastLog(), "<No Communication>");
    EXPECT_EQ(lastColour(), 255u);
    EXPECT_EQ(bytes(), "12");

    // A module that has gone away fails the write itself.
    click(f.btnQuit);
    click(f.cbNoEcho);
    ASSERT_TRUE(f.cbNoEcho->isChecked());
    initCom();
    port.module().setFaults({});
    port.module().stop();
    click(f.btnTalk);
    EXPECT_EQ(lastLog(), "<No Communication>");
    EXPECT_EQ(lastColour(), 255u);
}

TEST_F(MainWindowTest, NoEchoSendsAPlainWrite)
{
    auto& f = open({"voltdesk", "mrtq"});
    click(f.cbNoEcho);
    initCom();
    sim::SerialFaults quiet;
    quiet.noEcho = true;
    port.module().setFaults(quiet);
    query("*IDN?");
    EXPECT_EQ(lastLog(), Identification);
}

TEST_F(MainWindowTest, ALongCommandIsCutSoThatCrLfStillFitsButKeptWholeInTheHistory)
{
    auto& f = open();
    initCom();
    const QString longCommand(300, 'V');
    f.txtCmd->setEditText(longCommand);
    click(f.btnTalk);
    ASSERT_EQ(port.module().lines().size(), 1u);
    EXPECT_EQ(port.module().lines()[0], std::string(253, 'V'));
    EXPECT_EQ(history(), QStringList{longCommand});
}

TEST_F(MainWindowTest, HistoryFileIsLoadedAndWrittenBackOnlyWhenItExists)
{
    writeFile(cwd.file("history.txt"), "volt?\r\n\r\n*IDN?\rCURR 1\n\xB5v\xDF\xFF\n");
    {
        auto& f = open();
        EXPECT_EQ(history(), QStringList({"VOLT?", "", "*IDN?", "CURR 1", QString::fromLatin1("\xB5V\xDF\xFF")}));
        EXPECT_EQ(f.txtCmd->currentText(), "*IDN?");
        f.txtCmd->addItem("OUTP ON");
        f.close();
    }
    EXPECT_EQ(readFile(cwd.file("history.txt")), "VOLT?\r\n\r\n*IDN?\r\nCURR 1\r\n\xB5V\xDF\xFF\r\nOUTP ON\r\n");

    // Without the file nothing is created.
    std::filesystem::remove(cwd.file("history.txt"));
    open().txtCmd->addItem("X");
    w->close();
    EXPECT_FALSE(std::filesystem::exists(cwd.file("history.txt")));
}

TEST_F(MainWindowTest, AReadOnlyHistoryIsLoadedButNeverRewritten)
{
    writeFile(cwd.file("history.txt"), "A\r\n");
    std::filesystem::permissions(cwd.file("history.txt"), std::filesystem::perms::owner_read);
    open().txtCmd->addItem("B");
    EXPECT_EQ(history(), QStringList({"A", "B"}));
    w->close();
    // Root may write it, and still must not.
    EXPECT_EQ(readFile(cwd.file("history.txt")), "A\r\n");
}

TEST_F(MainWindowTest, ComPortListFollowsTheMapAndIsRebuiltOnDropDown)
{
    writeFile(port.mapFile(), "/dev/x COM3\n/dev/y COM1\n/dev/x COM3\n/dev/z MODEM\n");
    auto& f = open();
    QStringList items;
    for (int i = 0; i < f.txtComPort->count(); ++i)
        items << f.txtComPort->itemText(i);
    EXPECT_EQ(items, QStringList({"3", "1", "3", "MODEM"}));
    EXPECT_EQ(f.txtComPort->currentText(), "3");

    type("12");
    writeFile(port.mapFile(), "/dev/y COM4\n");
    press(Qt::Key_Down, Qt::AltModifier); // drops the list down
    EXPECT_EQ(f.txtComPort->count(), 1);
    EXPECT_EQ(f.txtComPort->currentText(), "4");
    f.txtComPort->hidePopup();
}

TEST_F(MainWindowTest, SaveLogWritesEveryLineWholeAndClearLogEmptiesIt)
{
    auto& f = open();
    AddLogLine(&f, "first", 0);
    AddLogLine(&f, QString::fromLatin1("\xB5 second\xFF", 9), 255);
    const QString longLine = QString(254, 'L') + "E";
    AddLogLine(&f, longLine, 0);
    AddLogLine(&f, "X\nY\rZ", 0);
    EXPECT_EQ(f.txtLog->lineColour(1), 255u);
    click(f.btnSave);
    EXPECT_TRUE(messages.empty());
    QStringList logs = QDir(QString::fromStdString(cwd.path())).entryList({"LOG_*.TXT"});
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(QRegularExpression("^LOG_\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.TXT$").match(logs[0]).hasMatch());
    EXPECT_EQ(readFile(cwd.file(logs[0].toStdString())),
              "first\r\n\xB5 second\xFF\r\n" + std::string(254, 'L') + "E\r\nX\nY\rZ\r\n");

    // An unwritable folder: the error box, and the log keeps its lines.
    std::filesystem::remove(cwd.file(logs[0].toStdString()));
    if (::geteuid() != 0)
        std::filesystem::permissions(cwd.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    else
        std::filesystem::current_path("/proc"); // root writes anywhere else
    click(f.btnSave);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Cannot create file")) << messages[0].toStdString();
    EXPECT_EQ(f.txtLog->lineCount(), 4);

    f.lblBytesRcvd->setText("44");
    click(f.btnClearLog);
    EXPECT_EQ(f.txtLog->lineCount(), 0);
    EXPECT_EQ(f.lblBytesRcvd->text(), "0");
}

TEST_F(MainWindowTest, DeviceManagerOpensTheFolderOfTheSerialPortMap)
{
    auto& f = open();
    click(f.btnDeviceManager);
    ASSERT_EQ(openedFolders.size(), 1u);
    EXPECT_EQ(openedFolders[0], QFileInfo(QString::fromStdString(port.mapFile())).absolutePath());
}

TEST_F(MainWindowTest, ClosingTheWindowReleasesThePort)
{
    auto& f = open();
    initCom();
    f.close();
    EXPECT_FALSE(ActiveLink.port());
    bool ok = false;
    CRS232 other(Com, 9600, ok);
    EXPECT_TRUE(ok);
}
