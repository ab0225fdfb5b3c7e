#include "gpibexchange.h"

#include "rs232exchange.h"

#include "devices/gpib.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstring>

namespace links {
namespace {

constexpr int NoSecondaryAddress = 0;
constexpr int TimeoutT300ms = 10;
constexpr int EotOn = 1;
constexpr int NoEos = 0;
constexpr int IbcUnAddr = 0x1B;
constexpr int IbcEOT = 4;
constexpr int ScanListSize = 32;
constexpr const char* IdentificationQuery = "*IDN?";

// The bytes up to the first NUL, never past the buffer.
std::string textOf(const char* buffer, std::size_t size)
{
    return std::string(buffer, strnlen(buffer, size));
}

} // namespace

int GpibAddressOf(int typed)
{
    const int address = typed & 0xFF;
    return address == 0 || address > HighestGpibAddress ? DefaultGpibAddress : address;
}

int GpibOpenDevice(int address)
{
    return ibdev(GpibBoard, address, NoSecondaryAddress, TimeoutT300ms, EotOn, NoEos);
}

void GpibConfigureDevice(int device, bool unaddress)
{
    if (unaddress)
        ibconfig(device, IbcUnAddr, 1);
    ibconfig(device, IbcEOT, 1);
}

void GpibSetUnaddress(int device, bool on)
{
    ibconfig(device, IbcUnAddr, on ? 1 : 0);
}

void GpibClearDevice(int device)
{
    ibclr(device);
}

void GpibOffline(int device)
{
    ibonl(device, 0);
}

bool GpibTalk(int device, const std::string& command, bool lineFeed)
{
    std::string line = CutCommand(command, lineFeed ? 1 : 0);
    if (lineFeed)
        line += '\n';
    return (ibwrt(device, line.data(), static_cast<long>(line.size())) & gpib::StatusError) == 0;
}

GpibAnswer GpibListen(int device)
{
    char buffer[GpibListenBufferSize] = {};
    ibrd(device, buffer, GpibListenBufferSize);
    return {textOf(buffer, sizeof buffer), ibcntl};
}

std::vector<GpibListener> GpibScan(bool lineFeed)
{
    SendIFC(GpibBoard);
    Addr4882_t addresses[ScanListSize] = {};
    for (int i = 0; i < GpibScanLimit; ++i)
        addresses[i] = static_cast<Addr4882_t>(i + 1);
    addresses[GpibScanLimit] = NOADDR;
    Addr4882_t results[ScanListSize] = {};
    FindLstn(GpibBoard, addresses, results, GpibScanLimit);

    std::string query(IdentificationQuery);
    if (lineFeed)
        query += '\n';
    std::vector<GpibListener> found;
    for (int i = 0; i < ScanListSize && results[i] > 0; ++i) {
        const int device = GpibOpenDevice(results[i]);
        ibwrt(device, query.data(), static_cast<long>(query.size()));
        platform::Sleep(GpibScanAnswerPauseMs);
        char buffer[GpibListenBufferSize] = {};
        ibrd(device, buffer, GpibScanReadMax);
        const auto received = static_cast<std::size_t>(std::clamp<std::int32_t>(ibcntl, 0, GpibScanReadMax));
        found.push_back({results[i], textOf(buffer, received)});
        ibonl(device, 0);
    }
    return found;
}

} // namespace links
