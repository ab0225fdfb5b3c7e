#include "serialio.h"

#include "platform/clock.h"
#include "platform/serialmap.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace burnport {

namespace serial = platform::serial;

bool FastMode = false;
std::int32_t MinCount = BurstPollBudget;

namespace {

// 0 counts as missing too: callers treat it as "no port" like the invalid value.
bool missing(Handle h)
{
    return h == 0 || h == InvalidHandle;
}

// One poll for a single echo byte; false when the port is gone.
bool pollOne(Handle h, std::uint8_t& byte, bool& came)
{
    std::uint32_t got = 0;
    bool ok = readAvailable(h, got, 1, &byte);
    came = got == 1;
    return ok;
}

} // namespace

Handle openPort(std::string_view portName)
{
    if (portName.size() > PortNameLimit)
        return InvalidHandle;
    Handle h = serial::openExclusive(platform::comDevicePath(portName));
    if (h == InvalidHandle)
        return h;
    if (h == 0) {
        // Started with standard input closed: descriptor 0 would read as "no port".
        Handle moved = ::fcntl(h, F_DUPFD_CLOEXEC, 3);
        ::close(h);
        if (moved < 0)
            return InvalidHandle;
        h = moved;
    }
    // A terminal device starts in cooked mode; the protocol needs every byte as it is.
    (void)serial::configureRaw(h, OpenBaudRate);
    // USB adapters otherwise hold each reply back for several milliseconds.
    serial::requestLowLatency(h);
    return h;
}

bool setBaudRate(Handle h, int baudRate)
{
    if (missing(h))
        return false;
    return serial::setSpeed(h, baudRate);
}

bool writeBytes(Handle h, int count, const void* bytes)
{
    if (missing(h))
        return false;
    if (count > 0)
        (void)serial::writeAll(h, bytes, static_cast<std::size_t>(count));
    return true;
}

bool readAvailable(Handle h, std::uint32_t& count, std::uint32_t most, void* buffer)
{
    count = 0;
    if (missing(h))
        return false;
    int queued = serial::queuedBytes(h);
    if (queued < 0)
        return false;
    if (queued == 0)
        return !serial::hungUp(h);
    if (most == 0)
        return true;
    long got = serial::readSome(h, buffer, std::min<std::uint32_t>(static_cast<std::uint32_t>(queued), most));
    if (got < 0)
        return false;
    count = static_cast<std::uint32_t>(got);
    return true;
}

bool readExact(Handle h, std::uint32_t wanted, std::uint32_t& count, std::uint32_t size, void* buffer)
{
    count = 0;
    if (missing(h) || wanted == 0 || wanted > size)
        return false;
    int queued = serial::queuedBytes(h);
    if (queued < 0)
        return false;
    if (static_cast<std::uint32_t>(queued) < wanted)
        return !serial::hungUp(h);
    // The bytes are queued, so this read returns them at once; a short read of a
    // terminal that delivers in pieces is completed here.
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < wanted) {
        long got = serial::readSome(h, out + done, wanted - done);
        if (got <= 0)
            return false;
        done += static_cast<std::uint32_t>(got);
    }
    count = done;
    return true;
}

void flushInput(Handle h)
{
    std::uint8_t scratch = 0;
    std::uint32_t got = 0;
    std::size_t dropped = 0;
    do {
        if (!readAvailable(h, got, 1, &scratch))
            return;
        dropped += got;
    } while (got != 0 && dropped < FlushByteLimit);
}

bool sendEchoed(Handle h, std::string_view text)
{
    flushInput(h);
    for (char c : text) {
        (void)writeBytes(h, 1, &c);
        std::uint8_t echo = 0;
        bool came = false;
        for (std::int32_t budget = EchoPollBudget; !came && budget > 0; --budget) {
            if (!pollOne(h, echo, came))
                return false; // the port is gone; no echo can come
            platform::SwitchToThread();
        }
        if (!came || echo != static_cast<std::uint8_t>(c))
            return false;
    }
    return true;
}

bool sendRecord(Handle h, std::string_view text)
{
    if (!FastMode)
        return sendEchoed(h, text);
    if (text.size() >= EchoBufferSize)
        return false; // the echo could not be held; such a record never goes out

    char echo[EchoBufferSize];
    std::size_t got = 0;
    // One read of at most a byte; false when the port has gone.
    auto collect = [&] {
        std::uint8_t b = 0;
        bool came = false;
        if (!pollOne(h, b, came))
            return false;
        if (came)
            echo[got++] = static_cast<char>(b);
        return true;
    };
    platform::Sleep(BurstStartPauseMs);
    flushInput(h);
    for (char c : text) {
        (void)writeBytes(h, 1, &c);
        if (!collect())
            return false;
    }
    std::int32_t budget = BurstPollBudget;
    while (got < text.size() && budget > 0) {
        --budget;
        if (!collect())
            return false;
    }
    if (got != text.size() || std::memcmp(echo, text.data(), got) != 0)
        return false;
    MinCount = std::min(MinCount, budget);
    return true;
}

} // namespace burnport
