#include "testthread.h"

#include "scripts/script.h"

#include "logview.h"

#include <QCoreApplication>
#include <algorithm>
#include <QDeadlineTimer>
#include <QScrollBar>

// Hands each line to the GUI thread and waits until it is shown there.
class TestThread::Sink : public scripts::LogSink {
public:
    explicit Sink(TestThread& thread) : thread_(thread) {}
    void UpdateLog(const std::string& message) override
    {
        thread_.LogMessage = message;
        QMetaObject::invokeMethod(&thread_, &TestThread::UpdateLog, Qt::BlockingQueuedConnection);
    }
    void ClearLog() override { QMetaObject::invokeMethod(&thread_, &TestThread::ClearLog, Qt::BlockingQueuedConnection); }

private:
    TestThread& thread_;
};

namespace {
// How often a waiting GUI thread looks for the worker's log lines.
constexpr int FinishPollMs = 2;
} // namespace

TestThread::TestThread(bool CreateSuspended, scripts::RunSettings settings, links::Link& link, LogView* log,
                       QObject* parent)
    : QThread(parent), settings_(std::move(settings)), link_(link), log_(log)
{
    if (!CreateSuspended)
        start();
}

TestThread::~TestThread()
{
    finishRun();
}

void TestThread::finishRun()
{
    if (!isRunning())
        return;
    // Hurry first: a worker that sees the stop ends its pause without the next line.
    hurry_ = true;
    StopScript = true;
    // The worker's synchronous calls are events for this object on the GUI thread:
    // they are delivered here, and nothing else is.
    while (!wait(QDeadlineTimer(FinishPollMs)))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TestThread::Execute()
{
    Sink sink(*this);
    outcome_ = scripts::ExecuteScript(settings_, link_, sink, hurry_);
}

void TestThread::UpdateLog()
{
    if (LogMessage.empty())
        return;
    const QString line = QString::fromLatin1(LogMessage.data(), static_cast<qsizetype>(LogMessage.size()));
    QScrollBar* bar = log_->verticalScrollBar();
    const int top = bar->value();
    log_->addLine(line, scripts::LogLineColour(LogMessage));
    // One line down from where the reader stood, not a jump to the new line; a line
    // that wraps moves the view by all its rows, so that a followed log keeps up.
    const qsizetype rows = std::max<qsizetype>(1, log_->lineRows(log_->lineCount() - 1));
    bar->setValue(static_cast<int>(std::min<qsizetype>(top + rows, bar->maximum())));
}

void TestThread::ClearLog()
{
    log_->clear();
}
