#pragma once
// The update run: brings the module into update mode, logs on, selects the target,
// sends the HEX file line by line and ends with the post-flash step. See protocol.txt.
#include "console.h"
#include "options.h"
#include "serialio.h"

#include <cstdint>
#include <cstdio>

namespace burnport {

enum ExitCode : int {
    ExitDone = 0,
    ExitNoHexFile = 1,
    ExitNoPort = 2,
    ExitNotReady = 3,
    ExitSafetyLoop = 4,
    ExitTransferFailed = 4,
    ExitBadArgument = 6,
};

// Pauses of the run, in milliseconds.
inline constexpr std::uint32_t CanCommandPauseMs = 5000;
inline constexpr std::uint32_t UpdateReplyPollMs = 10;
inline constexpr int UpdateReplyPasses = 50;
inline constexpr std::uint32_t RebootPauseMs = 5000;
inline constexpr std::uint32_t MessagePollMs = 100;     // awaiting "99" and "81"
inline constexpr std::uint32_t AfterStartPauseMs = 100;
inline constexpr std::uint32_t FpgaModePauseMs = 500;
inline constexpr std::uint32_t EraseAckPollMs = 1;
inline constexpr std::uint32_t AckPollMs = 0;           // BRN_CAN and HEX lines: a yield
inline constexpr std::uint32_t BeforeTransferPauseMs = 500;
inline constexpr std::uint32_t RepeatPauseMs = 100;
inline constexpr std::uint32_t AfterStatisticsPauseMs = 1000;
inline constexpr std::uint32_t EndRecordPauseMs = 2000;
inline constexpr std::uint32_t PostCanPauseMs = 5000;
inline constexpr std::uint32_t PostFlashPauseMs = 3000;
inline constexpr unsigned TimerResolutionMs = 1;

// Limits on waits for the module, so that a silent module cannot hold the run.
inline constexpr std::uint32_t LogOnTimeoutMs = 60000;
inline constexpr std::uint32_t ReadyTimeoutMs = 30000;
inline constexpr std::uint32_t EraseAckTimeoutMs = 30000;
inline constexpr std::uint32_t CanAckTimeoutMs = 30000;
inline constexpr std::uint32_t LineAckTimeoutMs = 10000;
// A module that asks for one line again and again gets this many repeats.
inline constexpr int LineRepeatLimit = 100;

inline constexpr int LogOnFailureLimit = 3;
inline constexpr int FirstFpgaSector = 2;
inline constexpr int LastFpgaSector = 7;
inline constexpr int CanAddressMax = 63;
inline constexpr std::size_t UpdateReplyLimit = 49;
inline constexpr std::uint32_t ReplyBufferSize = 120;
inline constexpr std::uint32_t ReplyLength = 4;

// Runs the update on an open HEX file and port; closes both and returns the exit code.
// May raise options.baudRate to 115200 from the module's reply.
int runUpdate(std::FILE* hexFile, Handle port, FlasherOptions& options, Console& console);

} // namespace burnport
