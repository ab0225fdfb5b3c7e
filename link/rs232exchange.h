#pragma once
// One interactive command over the COM link: send with CR LF (echo-checked unless
// "No Echo"), then poll for the answer.
#include <cstdint>
#include <string>

class CRS232;

namespace links {

// The command text and its terminator together.
inline constexpr int CommandLineLimit = 255;
inline constexpr int AnswerLimit = 255;
inline constexpr std::uint32_t PollReadMax = 256;
inline constexpr std::uint32_t AnswerPollMs = 10;
inline constexpr int AnswerPolls = 80;
inline constexpr int RvxAnswerPolls = 50;
// A module that streams without ever ending its line must not hold the window for
// ever: the read gives up after this many polls in all (10 s).
inline constexpr int AnswerPollCeiling = 1000;

inline constexpr const char* CommandSentText = "<Command sent>";
inline constexpr const char* NoCommunicationText = "<No Communication>";

// One poll of the port: appends what is queued (at most PollReadMax bytes) to the
// answer, never beyond AnswerLimit; true when bytes came.
bool PollAnswer(CRS232& port, std::string& answer);

// Cuts a command so that it and its terminator fit the command line.
std::string CutCommand(const std::string& command, int terminatorLength);

struct Rs232Answer {
    bool sent = false;
    std::uint32_t byteCount = 0; // bytes kept before the cut at CR LF
    std::string text;            // the answer up to its first CR LF, or "<Command sent>"
};

// port may be null (no link): the send fails.
Rs232Answer Rs232Exchange(CRS232* port, const std::string& command, bool noEcho, bool rvx);

} // namespace links
