#pragma once
// The GPIB link's exchanges as functions of plain values: the device open with its
// fixed arguments, Talk, Listen, device clear, unaddressing and the bus scan. The
// caller holds the link's lock (Link::exchange) around each.
#include <cstdint>
#include <string>
#include <vector>

namespace links {

inline constexpr int GpibBoard = 0;
inline constexpr int DefaultGpibAddress = 17;
inline constexpr int HighestGpibAddress = 31;
inline constexpr int GpibListenBufferSize = 256;
inline constexpr int GpibScanLimit = 30;
inline constexpr int GpibScanReadMax = 255;
inline constexpr std::uint32_t GpibScanAnswerPauseMs = 100;

// The primary address Init opens for a typed number: its low 8 bits, where 0 and
// anything above 31 become 17.
int GpibAddressOf(int typed);

// A device on the first board at the address (timeout 300 ms, EOI with the last
// byte, no end-of-string character); -1 when the open failed.
int GpibOpenDevice(int address);
// What Init sets on a new descriptor: unaddressing when asked, EOI always.
void GpibConfigureDevice(int device, bool unaddress);
void GpibSetUnaddress(int device, bool on);
void GpibClearDevice(int device);
void GpibOffline(int device);

// Writes the command, cut so that the optional line feed still fits the line;
// false when the driver reports an error.
bool GpibTalk(int device, const std::string& command, bool lineFeed);

struct GpibAnswer {
    std::string text;        // the bytes up to the first NUL; the device's terminator stays
    std::int32_t count = 0;  // the driver's byte count of the read
};
GpibAnswer GpibListen(int device);

struct GpibListener {
    int address = 0;
    std::string answer; // its identification, terminator included
};
// Interface clear, then every listener's answer to "*IDN?" (with a line feed when
// asked), each read 100 ms after the query, in the order the driver found them.
std::vector<GpibListener> GpibScan(bool lineFeed);

} // namespace links
