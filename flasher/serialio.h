#pragma once
// Burnport's serial routines: open a COM port, set its speed, read what is queued,
// and send text under the module's echo check. Time-outs are counts of polls; no
// read ever waits for bytes that are not queued yet.
#include "platform/serial.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace burnport {

using Handle = platform::serial::Handle;
inline constexpr Handle InvalidHandle = platform::serial::InvalidHandle;

// Polls allowed for the echo of one character in the per-character form.
inline constexpr std::int32_t EchoPollBudget = 1000000;
// Polls allowed for the tail of a line's echo in the burst form.
inline constexpr std::int32_t BurstPollBudget = 500000;
// The burst form's pause before it drains the input and writes a line.
inline constexpr std::uint32_t BurstStartPauseMs = 1;
// Longest port name the device-name buffer takes.
inline constexpr std::size_t PortNameLimit = 251;
// The burst form collects the echo in a buffer of this size, terminator included.
inline constexpr std::size_t EchoBufferSize = 256;
// A module that keeps sending must not hold a flush for ever.
inline constexpr std::size_t FlushByteLimit = 1u << 20;
// Speed of the port right after opening, until setBaudRate.
inline constexpr int OpenBaudRate = 9600;

// Burst form of sendRecord ("--fast").
extern bool FastMode;
// Smallest poll budget left over by a successful burst send.
extern std::int32_t MinCount;

// Opens "COMn" (through the serial-port map) exclusively; InvalidHandle on failure.
Handle openPort(std::string_view portName);
// 8N1 at the given rate; false when the driver refuses.
bool setBaudRate(Handle h, int baudRate);
// False only for a missing handle; a failed write shows up in the echo check.
bool writeBytes(Handle h, int count, const void* bytes);
// Reads at most `most` of the bytes already queued. False for a missing handle, a
// failed read, or a port that has gone away.
bool readAvailable(Handle h, std::uint32_t& count, std::uint32_t most, void* buffer);
// All or nothing: reads `wanted` bytes once that many are queued, else none.
bool readExact(Handle h, std::uint32_t wanted, std::uint32_t& count, std::uint32_t size, void* buffer);
// Reads and drops input until nothing is queued.
void flushInput(Handle h);
// Sends each character and waits for its echo before the next.
bool sendEchoed(Handle h, std::string_view text);
// A HEX record: as sendEchoed, or the burst form under FastMode.
bool sendRecord(Handle h, std::string_view text);

} // namespace burnport
