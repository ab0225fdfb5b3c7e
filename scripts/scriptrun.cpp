#include "scriptrun.h"

#include "script.h"

#include "devices/rs232.h"
#include "platform/clocalescope.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "link/gpibexchange.h"
#include "link/rs232exchange.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace scripts {
namespace {

constexpr const char* LineEnd = "\r\n";
// A long pause is slept in slices, so that a window waiting for the run is not held.
constexpr std::uint32_t PauseSliceMs = 100;

bool hasLineEnd(const std::string& s)
{
    return s.find(LineEnd) != std::string::npos;
}

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Counts of a run. Kept wider than the 32 bits the window shows, so a run of many
// nights cannot overflow them.
struct Counters {
    std::int64_t commands = 0;
    std::int64_t bytesSent = 0;
    std::int64_t answers = 0;
    std::int64_t bytesReceived = 0;
};

class ScriptRun {
public:
    ScriptRun(const RunSettings& settings, links::Link& link, LogSink& log, const std::atomic<bool>& hurry)
        : settings_(settings), link_(link), log_(log), hurry_(hurry)
    {
    }

    void loop();
    const Counters& counters() const { return counters_; }

private:
    // false: the line failed and the run ends.
    bool deviceStep(const std::string& command, const std::string& expected);
    void sleepStep(int index, const std::string& command);
    // false: told to finish (the window closes, the port is wanted), so nothing more
    // goes out.
    bool pause(std::int64_t ms);
    void show(std::string text)
    {
        LogMessage = std::move(text);
        log_.UpdateLog(LogMessage);
    }

    const RunSettings& settings_;
    links::Link& link_;
    LogSink& log_;
    const std::atomic<bool>& hurry_;
    Counters counters_;
    // The one line handed to the window next; empty shows nothing.
    std::string LogMessage;
};

bool ScriptRun::pause(std::int64_t ms)
{
    // A negative time waits nothing.
    while (ms > 0 && !hurry_.load()) {
        const auto slice = static_cast<std::uint32_t>(std::min<std::int64_t>(ms, PauseSliceMs));
        platform::Sleep(slice);
        ms -= slice;
    }
    return !hurry_.load();
}

void ScriptRun::loop()
{
    int index = 0;
    while (!StopScript.load()) {
        if (!pause(link_.commandDelay()))
            return;
        const std::string command = ScriptCommands[static_cast<std::size_t>(index)];
        const std::string expected = ScriptAnswers[static_cast<std::size_t>(index)];
        if (command == "SDC") {
            if (settings_.link == links::LinkKind::Gpib) {
                ++counters_.commands;
                LogMessage = "Selected Device Clear";
                auto exchange = link_.exchange();
                links::GpibClearDevice(exchange.gpibDevice());
            } else {
                LogMessage = "Warning: Ignoring command SDC";
            }
        } else if (command.starts_with("SLEEP")) {
            sleepStep(index, command);
        } else if (command == "STOP") {
            LogMessage = "Stopping Script";
            StopScript = true;
        } else if (command == "CLEAR") {
            LogMessage.clear();
            log_.ClearLog();
        } else if (!deviceStep(command, expected)) {
            return;
        }
        log_.UpdateLog(LogMessage);
        if (++index >= ScriptLineCount)
            index = 0;
    }
}

void ScriptRun::sleepStep(int index, const std::string& command)
{
    std::string& answer = ScriptAnswers[static_cast<std::size_t>(index)];
    if (answer.empty() && command.size() > 5)
        answer = SleepArgumentOf(command);
    const int ms = platform::StrToInt(answer);
    LogMessage.clear();
    pause(ms);
}

bool ScriptRun::deviceStep(const std::string& command, const std::string& expected)
{
    const std::string line = SubstituteRand(command, [] { return static_cast<std::int32_t>(std::rand()); });
    const bool rs232 = settings_.link == links::LinkKind::Rs232;
    const bool gpib = settings_.link == links::LinkKind::Gpib;
    const std::string written = line.substr(0, rs232 ? Rs232CommandLimit : GpibCommandLimit);
    counters_.bytesSent += static_cast<std::int64_t>(written.size());

    bool sent = true;
    std::string answer;
    {
        // The send and the reading of its answer are one exchange.
        auto exchange = link_.exchange();
        if (rs232) {
            const std::string wire = written + LineEnd;
            CRS232* port = exchange.port();
            sent = port && port->WriteEchoed(static_cast<unsigned>(wire.size()), wire.data());
            if (sent && !expected.empty())
                answer = ReadScriptAnswer(*port, settings_.rvx);
        } else if (gpib) {
            sent = links::GpibTalk(exchange.gpibDevice(), written, false);
            if (sent && !expected.empty()) {
                if (!pause(link_.commandDelay())) {
                    LogMessage = line + " sent.";
                    ++counters_.commands;
                    return true;
                }
                answer = links::GpibListen(exchange.gpibDevice()).text;
            }
        }
    }
    if (!sent) {
        show(line + " failed.");
        return false;
    }
    if (expected.empty()) {
        LogMessage = line + " sent.";
        if (rs232)
            pause(SentPauseMs);
        ++counters_.commands;
        return true;
    }
    if (rs232)
        pause(link_.commandDelay());
    // The answer is a zero-terminated text from here on.
    answer.resize(strnlen(answer.c_str(), answer.size()));
    ++counters_.answers;
    counters_.bytesReceived += static_cast<std::int64_t>(answer.size());
    if (CheckAnswer(answer.c_str(), expected.c_str())) {
        LogMessage = line + " passed: '" + answer + "'";
        ++counters_.commands;
        return true;
    }
    show(line + " failed: '" + answer + "'");
    return false;
}

std::string format(const char* pattern, auto... values)
{
    char text[160];
    // "%.1f" seconds with a point, whatever the user's locale.
    platform::CLocaleScope c;
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

} // namespace

RunEnd ExecuteScript(const RunSettings& settings, links::Link& link, LogSink& log, const std::atomic<bool>& hurry)
{
    LoadScript(settings.fileName.c_str());
    if (ScriptLineCount == 0)
        return RunEnd::NotLoaded;

    platform::clock().beginPeriod(TimerResolutionMs);
    const std::uint32_t start = platform::timeGetTime();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    ScriptRun run(settings, link, log, hurry);
    try {
        run.loop();
    } catch (...) {
        // A SLEEP time or bound that is no number, or an invalid pattern: the run ends
        // where it stands, without statistics.
        platform::clock().endPeriod(TimerResolutionMs);
        return RunEnd::Error;
    }
    platform::clock().endPeriod(TimerResolutionMs);

    const double seconds = static_cast<std::uint32_t>(platform::timeGetTime() - start) * 0.001;
    const Counters& c = run.counters();
    log.UpdateLog(format("%" PRId64 " commands (%" PRId64 " bytes) send in %.1f seconds.", c.commands, c.bytesSent,
                         seconds));
    log.UpdateLog(format("%" PRId64 " answers (%" PRId64 " bytes) received.", c.answers, c.bytesReceived));
    return RunEnd::Statistics;
}

std::string SubstituteRand(const std::string& command, const std::function<std::int32_t()>& random)
{
    const std::size_t dollar = command.find(RandMarker);
    if (dollar == std::string::npos)
        return command;
    const std::size_t lowStart = dollar + std::strlen(RandMarker);
    const std::size_t lowEnd = std::min(command.find(',', lowStart), command.size());
    const std::size_t highStart = std::min(lowEnd + 1, command.size());
    const std::size_t close = command.find(')', highStart);
    const std::size_t highEnd = std::min(close, command.size());
    const std::size_t removedEnd = close == std::string::npos ? command.size() : close + 1;

    const std::int64_t high = platform::StrToInt(command.substr(highStart, highEnd - highStart));
    const std::int64_t low = platform::StrToInt(command.substr(lowStart, lowEnd - lowStart));
    const std::int64_t n = high - low;
    // The remainder of a non-negative number is never negative, also for n < 0.
    const std::int64_t value = n == 0 ? low : low + std::int64_t{random()} % n;
    return command.substr(0, dollar) + std::to_string(value) + command.substr(removedEnd);
}

std::string ReadScriptAnswer(CRS232& port, bool rvx)
{
    std::string answer;
    int polls = 0;
    for (;;) {
        links::PollAnswer(port, answer);
        platform::Sleep(AnswerPollMs);
        if (hasLineEnd(answer) || ++polls >= AnswerPolls)
            break;
    }
    // Modules in RVX mode send an acknowledgement line before the answer.
    if (rvx && polls < RvxAnswerPolls) {
        answer.erase(0, answer.find(LineEnd) + 2);
        for (polls = 0;;) {
            links::PollAnswer(port, answer);
            platform::Sleep(AnswerPollMs);
            if (hasLineEnd(answer) || ++polls >= RvxAnswerPolls)
                break;
        }
    }
    const std::size_t end = answer.find(LineEnd);
    if (end != std::string::npos)
        answer.resize(end);
    return answer;
}

std::string SleepArgumentOf(const std::string& command)
{
    std::size_t from = 5;
    while (from < command.size() && isWhiteSpace(command[from]))
        ++from;
    return command.substr(std::min(from, command.size()), SleepArgumentLimit);
}

std::uint32_t LogLineColour(const std::string& line)
{
    const std::size_t at = line.find("failed");
    return at != std::string::npos && at > 0 ? 255u : 0u;
}

} // namespace scripts
