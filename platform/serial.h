#pragma once
// Raw serial port access on a file descriptor: the stand-in for the Win32
// communications calls. Results: true/false or a count >= 0, -1 on failure;
// errno holds the system error.
#include <cstddef>
#include <string>

namespace platform::serial {

using Handle = int;
constexpr Handle InvalidHandle = -1;

// Opens a device for exclusive read/write use (no controlling terminal).
// Another holder of the port makes this fail.
Handle openExclusive(const std::string& devicePath);

// Raw 8N1, no flow control, receiver on, modem lines ignored.
bool configureRaw(Handle h, int baud);
// Changes the speed only, keeping the other settings.
bool setSpeed(Handle h, int baud);
// True when the rate maps to a termios speed.
bool isSupportedSpeed(int baud);

// DTR raised, RTS low. Pseudo-terminals refuse this; that is not an error.
void setModemLines(Handle h, bool dtr, bool rts);
// Asks USB adapters to deliver bytes at once; ignored where unsupported.
void requestLowLatency(Handle h);

// Bytes waiting in the driver's input queue, or -1.
int queuedBytes(Handle h);
// True when the device is gone: the far end of a pseudo-terminal closed, an adapter unplugged.
bool hungUp(Handle h);
// One read of up to n bytes that are known to be queued; retries EINTR.
long readSome(Handle h, void* buffer, std::size_t n);
// Writes all bytes; false when the system refuses (an unplugged adapter).
bool writeAll(Handle h, const void* bytes, std::size_t n);
// Discards what is queued in both directions of the driver.
void discardQueues(Handle h);
void closePort(Handle h);

} // namespace platform::serial
