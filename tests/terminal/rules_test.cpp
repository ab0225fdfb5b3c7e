#include "terminal/rules.h"

#include <gtest/gtest.h>

using namespace terminal;

TEST(Caption, CutsTheLastNumberAndTheCharacterBeforeIt)
{
    EXPECT_EQ(CaptionFromVersion("1.0.20.0"), "Voltdesk v1.0.20");
    EXPECT_EQ(CaptionFromVersion("2.1"), "Voltdesk v2");
    EXPECT_EQ(CaptionFromVersion("1.0.20.0b"), "Voltdesk v1.0.20.0");
    EXPECT_EQ(CaptionFromVersion("1.0.123456"), "Voltdesk v1.0");
    // No version, or nothing but digits: nothing to cut.
    EXPECT_EQ(CaptionFromVersion(""), "Voltdesk v");
    EXPECT_EQ(CaptionFromVersion("5"), "Voltdesk v5");
}

TEST(CommandLine, OptionsTakeTheNextArgumentAndEverythingElseIsIgnored)
{
    struct Case {
        QStringList args;
        bool factory;
        std::optional<QString> ip, port;
    };
    const Case cases[] = {
        {{"v"}, false, {}, {}},
        {{"v", "--ip", "10.0.0.5", "-p", "2000"}, false, "10.0.0.5", "2000"},
        {{"v", "-i", "10.0.0.6", "--port", "23"}, false, "10.0.0.6", "23"},
        {{"v", "--ip"}, false, {}, {}},                         // option as the last argument
        {{"v", "--IP", "1.2.3.4", "--ip=1.2.3.4"}, false, {}, {}}, // capitals, joined value
        {{"v", "x", "mrtq", "y"}, true, {}, {}},
        {{"v", "--ip", "mrtq"}, false, "mrtq", {}},             // a value is not examined
        {{"v", "MRTQ"}, false, {}, {}},
        {{"v", "-p", "1", "-p", "2"}, false, {}, "2"},
    };
    for (const auto& c : cases) {
        auto s = ParseCommandLine(c.args);
        EXPECT_EQ(s.factoryMode, c.factory) << c.args.join(' ').toStdString();
        EXPECT_EQ(s.ipAddress, c.ip) << c.args.join(' ').toStdString();
        EXPECT_EQ(s.tcpPort, c.port) << c.args.join(' ').toStdString();
    }
}

TEST(History, ReadsAllLineEndsStopsAtNulAndWritesCrLf)
{
    EXPECT_EQ(ParseHistory("A\r\n\r\nB\nC\rD"), QStringList({"A", "", "B", "C", "D"}));
    EXPECT_EQ(ParseHistory("A\r\n"), QStringList({"A"}));
    EXPECT_EQ(ParseHistory("\r\n"), QStringList({""}));
    EXPECT_EQ(ParseHistory(""), QStringList());
    EXPECT_EQ(ParseHistory(QByteArray("A\nB\0C\nD", 7)), QStringList({"A", "B"}));
    EXPECT_EQ(ParseHistory("\xE4\xFF\n"), QStringList({QString::fromLatin1("\xE4\xFF")}));
    QByteArray longLine(100000, 'X');
    EXPECT_EQ(ParseHistory(longLine + "\r\nY").size(), 2);

    QStringList entries{"*IDN?", "", QString::fromLatin1("VOLT \xB5")};
    EXPECT_EQ(FormatHistory(entries), QByteArray("*IDN?\r\n\r\nVOLT \xB5\r\n"));
    EXPECT_EQ(ParseHistory(FormatHistory(entries)), entries);
}

TEST(ComPortList, StripsComKeepsOrderAndDuplicatesAndStopsAtAnOverlongName)
{
    std::vector<platform::SerialPortEntry> map{
        {"/dev/a", "COM3"}, {"/dev/b", "COM1"}, {"/dev/a", "COM3"}, {"/dev/c", "MODEM"}, {"/dev/d", "COM10"}};
    EXPECT_EQ(ComPortListEntries(map), QStringList({"3", "1", "3", "MODEM", "10"}));
    map.insert(map.begin() + 2, {"/dev/e", "COM" + std::string(300, '9')});
    EXPECT_EQ(ComPortListEntries(map), QStringList({"3", "1"}));
}

TEST(LogFile, NameCarriesDateAndTimeToTheMinute)
{
    EXPECT_EQ(LogFileName(QDateTime(QDate(2014, 3, 25), QTime(14, 7, 59))), "LOG_2014_03_25_14_07.TXT");
    EXPECT_EQ(LogFileName(QDateTime(QDate(2026, 12, 8), QTime(0, 0))), "LOG_2026_12_08_00_00.TXT");
}

TEST(UpperCase, StaysInsideLatin1)
{
    EXPECT_EQ(UpperLatin1(QString::fromLatin1("*idn? volt 1.5e3")), "*IDN? VOLT 1.5E3");
    // Accented letters with Latin-1 capitals go up; the rest stays as it is.
    EXPECT_EQ(UpperLatin1(QString::fromLatin1("\xE0\xE9\xF8\xFE")), QString::fromLatin1("\xC0\xC9\xD8\xDE"));
    EXPECT_EQ(UpperLatin1(QString::fromLatin1("\xB5\xDF\xFF\xF7\xAA")), QString::fromLatin1("\xB5\xDF\xFF\xF7\xAA"));
}
