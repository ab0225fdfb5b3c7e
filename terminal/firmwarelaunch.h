#pragma once
// The flasher's start from "Firmware Update...": the firmware type a file name
// names, the command line, and what the flasher receives of it.
#include <QString>
#include <string>
#include <vector>

namespace terminal {

inline constexpr const char* FirmwareFileFilter = "Firmware files (*.hex)|*.hex|All files (*.*)|*.*";
inline constexpr const char* FirmwareDialogTitle = "Select Firmware file";
inline constexpr const char* FlasherProgram = "Burnport.exe";

// The file name's part before its first "_", or the whole name when it has none.
// The name is what follows the path's last "/".
QString FirmwareTypeOf(const QString& path);

struct FlasherRequest {
    int comPort = 1;
    QString file;             // full path
    bool filamentOne = true;  // "Filament 1" is selected
    bool retry = false;       // "Retry flashing after fail" is ticked
};

// The command line as the Windows program builds it:
// Burnport.exe --com 3 --file "path" --fast, then the target option and --retry.
QString FlasherCommandLine(const FlasherRequest& request);

// What the flasher receives, argument 0 being the program: the command line split
// by the Windows rules, or, where those cannot carry the path (a double quote in it,
// or a backslash at its end), the same arguments with the path whole.
std::vector<std::string> FlasherArguments(const FlasherRequest& request);

// "Error running Burnport.exe (EXE file not found)!"
QString FlasherStartError();

} // namespace terminal
