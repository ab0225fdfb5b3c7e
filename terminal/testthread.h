#pragma once
// The script worker: a thread that runs a loaded script over RS-232 or GPIB while
// the window stays usable. Its log lines reach the log view through calls that run
// on the GUI thread while the worker waits for them.
#include "scripts/scriptrun.h"

#include <QThread>
#include <atomic>
#include <string>

class LogView;

class TestThread : public QThread {
    Q_OBJECT
public:
    // Starts at once unless CreateSuspended; start() starts a suspended one. The
    // settings are what the run takes of the window, read on the GUI thread.
    TestThread(bool CreateSuspended, scripts::RunSettings settings, links::Link& link, LogView* log,
               QObject* parent = nullptr);
    // Waits for a run still under way (see finishRun).
    ~TestThread() override;

    // GUI thread: asks the run to end after the line under way, with its pauses cut
    // short, and returns once it has ended and logged its statistics. The worker's
    // log lines are shown while this waits, so the two cannot block each other.
    void finishRun();

    // How the run ended; valid once it has.
    scripts::RunEnd outcome() const { return outcome_; }

    // GUI thread: shows LogMessage, red when "failed" stands in it after its first
    // character, and scrolls the log one line down.
    void UpdateLog();
    // GUI thread: empties the log.
    void ClearLog();

protected:
    void run() override { Execute(); }

private:
    class Sink;
    void Execute();

    const scripts::RunSettings settings_;
    links::Link& link_;
    LogView* log_;
    std::atomic<bool> hurry_{false};
    scripts::RunEnd outcome_ = scripts::RunEnd::NotLoaded;
    // The line handed over; only one thread touches it at a time.
    std::string LogMessage;
};
