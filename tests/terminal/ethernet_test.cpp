// The Ethernet tab driven the way a user drives it, against the simulated module's
// TCP side on 127.0.0.1. The socket timer is stepped by the test: each tick is fired
// once the interval it would wait is asserted, and the module is waited on through
// what the window shows or what the module received.
#include "terminal/ethernetlink.h"
#include "terminal/globals.h"
#include "terminal/main.h"

#include "platform/ui.h"
#include "scripts/script.h"
#include "sim/tcpmodule.h"
#include "tests/support/fulllistener.h"
#include "tests/support/manualtimer.h"
#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr const char* Identification = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07";

struct EthernetTest : ::testing::Test {
    testsupport::TempDir cwd;
    std::string oldCwd = std::filesystem::current_path().string();
    sim::ModuleCommands commands;
    sim::TcpModule module{commands};
    std::vector<QString> messages;
    std::unique_ptr<TfrmMain> w;
    testsupport::ManualTimer* timer = nullptr;
    int scripts = 0;

    void SetUp() override
    {
        std::filesystem::current_path(cwd.path());
        ResetMainUnitGlobals();
        ScriptLineCount = 0;
        StopScript = false;
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        commands.define("ABCD?", [](std::string_view, sim::ModuleCommands&) -> std::optional<std::string> {
            return std::string("ABCD");
        });
        ASSERT_TRUE(module.start(0));
    }

    void TearDown() override
    {
        w.reset();
        module.stop();
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler({});
        std::filesystem::current_path(oldCwd);
    }

    // The window with --ip and --port of the module; the timer stepped by hand unless asked.
    TfrmMain& open(bool manualTimer = true, quint16 port = 0, const QString& ip = "127.0.0.1")
    {
        w = std::make_unique<TfrmMain>(QStringList{"voltdesk", "--ip", ip, "--port",
                                                   QString::number(port ? port : module.port())});
        if (manualTimer) {
            auto t = std::make_unique<testsupport::ManualTimer>();
            timer = t.get();
            w->ethernet->setTimer(std::move(t));
        }
        EXPECT_TRUE(testsupport::showActive(*w));
        return *w;
    }

    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(w->windowHandle(), k, m); }

    void type(const QString& text)
    {
        for (QChar c : text)
            QTest::keyClick(w->windowHandle(), c.toLatin1());
    }

    // Alt+3 to the Ethernet tab, a click into the IP box, Enter.
    void initEthernet()
    {
        key(Qt::Key_3, Qt::AltModifier);
        ASSERT_EQ(w->tabsInitialization->currentIndex(), 2);
        testsupport::click(w->txtIpAddr);
        ASSERT_EQ(QApplication::focusWidget(), w->txtIpAddr);
        key(Qt::Key_Return);
        ASSERT_FALSE(w->btnInit->isEnabled());
        ASSERT_EQ(QApplication::focusWidget(), w->txtCmd);
    }

    // Types a command over the selected text of the command box and presses Enter.
    void query(const QString& command)
    {
        ASSERT_EQ(QApplication::focusWidget(), w->txtCmd);
        type(command);
        key(Qt::Key_Return);
    }

    void runScript(const std::string& text)
    {
        const std::string file = cwd.file("script" + std::to_string(++scripts) + ".txt");
        testsupport::writeFile(file, text);
        StopScript = false;
        ASSERT_TRUE(LoadScript(file.c_str()));
        w->ethernet->startScriptWalk();
    }

    static bool waitFor(const std::function<bool()>& done, int ms = 10000) { return QTest::qWaitFor(done, ms); }
    bool waitForLog(qsizetype lines) { return waitFor([&] { return w->txtLog->lineCount() == lines; }); }
    bool waitForStatus(const QString& text) { return waitFor([&] { return status() == text; }); }
    bool waitForLines(std::size_t n) { return waitFor([&] { return module.lines().size() == n; }); }

    QStringList log() const
    {
        QStringList out;
        for (qsizetype i = 0; i < w->txtLog->lineCount(); ++i)
            out << w->txtLog->lineText(i);
        return out;
    }
    std::uint32_t colour(qsizetype i) const { return w->txtLog->lineColour(i); }
    QString status() const { return w->Status->currentMessage(); }
    QString bytes() const { return w->lblBytesRcvd->text(); }
    bool active() const { return w->ethernet->sock->Active(); }

    void fault(const std::function<void(sim::TcpFaults&)>& change)
    {
        sim::TcpFaults f = module.faults();
        change(f);
        module.setFaults(f);
    }
};

using Lines = std::vector<std::string>;

} // namespace

TEST_F(EthernetTest, TheFirstTalkConnectsTheTickSendsAndAFourCharacterAnswerClosesTheConnection)
{
    open();
    initEthernet();
    EXPECT_FALSE(active()); // Init only takes address and port
    EXPECT_EQ(module.connections(), 0);

    query("ABCD?");
    ASSERT_TRUE(waitForStatus("connected"));
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 10); // the program's first tick
    EXPECT_EQ(module.received(), "");  // the tick sends, not Talk

    ASSERT_TRUE(timer->fire());
    EXPECT_FALSE(timer->Enabled());
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(module.received(), "ABCD?\r\n");
    EXPECT_EQ(log(), QStringList{"ABCD"});
    EXPECT_EQ(colour(0), 0u);
    EXPECT_EQ(bytes(), "4");
    EXPECT_EQ(status(), "disconnected");
    EXPECT_FALSE(active());
    EXPECT_FALSE(timer->Enabled());

    // The next Talk connects again; its tick follows after 20 ms.
    key(Qt::Key_Return);
    ASSERT_TRUE(waitForStatus("connected"));
    EXPECT_TRUE(waitFor([&] { return module.connections() == 2; }));
    EXPECT_EQ(timer->Interval(), 20);
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(module.lines(), (Lines{"ABCD?", "ABCD?"}));
    EXPECT_EQ(log(), (QStringList{"ABCD", "ABCD"}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(EthernetTest, AnAnswerEndsAtACrLfSplitOverTwoBlocksOrAtATrailingNul)
{
    open();
    initEthernet();
    fault([](auto& f) { f.splitLineEnd = f.holdSecondBlock = true; });
    query("ABCD?");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    // The CR has arrived, the LF is held back: nothing is complete yet.
    ASSERT_TRUE(waitFor([&] { return module.holding() && w->ethernet->SocketAnswer.text() == "ABCD\r"; }));
    EXPECT_EQ(w->txtLog->lineCount(), 0);
    EXPECT_TRUE(active());
    module.releaseBlock();
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log(), QStringList{"ABCD"});
    EXPECT_EQ(bytes(), "4");
    EXPECT_EQ(status(), "disconnected");

    fault([](auto& f) { f = {}; f.nulEnd = true; });
    query("*IDN?");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(log()[1], Identification);
    EXPECT_EQ(bytes(), "43");
    EXPECT_EQ(status(), "disconnected");
    EXPECT_EQ(module.lines(), (Lines{"ABCD?", "*IDN?"}));
}

TEST_F(EthernetTest, TalkWhileUnansweredSendsOverTheOpenConnectionAndQuitClosesIt)
{
    open();
    initEthernet();
    fault([](auto& f) { f.noAnswer = true; });
    query("ABCD?");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLines(1));
    EXPECT_TRUE(active()); // a module that never answers leaves the connection open
    EXPECT_EQ(w->txtLog->lineCount(), 0);

    key(Qt::Key_Return); // Query again, the same command
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 20);
    fault([](auto& f) { f.noAnswer = false; });
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(module.connections(), 1);
    EXPECT_EQ(module.lines(), (Lines{"ABCD?", "ABCD?"}));
    EXPECT_EQ(log(), QStringList{"ABCD"});
    EXPECT_EQ(status(), "disconnected");

    // Unanswered again, then Quit: the connection closes and the IP box takes the focus.
    fault([](auto& f) { f.noAnswer = true; });
    key(Qt::Key_Return);
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLines(3));
    testsupport::click(w->btnQuit);
    EXPECT_FALSE(active());
    EXPECT_EQ(status(), "disconnected");
    EXPECT_EQ(QApplication::focusWidget(), w->txtIpAddr);
    ASSERT_TRUE(waitFor([&] { return module.openConnections() == 0; }));
    EXPECT_TRUE(messages.empty());

    // Closing the window ends a connection that is up, as Quit does.
    testsupport::click(w->btnInit);
    key(Qt::Key_Return);
    ASSERT_TRUE(waitForStatus("connected"));
    w->windowHandle()->close();
    EXPECT_FALSE(active());
    ASSERT_TRUE(waitFor([&] { return module.openConnections() == 0; }));

    // And a connect still under way: ended, so the link takes a new port again.
    testsupport::FullListener stuck;
    ASSERT_TRUE(stuck.full()) << "a connect to a full listener does not stay under way here";
    const int before = module.connections();
    open(true, stuck.port());
    initEthernet();
    query("ABCD?");
    w->windowHandle()->close();
    w->ethernet->init("127.0.0.1", QString::number(module.port()));
    w->ethernet->talk();
    EXPECT_TRUE(waitFor([&] { return module.connections() == before + 1; }));
}

TEST_F(EthernetTest, APeerThatClosesMidAnswerLeavesNothingForTheNextConnection)
{
    open();
    initEthernet();
    fault([](auto& f) { f.closeAfterBytes = 2; });
    query("ABCD?");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForStatus("disconnected"));
    EXPECT_EQ(w->ethernet->SocketAnswer.text(), "AB");
    EXPECT_EQ(w->txtLog->lineCount(), 0);
    EXPECT_TRUE(messages.empty()); // an orderly close by the peer is no error

    fault([](auto& f) { f = {}; });
    key(Qt::Key_Return);
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log(), QStringList{"ABCD"});
    EXPECT_EQ(bytes(), "4");
}

TEST_F(EthernetTest, NoModuleThereGivesTheConnectErrorAndSendsNothing)
{
    sim::TcpModule gone(commands);
    ASSERT_TRUE(gone.start(0));
    const quint16 port = gone.port();
    gone.stop();
    open(true, port);
    initEthernet();
    query("ABCD?");
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    EXPECT_EQ(messages, std::vector<QString>{"Error: Could not connect to remote host!"});
    EXPECT_EQ(status(), "");
    EXPECT_FALSE(active());
    EXPECT_FALSE(timer->Enabled());

    // A walk that was to start with the connect does not start either.
    runScript("ABCD?\tABCD\n");
    ASSERT_TRUE(waitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages[1], "Error: Could not connect to remote host!");
    EXPECT_FALSE(timer->Enabled());
    EXPECT_EQ(w->txtLog->lineCount(), 0);
}

TEST_F(EthernetTest, APortOutsideTheTcpRangeStopsInitLikeATextThatIsNoNumber)
{
    open();
    w->txtTcpPort->setText("70000");
    key(Qt::Key_3, Qt::AltModifier);
    testsupport::click(w->txtTcpPort);
    key(Qt::Key_Return);
    EXPECT_EQ(messages, std::vector<QString>{"'70000' is not a valid integer value"});
    EXPECT_TRUE(w->btnInit->isEnabled());
    EXPECT_FALSE(w->btnTalk->isEnabled());
    EXPECT_EQ(w->ethernet->sock->Address, "127.0.0.1"); // set before the port is read
}

TEST_F(EthernetTest, AnEmptyAddressGivesTheLookupError)
{
    open(true, 0, "");
    initEthernet();
    query("ABCD?");
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    EXPECT_EQ(messages, std::vector<QString>{"Error: Could not resolve remote host!"});
    EXPECT_FALSE(active());
}

TEST_F(EthernetTest, TenMegabytesWithoutALineEndDoNotGrowTheAnswerPastItsLimit)
{
    open();
    initEthernet();
    const std::string flood(10 * 1024 * 1024, 'x');
    fault([&](auto& f) { f.rawReply = flood + "\r\n"; });
    query("ABCD?");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitFor([&] { return w->ethernet->SocketAnswer.length() > 5 * 1024 * 1024 || log().size() == 1; }, 60000));
    EXPECT_LE(w->ethernet->SocketAnswer.text().size(), 65536);
    ASSERT_TRUE(waitFor([&] { return w->txtLog->lineCount() == 1; }, 60000));
    EXPECT_EQ(log()[0], QString(65536, 'x'));
    EXPECT_EQ(bytes(), "10485760");
    EXPECT_EQ(status(), "disconnected");
}

TEST_F(EthernetTest, TheWalkPacesSleepsClearsStopsAndANewRunGoesOnAfterTheStop)
{
    open();
    initEthernet();
    w->lblBytesRcvd->setText("7");
    runScript("*IDN?\tHVSIM,.*\n"
              "VOLT 5\n"
              "SLEEP 500\n"
              "SLEEP\t250\n"
              "CLEAR\n"
              "VOLT?\t5\n"
              "STOP\n"
              "ABCD?\tABCD\n");
    ASSERT_TRUE(waitForStatus("connected"));
    EXPECT_EQ(timer->Interval(), 10);

    ASSERT_TRUE(timer->fire()); // *IDN? waits for its answer
    EXPECT_FALSE(timer->Enabled());
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log()[0], QString("*IDN?\t") + Identification);
    EXPECT_EQ(colour(0), 0u);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 20);

    ASSERT_TRUE(timer->fire()); // VOLT 5, no answer expected
    EXPECT_EQ(log().last(), "VOLT 5");
    EXPECT_EQ(timer->Interval(), 100);
    ASSERT_TRUE(timer->fire()); // SLEEP 500
    EXPECT_EQ(timer->Interval(), 500);
    EXPECT_EQ(ScriptAnswers[2], "500");
    ASSERT_TRUE(timer->fire()); // SLEEP, TAB, 250
    EXPECT_EQ(timer->Interval(), 250);
    EXPECT_EQ(ScriptAnswers[3], "250");
    EXPECT_EQ(log().size(), 2);
    ASSERT_TRUE(timer->fire()); // CLEAR
    EXPECT_EQ(w->txtLog->lineCount(), 0);
    EXPECT_EQ(bytes(), "7");
    EXPECT_EQ(timer->Interval(), 20);
    ASSERT_TRUE(timer->fire()); // VOLT?
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log(), QStringList{"VOLT?\t5"});
    ASSERT_TRUE(timer->fire()); // STOP
    EXPECT_EQ(log(), (QStringList{"VOLT?\t5", "Stopping Script"}));
    EXPECT_EQ(colour(1), 0u);
    EXPECT_TRUE(StopScript);
    EXPECT_EQ(status(), "disconnected");
    EXPECT_FALSE(timer->Enabled());
    EXPECT_TRUE(w->ethernet->EthernetScriptActive);
    EXPECT_EQ(module.lines(), (Lines{"*IDN?", "VOLT 5", "VOLT?"}));
    EXPECT_EQ(commands.value("VOLT"), "5");

    // Run Script again: a new connection, and the line after STOP.
    runScript("*IDN?\tHVSIM,.*\nVOLT 5\nSLEEP 500\nSLEEP\t250\nCLEAR\nVOLT?\t5\nSTOP\nABCD?\tABCD\n");
    ASSERT_TRUE(waitForStatus("connected"));
    EXPECT_TRUE(waitFor([&] { return module.connections() == 2; }));
    EXPECT_EQ(timer->Interval(), 20);
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(3));
    EXPECT_EQ(log().last(), "ABCD?\tABCD");
    ASSERT_TRUE(timer->fire()); // and from the top after the last line
    ASSERT_TRUE(waitForLog(4));
    EXPECT_EQ(module.lines().back(), "*IDN?");
    EXPECT_TRUE(messages.empty());
}

// Every wait the walk asks of the timer, in order, as one table: the first tick of the
// program's run, a passing answer, lines without expected answer (keywords are whole
// texts, so STOPX and sleep 5 are such lines), a SLEEP whose answer column outweighs
// its own number, Run Script on an open connection during a pause, CLEAR, and a new
// connection after STOP.
TEST_F(EthernetTest, TheWalkWaitsTheTimesOfItsLinesInOrder)
{
    for (const char* silent : {"STOPX", "SLEEP"})
        commands.define(silent, [](std::string_view, sim::ModuleCommands&) -> std::optional<std::string> {
            return std::nullopt;
        });
    const std::string script = "ABCD?\tABCD\n"
                               "VOLT 5\n"
                               "STOPX\n"
                               "sleep 5\n"
                               "SLEEP 500\t300\n"
                               "SLEEP 40\n"
                               "CLEAR\n"
                               "STOP\n";
    open();
    initEthernet();
    runScript(script);
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire()); // ABCD?
    ASSERT_TRUE(waitForLog(1));
    for (int line = 1; line <= 4; ++line) // VOLT 5, STOPX, sleep 5, SLEEP 500 with 300
        ASSERT_TRUE(timer->fire()) << line;
    ASSERT_TRUE(waitForLines(4));
    runScript(script); // the connection is open and the SLEEP pause runs
    for (int line = 5; line <= 7; ++line) // SLEEP 40, CLEAR, STOP
        ASSERT_TRUE(timer->fire()) << line;
    ASSERT_TRUE(waitForStatus("disconnected"));
    runScript(script);
    ASSERT_TRUE(waitForStatus("connected"));

    EXPECT_EQ(timer->waits, (std::vector<int>{10, 20, 100, 100, 100, 300, 20, 40, 20, 20}));
    EXPECT_EQ(module.lines(), (Lines{"ABCD?", "VOLT 5", "STOPX", "sleep 5"}));
    EXPECT_EQ(log(), QStringList{"Stopping Script"});
    EXPECT_TRUE(messages.empty());
}

TEST_F(EthernetTest, AFailedAnswerHaltsTheWalkAndTheNextRunGoesOnWithTheNextLine)
{
    open();
    initEthernet();
    runScript("*IDN?\tWRONG\nABCD?\tABCD\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log()[0], QString("*IDN? failed: '") + Identification + "'");
    EXPECT_EQ(colour(0), 255u);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_TRUE(w->ethernet->EthernetScriptActive);
    EXPECT_TRUE(active());

    // The socket is still open: Run Script starts the timer at 20 ms on it.
    testsupport::writeFile(cwd.file("script.txt"), "*IDN?\tWRONG\nABCD?\tABCD\n");
    testsupport::click(w->btnTest);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 20);
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(log()[1], "ABCD?\tABCD");

    // A bare CR LF is an empty answer: the quotes hold nothing.
    fault([](auto& f) { f.bareLineEnd = true; });
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(3));
    EXPECT_EQ(log()[2], "*IDN? failed: ''");
    EXPECT_EQ(colour(2), 255u);
    EXPECT_EQ(module.connections(), 1);

    // Quit ends the walk and closes the connection.
    testsupport::click(w->btnQuit);
    EXPECT_FALSE(w->ethernet->EthernetScriptActive);
    EXPECT_FALSE(active());
    EXPECT_EQ(status(), "disconnected");
}

TEST_F(EthernetTest, ALineWithoutExpectedAnswerThatIsAnsweredAnywayIsLoggedAsFailedAndTheWalkGoesOn)
{
    open();
    initEthernet();
    runScript("ABCD?\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(log(), (QStringList{"ABCD?", "ABCD? failed: 'ABCD'"}));
    EXPECT_EQ(colour(0), 0u);
    EXPECT_EQ(colour(1), 255u);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 100);
}

// Every script tick forgets the command sent before it: an answer that completes only
// after the next tick is no longer credited to the earlier line.
TEST_F(EthernetTest, AnAnswerCompletedAfterTheNextTickCarriesNoCommand)
{
    open();
    initEthernet();
    fault([](auto& f) { f.splitLineEnd = f.holdSecondBlock = true; });
    runScript("ABCD?\nSLEEP 50\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire()); // ABCD?, no expected answer
    ASSERT_TRUE(waitFor([&] { return module.holding(); }));
    ASSERT_TRUE(timer->fire()); // SLEEP 50
    module.releaseBlock();
    ASSERT_TRUE(waitForLog(2));
    EXPECT_EQ(log(), (QStringList{"ABCD?", " failed: 'ABCD'"}));
    EXPECT_EQ(colour(1), 255u);
}

TEST_F(EthernetTest, SleepWithoutANumberHaltsAtItsLineAndSleepOfZeroOrBelowGoesOnAtOnce)
{
    open();
    initEthernet();
    runScript("SLEEP 0\nSLEEP -5\nSLEEP x\nABCD?\tABCD\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1);
    ASSERT_TRUE(timer->fire());
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1);
    ASSERT_TRUE(timer->fire());
    EXPECT_EQ(messages, std::vector<QString>{"'x' is not a valid integer value"});
    EXPECT_FALSE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 20);
    EXPECT_EQ(w->ethernet->SocketScriptIndex, 2);
    EXPECT_EQ(ScriptAnswers[2], "x"); // stored back all the same

    w->ethernet->startScriptWalk(); // the same line again
    ASSERT_TRUE(timer->fire());
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(w->ethernet->SocketScriptIndex, 2);
    EXPECT_TRUE(module.lines().empty());
}

TEST_F(EthernetTest, AnInvalidExpressionIsShownAndTheAnswerIsKept)
{
    open();
    initEthernet();
    runScript("ABCD?\t(\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    std::string libraryText;
    try {
        boost::regex("(");
    } catch (const boost::regex_error& e) {
        libraryText = e.what();
    }
    EXPECT_EQ(messages, std::vector<QString>{QString::fromStdString(libraryText)});
    EXPECT_EQ(w->txtLog->lineCount(), 0);
    EXPECT_EQ(w->ethernet->SocketAnswer.text(), "ABCD");
    EXPECT_EQ(w->ethernet->SocketCommand, "ABCD?");
    EXPECT_EQ(w->ethernet->SocketExpected, "(");
    EXPECT_FALSE(timer->Enabled());
}

TEST_F(EthernetTest, ARunOfAShorterScriptStartsAtItsFirstLine)
{
    open();
    initEthernet();
    runScript("VOLT 1\nVOLT 2\nVOLT 3\nVOLT 4\nVOLT 5\n");
    ASSERT_TRUE(waitForStatus("connected"));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLines(3));
    EXPECT_EQ(w->ethernet->SocketScriptIndex, 3);
    w->ethernet->stopScriptWalk();
    EXPECT_EQ(status(), "disconnected");

    runScript("VOLT 7\nVOLT 8\n");
    EXPECT_EQ(ScriptCommands[3], "VOLT 4"); // the old script's entry is still there
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitForLines(4));
    EXPECT_EQ(module.lines().back(), "VOLT 7");
    EXPECT_EQ(log().last(), "VOLT 7");
    EXPECT_EQ(w->ethernet->SocketScriptIndex, 1);
}

TEST_F(EthernetTest, TalkDuringAWalkEndsItAndTheNextAnswerIsShownAsInteractive)
{
    open();
    initEthernet();
    fault([](auto& f) { f.splitLineEnd = f.holdSecondBlock = true; });
    runScript("*IDN?\tHVSIM,.*\n");
    ASSERT_TRUE(waitForStatus("connected"));
    ASSERT_TRUE(timer->fire());
    ASSERT_TRUE(waitFor([&] { return module.holding(); }));

    key(Qt::Key_Return); // Query with the command box's text
    EXPECT_FALSE(w->ethernet->EthernetScriptActive);
    EXPECT_TRUE(timer->Enabled());
    module.releaseBlock();
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log(), QStringList{Identification});
    EXPECT_EQ(bytes(), "43");
    EXPECT_EQ(status(), "disconnected");
    ASSERT_TRUE(timer->fire()); // the interactive tick finds the connection closed
    EXPECT_EQ(module.lines(), Lines{"*IDN?"});
}

TEST_F(EthernetTest, WithTheRealTimerAQueryAndAWalkRunOnTheirOwn)
{
    open(false);
    initEthernet();
    query("ABCD?");
    ASSERT_TRUE(waitForLog(1));
    EXPECT_EQ(log(), QStringList{"ABCD"});
    EXPECT_EQ(status(), "disconnected");

    runScript("*IDN?\tHVSIM,.*\nSLEEP 30\nCLEAR\nABCD?\tABCD\nSTOP\n");
    ASSERT_TRUE(waitFor([&] { return log().contains("Stopping Script"); }));
    EXPECT_EQ(log(), (QStringList{"ABCD?\tABCD", "Stopping Script"}));
    EXPECT_EQ(module.lines(), (Lines{"ABCD?", "*IDN?", "ABCD?"}));
    EXPECT_EQ(status(), "disconnected");
    EXPECT_TRUE(messages.empty());
}
