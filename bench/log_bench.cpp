// Appends a night's worth of log lines to a shown log view and reports the cost of
// an append early and late in the run, and the memory a line takes; then the cost of
// appending long answers that wrap over several rows.
#include "terminal/logview.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr int kLines = 1'000'000;
constexpr int kWindow = 100'000;        // lines in the first and the last measured stretch
constexpr int kLinesPerEventPass = 10;  // the event loop runs (and repaints) this often

long residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

QString lineFor(int i)
{
    // About 45 characters, like a logged command or answer.
    return QString("%1 U1?  ->  U1=%2V I1=%3mA STATUS OK")
        .arg(i, 7, 10, QChar('0'))
        .arg(i % 4000, 4)
        .arg(i % 97, 3);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    LogView log;
    log.resize(617, 273);
    log.show();
    QCoreApplication::processEvents();

    const long rssBefore = residentBytes();
    qsizetype chars = 0;
    using Clock = std::chrono::steady_clock;
    Clock::time_point start = Clock::now();
    Clock::duration inAddLine{};
    double firstUs = 0, lastUs = 0, firstAddUs = 0, lastAddUs = 0;
    auto perLine = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count() / kWindow; };
    for (int i = 0; i < kLines; ++i) {
        if (i == kLines - kWindow) {
            start = Clock::now();
            inAddLine = {};
        }
        const QString line = lineFor(i);
        chars += line.size();
        const Clock::time_point before = Clock::now();
        log.addLine(line, i % 10 == 0 ? 255u : 0u);
        inAddLine += Clock::now() - before;
        if (i % kLinesPerEventPass == kLinesPerEventPass - 1)
            QCoreApplication::processEvents();
        if (i == kWindow - 1) {
            firstUs = perLine(Clock::now() - start);
            firstAddUs = perLine(inAddLine);
        }
    }
    lastUs = perLine(Clock::now() - start);
    lastAddUs = perLine(inAddLine);
    const long rssAfter = residentBytes();

    std::printf("lines: %d, average length %.1f characters, event pass every %d lines\n", kLines,
                double(chars) / kLines, kLinesPerEventPass);
    std::printf("first %d lines: %.3f us/line in all, %.3f us/line in addLine\n", kWindow, firstUs, firstAddUs);
    std::printf("last  %d lines: %.3f us/line in all, %.3f us/line in addLine\n", kWindow, lastUs, lastAddUs);
    std::printf("resident growth: %.1f bytes/line (%.1f MB total resident)\n",
                double(rssAfter - rssBefore) / kLines, rssAfter / 1e6);

    LogView wrapped;
    wrapped.resize(617, 273);
    wrapped.show();
    const QString longLine = QString(lineFor(0) + ' ').repeated(6).left(255);
    Clock::duration longIn{};
    const Clock::time_point longStart = Clock::now();
    for (int i = 0; i < kWindow; ++i) {
        const Clock::time_point before = Clock::now();
        wrapped.addLine(longLine, 0u);
        longIn += Clock::now() - before;
        if (i % kLinesPerEventPass == kLinesPerEventPass - 1)
            QCoreApplication::processEvents();
    }
    std::printf("%d lines of 255 characters, wrapped: %.3f us/line in all, %.3f us/line in addLine\n", kWindow,
                perLine(Clock::now() - longStart), perLine(longIn));
    return log.lineCount() == kLines && wrapped.lineCount() == kWindow ? 0 : 1;
}
