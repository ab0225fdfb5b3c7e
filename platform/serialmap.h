#pragma once
// The COM namespace: a text file maps device paths to port names ("/dev/ttyUSB0 COM3").
// Both programs resolve "COMn" through it; it also stands in for the registry list.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct SerialPortEntry {
    std::string device;
    std::string name;
};

// $VOLTDESK_SERIALCOMM, else ~/.config/voltdesk/serialcomm if it exists,
// else /etc/voltdesk/serialcomm.
std::string serialMapPath();

// One entry per line: device, white space, name. Blank lines and '#' comments are skipped;
// order and duplicates are kept.
std::vector<SerialPortEntry> parseSerialMap(std::string_view text);

// The map file's entries, or the serial devices of the system when no file exists.
std::vector<SerialPortEntry> serialPortMap();

// Serial devices the system has, in a stable order, named COM1, COM2, ...
std::vector<SerialPortEntry> scanSerialDevices();

// Device for a port name ("COM3"); a name the map lacks falls back to /dev/ttyS<n-1>,
// and a name that is not "COM" with a plain number ("COM03", "COMabc") gives ""
// (nothing to open).
std::string comDevicePath(std::string_view portName);
std::string comDevicePath(int comNumber);

// Appends one line to the map file, creating it; used by the simulated module.
bool appendSerialMapEntry(const std::string& mapFile, const SerialPortEntry& entry);
// Removes every line naming the device.
bool removeSerialMapEntries(const std::string& mapFile, const std::string& device);

} // namespace platform
