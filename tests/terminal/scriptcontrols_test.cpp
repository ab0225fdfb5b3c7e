// Run Script, Stop Script and the script chooser of the main window, with the worker
// on RS-232 (the simulated module on a pseudo-terminal) and on GPIB (the simulated
// driver library). The tests wait on the run's progress, never on a clock.
#include "terminal/ethernetlink.h"
#include "terminal/globals.h"
#include "terminal/main.h"

#include "devices/gpib_testing.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "scripts/script.h"
#include "sim/tcpmodule.h"
#include "tests/support/gpibsimlib.h"
#include "tests/support/simport.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

using testsupport::ScopedEnv;

namespace {

constexpr int Com = 7;
constexpr int WaitMs = 30000;
const QString Id = QStringLiteral("HVSIM,HV-4000 Test Module,SN 000042,FW 1.07");

// The system clock, except that a run's request for the fine timer waits at a gate,
// so that a test can act before the worker reaches its first line.
class GateClock : public platform::Clock {
public:
    void sleepMs(std::uint32_t ms) override { platform::systemClock().sleepMs(ms); }
    void yield() override { platform::systemClock().yield(); }
    std::uint32_t tickMs() override { return platform::systemClock().tickMs(); }
    void beginPeriod(unsigned) override
    {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.wait(lock, [this] { return open_; });
    }
    bool entered()
    {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

// The system clock, except that once armed, the next pause of DelayMs holds the worker
// until the test lets it go: the test then knows the worker stands between two lines.
class DelayGateClock : public platform::Clock {
public:
    static constexpr std::uint32_t DelayMs = 37;
    void sleepMs(std::uint32_t ms) override
    {
        if (ms == DelayMs) {
            std::unique_lock lock(mutex_);
            if (armed_) {
                armed_ = false;
                held_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return !held_; });
            }
        }
        platform::systemClock().sleepMs(ms);
    }
    void yield() override { platform::systemClock().yield(); }
    std::uint32_t tickMs() override { return platform::systemClock().tickMs(); }
    void arm()
    {
        std::lock_guard lock(mutex_);
        armed_ = true;
    }
    bool holding()
    {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
        held_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool held_ = false;
};

struct ScriptWindowTest : ::testing::Test {
    testsupport::TempDir cwd;
    std::string oldCwd = std::filesystem::current_path().string();
    testsupport::SimPort port{Com};
    GateClock gate;
    DelayGateClock delayGate;
    std::vector<QString> messages;
    std::unique_ptr<TfrmMain> w;

    void SetUp() override
    {
        std::filesystem::current_path(cwd.path());
        ResetMainUnitGlobals();
        StopScript = false;
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        w = std::make_unique<TfrmMain>(QStringList{"voltdesk"});
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void TearDown() override
    {
        gate.open();
        delayGate.release();
        w.reset();
        ResetMainUnitGlobals();
        StopScript = false;
        platform::ui::setMessageHandler({});
        platform::ui::setFileDialogHandler({});
        std::filesystem::current_path(oldCwd);
    }

    void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    void initCom()
    {
        w->tabsInitialization->setCurrentIndex(TfrmMain::TabRs232);
        w->txtComPort->setEditText(QString::number(Com));
        click(w->btnInit);
        ASSERT_TRUE(ActiveLink.port() && ActiveLink.port()->IsOpen());
    }
    void script(const std::string& text) { testsupport::writeFile(cwd.file("script.txt"), text); }

    QStringList lines() const
    {
        QStringList out;
        for (qsizetype i = 0; i < w->txtLog->lineCount(); ++i)
            out << w->txtLog->lineText(i);
        return out;
    }
    bool waitForLines(qsizetype n)
    {
        return QTest::qWaitFor([&] { return w->txtLog->lineCount() >= n; }, WaitMs);
    }
    bool waitForEnd()
    {
        return QTest::qWaitFor([&] { return !w->ScriptWorkerRunning(); }, WaitMs);
    }
    // The run's two statistics lines close the log.
    void expectStatistics(const QString& sent, const QString& received)
    {
        const QStringList l = lines();
        ASSERT_GE(l.size(), 2);
        EXPECT_TRUE(QRegularExpression("^" + sent + " send in \\d+\\.\\d seconds\\.$").match(l[l.size() - 2]).hasMatch())
            << l[l.size() - 2].toStdString();
        EXPECT_EQ(l.back(), received);
    }
    bool portIsFree()
    {
        bool ok = false;
        CRS232 other(Com, 9600, ok);
        return ok;
    }
};

} // namespace

TEST_F(ScriptWindowTest, AOneLineSentScriptRunsUntilStopScriptAndLogsItsStatistics)
{
    initCom();
    script("*IDN?\n");
    click(w->btnTest);
    EXPECT_TRUE(w->ScriptWorkerRunning());
    ASSERT_TRUE(waitForLines(3));
    // The window stays usable during the run, and Run Script stays enabled.
    EXPECT_TRUE(w->btnTest->isEnabled());
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    const qsizetype sent = l.size() - 2;
    EXPECT_EQ(l.count("*IDN? sent."), sent);
    expectStatistics(QString("%1 commands \\(%2 bytes\\)").arg(sent).arg(5 * sent), "0 answers (0 bytes) received.");
    EXPECT_EQ(w->txtLog->lineColour(l.size() - 1), 0u);
    EXPECT_EQ(port.module().lines(), std::vector<std::string>(static_cast<std::size_t>(sent), "*IDN?"));
    EXPECT_TRUE(StopScript);
}

TEST_F(ScriptWindowTest, EveryLinePassesUntilStopScript)
{
    initCom();
    script("*IDN?\tHVSIM,.*\nVOLT 7\nVOLT?\t7\nCURR?\t0\nOUTP?\tOFF\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(10));
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList pass = {"*IDN? passed: '" + Id + "'", "VOLT 7 sent.", "VOLT? passed: '7'", "CURR? passed: '0'",
                              "OUTP? passed: 'OFF'"};
    const int sentBytes[] = {5, 6, 5, 5, 5};
    const int answerBytes[] = {43, 0, 1, 1, 3};
    const QStringList l = lines();
    const qsizetype n = l.size() - 2;
    ASSERT_GE(n, 10);
    int bytes = 0, answers = 0, received = 0;
    for (qsizetype i = 0; i < n; ++i) {
        EXPECT_EQ(l[i], pass[i % 5]);
        bytes += sentBytes[i % 5];
        answers += i % 5 != 1;
        received += answerBytes[i % 5];
    }
    expectStatistics(QString("%1 commands \\(%2 bytes\\)").arg(n).arg(bytes),
                     QString("%1 answers (%2 bytes) received.").arg(answers).arg(received));
}

TEST_F(ScriptWindowTest, AStopLineEndsTheRun)
{
    initCom();
    script("*IDN?\t.*\nSTOP\nVOLT 1\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(lines().size(), 4);
    EXPECT_EQ(lines()[0], "*IDN? passed: '" + Id + "'");
    EXPECT_EQ(lines()[1], "Stopping Script");
    expectStatistics("1 commands \\(5 bytes\\)", "1 answers (43 bytes) received.");
    EXPECT_EQ(port.module().lines(), std::vector<std::string>{"*IDN?"});
}

TEST_F(ScriptWindowTest, AFailedCheckOnTheThirdLineOfTheSecondPassIsRedAndEndsTheRun)
{
    initCom();
    script("*IDN?\t.*\nCURR?\t0\nVOLT?\t0\nVOLT 5\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 9);
    EXPECT_EQ(l[4], "*IDN? passed: '" + Id + "'");
    EXPECT_EQ(l[5], "CURR? passed: '0'");
    EXPECT_EQ(l[6], "VOLT? failed: '5'");
    EXPECT_EQ(w->txtLog->lineColour(5), 0u);
    EXPECT_EQ(w->txtLog->lineColour(6), 255u);
    expectStatistics("6 commands \\(36 bytes\\)", "6 answers (90 bytes) received.");
    EXPECT_FALSE(StopScript); // a failed line ends the run without the flag
}

TEST_F(ScriptWindowTest, SleepWritesItsTimeBackAndAloneEndsTheRunWithoutStatistics)
{
    initCom();
    script("SLEEP 250\n*IDN?\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(2));
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(ScriptAnswers[0], "250");
    const QStringList l = lines();
    EXPECT_EQ(l.count("*IDN? sent."), l.size() - 2);
    // At least two pauses of 250 ms went by.
    const auto seconds = QRegularExpression("send in (\\d+\\.\\d) seconds").match(l[l.size() - 2]).captured(1);
    EXPECT_GE(seconds.toDouble(), 0.5) << l[l.size() - 2].toStdString();

    w->btnClearLogClick();
    script("*IDN?\nSLEEP\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines(), QStringList{"*IDN? sent."});
}

TEST_F(ScriptWindowTest, RandReplacesOnlyTheFirstMarkerWithANumberInItsRange)
{
    initCom();
    script("VOLT $RAND(10,20) $RAND(1,2)\nVOLT?\t1[0-9] \\$RAND\\(1,2\\)\nCURR $RAND(5,5)\nCURR?\t5\nSTOP\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 7);
    const auto m = QRegularExpression("^VOLT (1[0-9]) \\$RAND\\(1,2\\) sent\\.$").match(l[0]);
    ASSERT_TRUE(m.hasMatch()) << l[0].toStdString();
    EXPECT_EQ(l[1], "VOLT? passed: '" + m.captured(1) + " $RAND(1,2)'");
    EXPECT_EQ(l[2], "CURR 5 sent.");
    EXPECT_EQ(l[3], "CURR? passed: '5'");
    expectStatistics("4 commands \\(34 bytes\\)", "2 answers (14 bytes) received.");
}

TEST_F(ScriptWindowTest, RvxTakesTheAnswerAfterTheAcknowledgementLine)
{
    initCom();
    w->cbRVX->setChecked(true);
    sim::SerialFaults f;
    f.useRawReply = true;
    f.rawReply = "X\r\nY\r\n";
    port.module().setFaults(f);
    script("*IDN?\tY\nSTOP\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines().value(0), "*IDN? passed: 'Y'");
    expectStatistics("1 commands \\(5 bytes\\)", "1 answers (1 bytes) received.");
}

TEST_F(ScriptWindowTest, SdcOnTheRs232TabOnlyWarns)
{
    initCom();
    script("SDC\nSTOP\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines().mid(0, 2), QStringList({"Warning: Ignoring command SDC", "Stopping Script"}));
    expectStatistics("0 commands \\(0 bytes\\)", "0 answers (0 bytes) received.");
    EXPECT_TRUE(port.module().received().empty());
}

TEST_F(ScriptWindowTest, ClearEmptiesTheLogAndKeepsTheByteCount)
{
    initCom();
    AddLogLine(w.get(), "old line", 0);
    w->lblBytesRcvd->setText("7");
    script("*IDN?\nCLEAR\nVOLT?\t0\nSTOP\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(lines().size(), 4);
    EXPECT_EQ(lines()[0], "VOLT? passed: '0'");
    EXPECT_EQ(lines()[1], "Stopping Script");
    expectStatistics("2 commands \\(10 bytes\\)", "1 answers (1 bytes) received.");
    EXPECT_EQ(w->lblBytesRcvd->text(), "7");
}

TEST_F(ScriptWindowTest, StopScriptBeforeTheFirstLineRunsNoLine)
{
    platform::ScopedClock useClock(gate);
    initCom();
    script("*IDN?\n");
    click(w->btnTest);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.entered(); }, WaitMs));
    click(w->btnEndTest);
    gate.open();
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines(), QStringList({"0 commands (0 bytes) send in 0.0 seconds.", "0 answers (0 bytes) received."}));
    EXPECT_TRUE(port.module().received().empty());
}

TEST_F(ScriptWindowTest, QuitDuringARunWaitsForItsStatisticsBeforeTheConnectionCloses)
{
    initCom();
    script("*IDN?\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(2));
    click(w->btnQuit);
    // Quit came back only after the run had ended and logged its statistics.
    EXPECT_FALSE(w->ScriptWorkerRunning());
    EXPECT_EQ(lines().back(), "0 answers (0 bytes) received.");
    EXPECT_EQ(ActiveLink.port(), nullptr);
    EXPECT_TRUE(portIsFree());
    EXPECT_FALSE(w->btnTest->isEnabled());
    EXPECT_TRUE(w->btnInit->isEnabled());
    const qsizetype after = w->txtLog->lineCount();
    // The worker is gone; what it left queued for the window arrives before this.
    bool drained = false;
    QMetaObject::invokeMethod(w.get(), [&] { drained = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return drained; }, WaitMs));
    EXPECT_EQ(w->txtLog->lineCount(), after);
}

TEST_F(ScriptWindowTest, AnAdapterThatVanishesEndsTheRunAndTheWindowStaysUsable)
{
    platform::ScopedClock useClock(delayGate);
    initCom();
    script("*IDN?\tHVSIM,.*\n");
    w->txtDelay->setText("37");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(2));
    // The module goes while the worker waits between two lines.
    delayGate.arm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delayGate.holding(); }, WaitMs));
    port.module().stop();
    delayGate.release();
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    ASSERT_GE(l.size(), 5);
    EXPECT_EQ(l[l.size() - 3], "*IDN? failed.");
    EXPECT_EQ(w->txtLog->lineColour(l.size() - 3), 255u);
    // Every line before the failed one passed with the 43-character identification.
    const qsizetype passed = l.size() - 3;
    EXPECT_EQ(l.back(), QString("%1 answers (%2 bytes) received.").arg(passed).arg(43 * passed));
    // A Query on the dead port says so; Quit lets the port go and Init can be used again.
    w->txtCmd->setEditText("*IDN?");
    w->txtCmd->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(lines().back(), "<No Communication>");
    click(w->btnQuit);
    EXPECT_EQ(ActiveLink.port(), nullptr);
    EXPECT_TRUE(w->btnInit->isEnabled());
    EXPECT_FALSE(w->btnTest->isEnabled());
}

TEST_F(ScriptWindowTest, ClosingTheWindowDuringALongSleepEndsTheRunPromptly)
{
    initCom();
    script("*IDN?\nSLEEP 600000\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(1));
    QElapsedTimer closing;
    closing.start();
    w->close();
    EXPECT_LT(closing.elapsed(), 10000); // the ten-minute pause does not hold it
    EXPECT_FALSE(w->ScriptWorkerRunning());
    EXPECT_EQ(lines().back(), "0 answers (0 bytes) received.");
    EXPECT_EQ(ActiveLink.port(), nullptr);
    EXPECT_TRUE(portIsFree());
}

TEST_F(ScriptWindowTest, AnInteractiveQueryDuringARunGetsItsOwnAnswer)
{
    initCom();
    script("*IDN?\tHVSIM,.*\nOUTP?\tOFF\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(1));
    w->txtCmd->setEditText("VOLT?");
    w->txtCmd->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(lines().contains("0"));
    EXPECT_EQ(w->lblBytesRcvd->text(), "3");
    const qsizetype before = w->txtLog->lineCount();
    ASSERT_TRUE(waitForLines(before + 2));
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    EXPECT_EQ(l.count("0"), 1);
    for (const QString& line : l)
        EXPECT_FALSE(line.contains("failed")) << line.toStdString();
    const auto got = port.module().lines();
    EXPECT_EQ(std::count(got.begin(), got.end(), "VOLT?"), 1);
}

TEST_F(ScriptWindowTest, ASecondRunScriptEndsTheFirstRunBeforeItStarts)
{
    initCom();
    script("*IDN?\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(2));
    click(w->btnTest);
    // The first run has ended and logged its statistics; the new one is under way.
    EXPECT_EQ(lines().back(), "0 answers (0 bytes) received.");
    EXPECT_TRUE(w->ScriptWorkerRunning());
    EXPECT_FALSE(StopScript);
    const qsizetype first = w->txtLog->lineCount();
    ASSERT_TRUE(waitForLines(first + 2));
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines().count("0 answers (0 bytes) received."), 2);
    for (qsizetype i = first; i < w->txtLog->lineCount() - 2; ++i)
        EXPECT_EQ(lines()[i], "*IDN? sent.");
}

TEST_F(ScriptWindowTest, RunScriptWithoutAScriptChangesOnlyTheDelayAndTheFlag)
{
    initCom();
    StopScript = true;
    w->txtDelay->setText("x");
    click(w->btnTest);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "'x' is not a valid integer value");
    EXPECT_TRUE(StopScript);

    w->txtDelay->setText("-30");
    w->txtFilename->setText("missing.txt");
    click(w->btnTest);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(StopScript);
    EXPECT_EQ(ActiveLink.commandDelay(), -30);
    EXPECT_FALSE(w->ScriptWorkerRunning());
    EXPECT_EQ(w->txtLog->lineCount(), 0);
}

TEST_F(ScriptWindowTest, StopScriptWithNothingRunningEnablesRunScript)
{
    EXPECT_FALSE(w->btnTest->isEnabled());
    click(w->btnEndTest);
    EXPECT_TRUE(StopScript);
    EXPECT_TRUE(w->btnTest->isEnabled());
    // Without a link the first device line fails to send.
    script("VOLT 1\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lines().value(0), "VOLT 1 failed.");
    expectStatistics("0 commands \\(6 bytes\\)", "0 answers (0 bytes) received.");
}

TEST_F(ScriptWindowTest, TheChooserPutsTheFullPathIntoTheFileNameAndRemembersIt)
{
    struct Call {
        QString title, folder, filter;
    };
    std::vector<Call> calls;
    QString answer = "chosen/my script.txt";
    platform::ui::setFileDialogHandler([&](QWidget*, const platform::ui::OpenFileRequest& r) {
        calls.push_back({r.title, r.folder, r.filter});
        return answer;
    });
    click(w->btnFileOpen);
    const QString full = QString::fromStdString(cwd.file("chosen/my script.txt"));
    EXPECT_EQ(w->txtFilename->text(), full);
    EXPECT_EQ(ScriptFolder, full);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].title, "Skript laden");
    EXPECT_EQ(calls[0].folder, ".");
    EXPECT_EQ(calls[0].filter, "Skript-Dateien (*.txt);;Alle Dateien (*)");
    EXPECT_EQ(w->FileOpenDlg.filter, "Skript-Dateien (*.txt)|*.txt|Alle Dateien (*.*)|*.*");

    answer.clear(); // cancelled
    click(w->btnFileOpen);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].folder, full);
    EXPECT_EQ(w->txtFilename->text(), full);
    EXPECT_EQ(ScriptFolder, full);
}

namespace {

struct GpibScriptWindowTest : ScriptWindowTest {
    ScopedEnv listeners{"VOLTDESK_GPIB_SIM", "5,17"};
    ScopedEnv library{"VOLTDESK_GPIB_LIBRARY", GPIBSIM_LIBRARY};
    std::unique_ptr<testsupport::SimLibrary> sim;
    std::string ud;

    void SetUp() override
    {
        gpib_testing::ResetLayer();
        sim = std::make_unique<testsupport::SimLibrary>(GPIBSIM_LIBRARY);
        ScriptWindowTest::SetUp();
        w->tabsInitialization->setCurrentIndex(TfrmMain::TabGpib);
        w->txtGpibAddr->setEditText("17");
        click(w->btnInit);
        ASSERT_GT(ActiveLink.gpibDevice(), 0);
        ud = std::to_string(ActiveLink.gpibDevice());
    }
    void TearDown() override
    {
        ScriptWindowTest::TearDown();
        sim.reset();
        gpib_testing::ResetLayer();
    }
};

} // namespace

TEST_F(GpibScriptWindowTest, TheDevicesLineFeedStaysInTheAnswerAndSdcClearsTheDevice)
{
    script("SDC\nVOLT 5\nVOLT?\t5.*\nVOLT?\t5\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForEnd());
    const QStringList l = lines();
    ASSERT_EQ(l.size(), 6);
    EXPECT_EQ(l[0], "Selected Device Clear");
    EXPECT_EQ(l[1], "VOLT 5 sent.");
    EXPECT_EQ(l[2], "VOLT? passed: '5\n'");
    EXPECT_EQ(l[3], "VOLT? failed: '5\n'");
    EXPECT_EQ(w->txtLog->lineColour(3), 255u);
    expectStatistics("3 commands \\(16 bytes\\)", "2 answers (4 bytes) received.");
    const auto calls = sim->calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ibclr " + ud), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ibwrt " + ud + " \"VOLT?\" 5"), calls.end());
}

TEST_F(GpibScriptWindowTest, AQueryDuringARunKeepsItsTalkAndListenTogether)
{
    script("*IDN?\tHVSIM,.*\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(1));
    w->txtCmd->setEditText("VOLT?");
    w->txtCmd->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(lines().contains("0\n"));
    EXPECT_EQ(w->lblBytesRcvd->text(), "2");
    const qsizetype before = w->txtLog->lineCount();
    ASSERT_TRUE(waitForLines(before + 2));
    click(w->btnEndTest);
    ASSERT_TRUE(waitForEnd());
    for (const QString& line : lines())
        EXPECT_FALSE(line.contains("failed")) << line.toStdString();
}

TEST_F(GpibScriptWindowTest, QuitTakesTheDeviceOfflineOnlyAfterTheRunEnded)
{
    script("*IDN?\t.*\n");
    click(w->btnTest);
    ASSERT_TRUE(waitForLines(2));
    click(w->btnQuit);
    EXPECT_FALSE(w->ScriptWorkerRunning());
    const auto calls = sim->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "ibonl " + ud + " 0");
    EXPECT_TRUE(lines().back().endsWith("bytes) received."));
}

namespace {

struct EthernetScriptWindowTest : ::testing::Test {
    testsupport::TempDir cwd;
    std::string oldCwd = std::filesystem::current_path().string();
    sim::ModuleCommands commands;
    sim::TcpModule module{commands};
    std::unique_ptr<TfrmMain> w;

    void SetUp() override
    {
        std::filesystem::current_path(cwd.path());
        ResetMainUnitGlobals();
        StopScript = false;
        ASSERT_TRUE(module.start(0));
        w = std::make_unique<TfrmMain>(
            QStringList{"voltdesk", "--ip", "127.0.0.1", "--port", QString::number(module.port())});
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        w->tabsInitialization->setCurrentIndex(TfrmMain::TabEthernet);
        QTest::mouseClick(w->btnInit, Qt::LeftButton);
        ASSERT_FALSE(w->btnInit->isEnabled());
    }
    void TearDown() override
    {
        w.reset();
        module.stop();
        ResetMainUnitGlobals();
        StopScript = false;
        std::filesystem::current_path(oldCwd);
    }
    QStringList lines() const
    {
        QStringList out;
        for (qsizetype i = 0; i < w->txtLog->lineCount(); ++i)
            out << w->txtLog->lineText(i);
        return out;
    }
};

} // namespace

TEST_F(EthernetScriptWindowTest, RunScriptConnectsAndWalksTheScriptUntilStopScript)
{
    testsupport::writeFile(cwd.file("script.txt"), "*IDN?\t.*\n");
    QTest::mouseClick(w->btnTest, Qt::LeftButton);
    EXPECT_FALSE(w->ScriptWorkerRunning()); // no worker on this tab
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->txtLog->lineCount() >= 2; }, WaitMs));
    EXPECT_EQ(lines()[0], "*IDN?\t" + Id);
    QTest::mouseClick(w->btnEndTest, Qt::LeftButton);
    EXPECT_FALSE(w->ethernet->EthernetScriptActive);
    EXPECT_FALSE(w->ethernet->sock->Active());
    const qsizetype after = w->txtLog->lineCount();
    QTest::qWait(100);
    EXPECT_EQ(w->txtLog->lineCount(), after);
    for (const QString& line : lines())
        EXPECT_EQ(line, "*IDN?\t" + Id);
}

// A walk without a link (Init, Quit, Stop Script, Run Script) and then a worker on the
// RS-232 tab would share the script table from two threads.
TEST_F(EthernetScriptWindowTest, RunScriptOnAnotherTabEndsAWalkUnderWay)
{
    testsupport::writeFile(cwd.file("script.txt"), "*IDN?\t.*\n");
    QTest::mouseClick(w->btnQuit, Qt::LeftButton);
    QTest::mouseClick(w->btnEndTest, Qt::LeftButton);
    QTest::mouseClick(w->btnTest, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->txtLog->lineCount() >= 1; }, WaitMs));
    w->tabsInitialization->setCurrentIndex(TfrmMain::TabRs232);
    QTest::mouseClick(w->btnTest, Qt::LeftButton);
    EXPECT_FALSE(w->ethernet->EthernetScriptActive);
    EXPECT_FALSE(w->ethernet->sock->Active());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->ScriptWorkerRunning(); }, WaitMs));
    EXPECT_EQ(lines().back(), "0 answers (0 bytes) received.");
}
