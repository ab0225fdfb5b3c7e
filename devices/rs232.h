#pragma once
// One open COM port. The module echoes every byte it receives; WriteEchoed uses
// the echo to confirm each byte before the next.
#include "platform/serial.h"

#include <cstdint>

class CRS232 {
public:
    static constexpr std::uint32_t InputQueueSize = 1024;
    static constexpr std::uint32_t EchoPollMs = 5;
    static constexpr int EchoPolls = 100;
    // Bytes the echoed write discards before it starts at most: a module that
    // never stops sending must not hold it.
    static constexpr int DrainLimit = 65536;

    CRS232(int comPort, int baudRate, bool& success);
    ~CRS232();
    CRS232(const CRS232&) = delete;
    CRS232& operator=(const CRS232&) = delete;

    // False when the port is not open or the system fails the write.
    bool Write(int count, const void* bytes);
    // Reads at most maxCount of the bytes already queued; never waits, never terminates.
    bool Read(std::uint32_t& received, std::uint32_t maxCount, void* buffer);
    bool WriteEchoed(unsigned count, const void* bytes);

    static bool IsAcceptedBaudRate(int baudRate);
    bool IsOpen() const { return handle_ != platform::serial::InvalidHandle; }

private:
    platform::serial::Handle handle_ = platform::serial::InvalidHandle;
};
