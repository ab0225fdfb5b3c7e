#pragma once
// The flasher's start from "Firmware Update...": the firmware type a file name
// names, the command line, and what the flasher receives of it.
#include "platform/process.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
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

// "Error: the terminal program 'xterm' ended with exit status 1; Burnport may not have run."
// terminal is the program's file name, failure as ChildWatch::failure gives it.
QString TerminalFailedMessage(const QString& terminal, const QString& failure);

// Watches the terminal program that runs the flasher through its first second from
// the event loop, never blocking it, and tells the user when it failed in that time:
// then the flasher may not have run, and it is not started again unasked.
class FlasherTerminalWatch : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint32_t FirstSecondMs = 1000;
    static constexpr int PollMs = 20;

    // Deletes itself when the watch is over; parent ends it early.
    FlasherTerminalWatch(const platform::process::Started& started, QObject* parent);

private:
    void look();

    platform::process::ChildWatch watch_;
    QString terminal_;
    QTimer timer_;
};

} // namespace terminal
