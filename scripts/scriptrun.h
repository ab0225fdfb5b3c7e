#pragma once
// The body of a script run over RS-232 or GPIB, without Qt: the worker thread runs
// it and hands its log lines to the window through a sink. It reads nothing of the
// window: what it needs is handed over when the run starts.
#include "link/link.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class CRS232;

namespace scripts {

// Where a run's log lines go. Both calls return once the window has shown the line.
class LogSink {
public:
    virtual ~LogSink() = default;
    // One line; an empty text shows nothing.
    virtual void UpdateLog(const std::string& LogMessage) = 0;
    virtual void ClearLog() = 0;
};

struct RunSettings {
    std::string fileName;                            // 8-bit, as the file system takes it
    links::LinkKind link = links::LinkKind::Rs232;
    bool rvx = false;                                // "RVX Compatibility"
};

enum class RunEnd {
    NotLoaded,  // no file or no script line: nothing logged
    Statistics, // stopped or failed, with the two statistics lines
    Error,      // a SLEEP time or "$RAND(" bound that is no number, or an invalid pattern
};

inline constexpr unsigned TimerResolutionMs = 1;
inline constexpr std::size_t Rs232CommandLimit = 253; // CR LF still fits 255
inline constexpr std::size_t GpibCommandLimit = 255;
inline constexpr std::uint32_t SentPauseMs = 10;       // after a line sent on RS-232
inline constexpr std::uint32_t AnswerPollMs = 10;
inline constexpr int AnswerPolls = 100;
inline constexpr int RvxAnswerPolls = 50;
inline constexpr std::size_t SleepArgumentLimit = 100;
inline constexpr const char* RandMarker = "$RAND(";

// Runs the script once loaded from the file: endlessly over its lines until a STOP
// line, StopScript or a failed line. hurry cuts the pauses (the delay and SLEEP)
// short: the window sets it when it waits for the run to end.
RunEnd ExecuteScript(const RunSettings& settings, links::Link& link, LogSink& log,
                     const std::atomic<bool>& hurry);

// Replaces the first "$RAND(low,high)" in the command with a number from low to
// high - 1 (low alone when they are equal; for high < low, low plus 0 to low - high - 1),
// drawing the generator only when it needs a number. A bound that is no number
// throws platform::EConvertError.
std::string SubstituteRand(const std::string& command, const std::function<std::int32_t()>& random);

// The answer to a script line on RS-232: 100 polls at most, ended by CR LF; with
// RVX, the line after a first line that came within 50 polls. Cut at CR LF.
std::string ReadScriptAnswer(CRS232& port, bool rvx);

// A SLEEP line's time in the command column: the text after the keyword, leading
// white space skipped, at most 100 characters.
std::string SleepArgumentOf(const std::string& command);

// 255 (red) when "failed" occurs in the line after its first character, else 0.
std::uint32_t LogLineColour(const std::string& line);

} // namespace scripts
