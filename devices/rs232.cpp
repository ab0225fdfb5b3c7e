#include "rs232.h"

#include "platform/clock.h"
#include "platform/serialmap.h"

#include <algorithm>

namespace serial = platform::serial;

bool CRS232::IsAcceptedBaudRate(int baudRate)
{
    return baudRate == 1200 || baudRate == 9600 || baudRate == 19200;
}

CRS232::CRS232(int comPort, int baudRate, bool& success)
{
    success = false;
    if (!IsAcceptedBaudRate(baudRate))
        return;
    handle_ = serial::openExclusive(platform::comDevicePath(comPort));
    if (handle_ == serial::InvalidHandle)
        return;
    // Settings the driver rejects do not fail the open: the port is there and ours.
    (void)serial::configureRaw(handle_, baudRate);
    serial::setModemLines(handle_, true, false);
    success = true;
}

CRS232::~CRS232()
{
    if (handle_ != serial::InvalidHandle) {
        serial::closePort(handle_);
        handle_ = serial::InvalidHandle;
    }
}

bool CRS232::Write(int count, const void* bytes)
{
    if (handle_ == serial::InvalidHandle)
        return false;
    if (count <= 0)
        return true;
    return serial::writeAll(handle_, bytes, static_cast<std::size_t>(count));
}

bool CRS232::Read(std::uint32_t& received, std::uint32_t maxCount, void* buffer)
{
    received = 0;
    if (handle_ == serial::InvalidHandle)
        return false;
    int queued = serial::queuedBytes(handle_);
    if (queued < 0)
        return false;
    if (queued == 0 || maxCount == 0)
        return true;
    long got = serial::readSome(handle_, buffer, std::min<std::uint32_t>(queued, maxCount));
    if (got < 0)
        return false;
    received = static_cast<std::uint32_t>(got);
    return true;
}

bool CRS232::WriteEchoed(unsigned count, const void* bytes)
{
    const auto* b = static_cast<const unsigned char*>(bytes);
    unsigned char echo = 0;
    std::uint32_t got = 0;

    platform::Sleep(EchoPollMs);
    for (int drained = 0; drained < DrainLimit; ++drained) {
        if (!Read(got, 1, &echo) || got == 0)
            break;
    }

    for (unsigned i = 0; i < count; ++i) {
        (void)Write(1, &b[i]);
        got = 0;
        for (int poll = 0; poll < EchoPolls && got == 0; ++poll) {
            platform::Sleep(EchoPollMs);
            Read(got, 1, &echo);
        }
        if (got == 0 || echo != b[i])
            return false;
    }
    return true;
}
