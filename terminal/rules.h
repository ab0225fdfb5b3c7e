#pragma once
// The main window's rules as plain functions, so they can be tested without a window.
#include "platform/serialmap.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace terminal {

// "Voltdesk v" + the file version without its last number ("1.0.20.0" -> "1.0.20").
QString CaptionFromVersion(const QString& fileVersion);

struct CommandLineSettings {
    bool factoryMode = false;
    std::optional<QString> ipAddress;
    std::optional<QString> tcpPort;
};
// Arguments 1..N (argument 0 is the program), compared whole and with letter case.
CommandLineSettings ParseCommandLine(const QStringList& arguments);

inline constexpr const char* FactoryModeWord = "mrtq";
inline constexpr const char* ProductionScriptsFolder = "I:\\PRODDATA\\TOOLS\\Voltdesk\\scripts";
inline constexpr const char* ProductionFirmwareFolder = "I:\\PRODDATA\\TOOLS\\Voltdesk\\hex";

// history.txt: CR LF, LF or CR end a line; a final line break adds no entry;
// reading stops at a NUL byte. Bytes are Latin-1.
QStringList ParseHistory(const QByteArray& bytes);
// Each entry followed by CR LF, as Latin-1.
QByteArray FormatHistory(const QStringList& entries);

inline constexpr int RegistryValueBufferSize = 260;
// The COM-port list: port names with a leading "COM" removed, in map order; a name
// that would not fit the value buffer ends the list.
QStringList ComPortListEntries(const std::vector<platform::SerialPortEntry>& map);

// Upper case that stays inside Latin-1: a-z and the accented letters whose capitals
// are Latin-1 too; everything else (ß, ÿ, µ, digits, signs) is left as it is.
QString UpperLatin1(const QString& text);

// "LOG_yyyy_mm_dd_hh_nn.TXT"
QString LogFileName(const QDateTime& at);

} // namespace terminal
