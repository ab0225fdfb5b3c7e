#include "rules.h"

#include "historyfile.h"

namespace terminal {

QString CaptionFromVersion(const QString& fileVersion)
{
    constexpr int MaxCut = 100;
    QString v = fileVersion;
    int n = v.size(); // 1-based position of the last character
    while (n >= 1 && v.at(n - 1) >= QLatin1Char('0') && v.at(n - 1) <= QLatin1Char('9'))
        --n;
    // A version without any other character is kept whole.
    if (n >= 1)
        v.remove(n - 1, MaxCut);
    return QStringLiteral("Voltdesk v") + v;
}

CommandLineSettings ParseCommandLine(const QStringList& arguments)
{
    CommandLineSettings s;
    const int N = arguments.size() - 1;
    for (int i = 1; i <= N; ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String(FactoryModeWord)) {
            s.factoryMode = true;
        } else if ((a == QLatin1String("--ip") || a == QLatin1String("-i")) && i < N) {
            s.ipAddress = arguments.at(++i);
        } else if ((a == QLatin1String("--port") || a == QLatin1String("-p")) && i < N) {
            s.tcpPort = arguments.at(++i);
        }
    }
    return s;
}

QStringList ParseHistory(const QByteArray& bytes)
{
    QStringList out;
    for (std::string_view line : SplitHistory(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
        out << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    return out;
}

QByteArray FormatHistory(const QStringList& entries)
{
    QByteArray out;
    for (const QString& e : entries)
        out += e.toLatin1() + "\r\n";
    return out;
}

QStringList ComPortListEntries(const std::vector<platform::SerialPortEntry>& map)
{
    QStringList out;
    for (const auto& e : map) {
        if (e.name.size() >= RegistryValueBufferSize || e.device.size() >= RegistryValueBufferSize)
            break;
        QString name = QString::fromLocal8Bit(e.name.c_str());
        if (name.startsWith(QLatin1String("COM")))
            name.remove(0, 3);
        out << name;
    }
    return out;
}

QString UpperLatin1(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
            c = QChar(static_cast<char16_t>(u - 0x20));
    }
    return out;
}

QString LogFileName(const QDateTime& at)
{
    return QStringLiteral("LOG_") + at.toString(QStringLiteral("yyyy_MM_dd_hh_mm")) + QStringLiteral(".TXT");
}

} // namespace terminal
