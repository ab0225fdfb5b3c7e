// The worker thread and the log view it writes to on the GUI thread.
#include "scripts/script.h"
#include "terminal/testthread.h"

#include "terminal/logview.h"
#include "tests/support/simport.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct TestThreadTest : ::testing::Test {
    testsupport::TempDir dir;
    links::Link link;
    LogView log;
    scripts::RunSettings settings;

    void SetUp() override
    {
        StopScript = false;
        settings.fileName = dir.file("script.txt");
        settings.link = links::LinkKind::Rs232;
        log.resize(400, 200);
        log.show();
    }
    void TearDown() override { StopScript = false; }
    void script(const std::string& text) { testsupport::writeFile(settings.fileName, text); }
    bool waitUntilDone(TestThread& t)
    {
        return QTest::qWaitFor([&] { return t.isFinished(); }, 30000);
    }
    QStringList lines() const
    {
        QStringList out;
        for (qsizetype i = 0; i < log.lineCount(); ++i)
            out << log.lineText(i);
        return out;
    }
};

} // namespace

TEST_F(TestThreadTest, LinesArriveInTheirColoursAndScrollTheLogOneLineDown)
{
    for (int i = 0; i < 100; ++i)
        log.addLine(QString::number(i), 0);
    log.verticalScrollBar()->setValue(0);
    script("SDC\nCLEAR-NOT\nSTOP\n");
    TestThread t(false, settings, link, &log);
    ASSERT_TRUE(waitUntilDone(t));
    // Without a port the device line fails to send and ends the run.
    ASSERT_EQ(log.lineCount(), 104);
    EXPECT_EQ(log.lineText(100), "Warning: Ignoring command SDC");
    EXPECT_EQ(log.lineText(101), "CLEAR-NOT failed.");
    EXPECT_EQ(log.lineColour(100), 0u);
    EXPECT_EQ(log.lineColour(101), 255u);
    EXPECT_TRUE(log.lineText(102).startsWith("0 commands (9 bytes) send in "));
    EXPECT_EQ(log.lineText(103), "0 answers (0 bytes) received.");
    // The reader's place moved by one line for each line, not to the end.
    EXPECT_EQ(log.verticalScrollBar()->value(), 4);
    EXPECT_EQ(t.outcome(), scripts::RunEnd::Statistics);
}

TEST_F(TestThreadTest, ALogFollowedToItsEndStaysAtItsEnd)
{
    for (int i = 0; i < 100; ++i)
        log.addLine(QString::number(i), 0);
    QScrollBar* bar = log.verticalScrollBar();
    ASSERT_EQ(bar->value(), bar->maximum());
    script("SDC\nSTOP\n");
    TestThread t(false, settings, link, &log);
    ASSERT_TRUE(waitUntilDone(t));
    EXPECT_EQ(log.lineCount(), 104);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TestThreadTest, ALogFollowedToItsEndKeepsUpWithLinesThatWrap)
{
    for (int i = 0; i < 100; ++i)
        log.addLine(QString::number(i), 0);
    QScrollBar* bar = log.verticalScrollBar();
    ASSERT_EQ(bar->value(), bar->maximum());
    // Without a port the long device line fails; its red line wraps over several rows.
    script(std::string(200, 'X') + "\n");
    TestThread t(false, settings, link, &log);
    ASSERT_TRUE(waitUntilDone(t));
    ASSERT_EQ(log.lineCount(), 103); // and the two statistics lines
    EXPECT_EQ(log.lineText(100), QString(200, 'X') + " failed.");
    ASSERT_GT(log.lineRows(100), 1);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TestThreadTest, ClearEmptiesTheLogAndTheRunGoesOn)
{
    log.addLine("old", 0);
    script("SDC\nCLEAR\nSTOP\n");
    TestThread t(false, settings, link, &log);
    ASSERT_TRUE(waitUntilDone(t));
    ASSERT_EQ(log.lineCount(), 3);
    EXPECT_EQ(log.lineText(0), "Stopping Script");
}

TEST_F(TestThreadTest, FinishingARunFromABusyGuiThreadCannotDeadlock)
{
    // An endless script that logs as fast as it can: the worker is always waiting for
    // the GUI thread, which does not look at its events before it asks for the end.
    script("SDC\n");
    TestThread t(false, settings, link, &log);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lineCount() > 0; }, 30000));
    t.finishRun();
    EXPECT_TRUE(t.isFinished());
    EXPECT_TRUE(StopScript);
    const QStringList l = lines();
    ASSERT_GE(l.size(), 2);
    EXPECT_TRUE(l[l.size() - 2].startsWith("0 commands (0 bytes) send in ")) << l[l.size() - 2].toStdString();
    EXPECT_EQ(l.back(), "0 answers (0 bytes) received.");
    EXPECT_EQ(l.count("Warning: Ignoring command SDC"), l.size() - 2);
}

TEST_F(TestThreadTest, ASuspendedWorkerWaitsForItsStart)
{
    script("STOP\n");
    TestThread t(true, settings, link, &log);
    EXPECT_FALSE(t.isRunning());
    t.start();
    ASSERT_TRUE(waitUntilDone(t));
    EXPECT_EQ(log.lineCount(), 3);
}
