#include "firmwarelaunch.h"

#include "platform/process.h"
#include "platform/ui.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace terminal {
namespace {

// Types that ask for a target option; the comparison is exact and whole.
constexpr const char* FpgaType = "QX20AF";
constexpr const char* CanType = "QX20A2";
constexpr const char* FilamentCanType = "WPN707";

// Everything after "--fast", one entry per argument.
QStringList TrailingOptions(const FlasherRequest& r)
{
    const QString type = FirmwareTypeOf(r.file);
    QStringList options;
    if (type == QLatin1String(FpgaType))
        options << QStringLiteral("--fpga");
    else if (type == QLatin1String(CanType))
        options << QStringLiteral("--can");
    else if (type == QLatin1String(FilamentCanType))
        options << QStringLiteral("--can") << (r.filamentOne ? QStringLiteral("1") : QStringLiteral("2"));
    if (r.retry) {
        // Burnport takes the argument after a bare --can as its CAN address, so
        // --retry there would be refused as one; before --can it is read as meant.
        if (type == QLatin1String(CanType))
            options.prepend(QStringLiteral("--retry"));
        else
            options << QStringLiteral("--retry");
    }
    return options;
}

} // namespace

QString FirmwareTypeOf(const QString& path)
{
    // Here "\\" and ":" are characters of a file name; only "/" ends a folder.
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype underscore = name.indexOf(QLatin1Char('_'));
    if (underscore >= 0)
        name.truncate(underscore);
    return name;
}

QString FlasherCommandLine(const FlasherRequest& r)
{
    QString line = QLatin1String(FlasherProgram) + QStringLiteral(" --com ") + QString::number(r.comPort) +
                   QStringLiteral(" --file \"") + r.file + QStringLiteral("\" --fast");
    for (const QString& option : TrailingOptions(r))
        line += QLatin1Char(' ') + option;
    return line;
}

std::vector<std::string> FlasherArguments(const FlasherRequest& r)
{
    // Between the line's quotes the Windows rules keep every character but a double
    // quote, and the backslashes right before the closing quote (the path's last ones).
    const bool quotingCarriesPath =
        !r.file.contains(QLatin1Char('"')) && !r.file.endsWith(QLatin1Char('\\'));
    if (quotingCarriesPath)
        return platform::process::splitCommandLine(QFile::encodeName(FlasherCommandLine(r)).toStdString());
    // The line would cut or merge the path here: it goes whole all the same.
    std::vector<std::string> args{FlasherProgram, "--com", std::to_string(r.comPort), "--file",
                                  QFile::encodeName(r.file).toStdString(), "--fast"};
    for (const QString& option : TrailingOptions(r))
        args.push_back(option.toStdString());
    return args;
}

QString FlasherStartError()
{
    return QStringLiteral("Error running %1 (EXE file not found)!").arg(QLatin1String(FlasherProgram));
}

QString TerminalFailedMessage(const QString& terminal, const QString& failure)
{
    return QStringLiteral("Error: the terminal program '%1' ended with %2; Burnport may not have run.")
        .arg(terminal, failure);
}

FlasherTerminalWatch::FlasherTerminalWatch(const platform::process::Started& started, QObject* parent)
    : QObject(parent),
      watch_(started.terminalPid, FirstSecondMs),
      terminal_(QFileInfo(QFile::decodeName(started.terminal.c_str())).fileName())
{
    connect(&timer_, &QTimer::timeout, this, &FlasherTerminalWatch::look);
    timer_.start(PollMs);
}

void FlasherTerminalWatch::look()
{
    const platform::process::ChildState state = watch_.poll();
    if (state == platform::process::ChildState::Running)
        return;
    timer_.stop();
    if (state == platform::process::ChildState::Failed)
        platform::ui::showMessage(TerminalFailedMessage(terminal_, QString::fromStdString(watch_.failure())));
    deleteLater();
}

} // namespace terminal
