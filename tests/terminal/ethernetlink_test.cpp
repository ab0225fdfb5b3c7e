// The Ethernet link's rules as plain values: where an answer ends, the SLEEP argument,
// the port field, the error texts; and the link's connection against listeners on
// 127.0.0.1.
#include "terminal/ethernetlink.h"

#include "platform/errors.h"
#include "sim/tcpmodule.h"
#include "tests/support/fulllistener.h"
#include "tests/support/manualtimer.h"

#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

struct AnswerCase {
    const char* name;
    std::vector<std::string> blocks;
    std::vector<bool> complete; // after each block
    std::string text;
    qint64 length;
};

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

TEST(SocketAnswerTextTest, EndsAtTheFirstCrLfOrAtANulThatEndsABlock)
{
    const std::vector<AnswerCase> cases{
        {"one block", {"ABCD\r\n"}, {true}, "ABCD", 4},
        {"two pieces", {"AB", "CD\r\n"}, {false, true}, "ABCD", 4},
        {"CR and LF in blocks of their own", {"ABCD\r", "\n"}, {false, true}, "ABCD", 4},
        {"CR, then LF with more text", {"AB\r", "\nCD"}, {false, true}, "ABCD", 4},
        {"text after the CR LF stays", {"A\r\nB\r\n"}, {true}, "AB\r\n", 4},
        {"a bare CR LF", {"\r\n"}, {true}, "", 0},
        {"trailing NUL", {"ABC\0"s}, {true}, "ABC", 3},
        {"a block of a single NUL", {"AB", "\0"s}, {false, true}, "AB", 2},
        {"a NUL alone", {"\0"s}, {true}, "", 0},
        {"only the last NUL goes", {"AB\0\0"s}, {true}, "AB\0"s, 3},
        {"a NUL inside a block", {"A\0B"s}, {false}, "A\0B"s, 3},
        {"a lone CR", {"AB\r", "CD"}, {false, false}, "AB\rCD", 5},
        {"LF then CR is no line end", {"AB\n\r"}, {false}, "AB\n\r", 4},
        {"an empty block", {"AB", ""}, {false, false}, "AB", 2},
    };
    for (const auto& c : cases) {
        SocketAnswerText a;
        for (std::size_t i = 0; i < c.blocks.size(); ++i)
            EXPECT_EQ(a.append(bytes(c.blocks[i])), c.complete[i]) << c.name << ", block " << i;
        EXPECT_EQ(a.text(), bytes(c.text)) << c.name;
        EXPECT_EQ(a.length(), c.length) << c.name;
    }
}

TEST(SocketAnswerTextTest, AKeptAnswerIsSearchedWholeAgainWhenMoreComes)
{
    SocketAnswerText a;
    EXPECT_TRUE(a.append("A\r\nB\r\n"));
    // Not cleared (the check raised an error): the next block joins the kept answer.
    EXPECT_TRUE(a.append("C"));
    EXPECT_EQ(a.text(), "ABC");
    a.clear();
    EXPECT_EQ(a.text(), "");
    EXPECT_EQ(a.length(), 0);
    EXPECT_FALSE(a.append("X"));
}

TEST(SocketAnswerTextTest, TenMegabytesWithoutALineEndKeepSixtyFourKilobytes)
{
    SocketAnswerText a;
    const QByteArray block(64 * 1024 - 1, 'x'); // blocks that do not line up with the limit
    qint64 sent = 0;
    while (sent < 10 * 1024 * 1024) {
        ASSERT_FALSE(a.append(block));
        sent += block.size();
    }
    EXPECT_EQ(a.text().size(), 65536);
    EXPECT_EQ(a.text(), QByteArray(65536, 'x'));
    EXPECT_EQ(a.length(), sent);

    // A CR at the end of a dropped block and an LF at the start of the next still end it.
    EXPECT_FALSE(a.append("yy\r"));
    EXPECT_TRUE(a.append("\nzz"));
    EXPECT_EQ(a.text(), QByteArray(65536, 'x'));
    EXPECT_EQ(a.length(), sent + 4);

    a.clear();
    EXPECT_FALSE(a.append(QByteArray(65535, 'a') + "\r"));
    EXPECT_TRUE(a.append("\nb")); // the CR LF across the limit is removed, b is kept
    EXPECT_EQ(a.text(), QByteArray(65535, 'a') + "b");

    a.clear();
    EXPECT_FALSE(a.append(QByteArray(70000, 'a')));
    EXPECT_TRUE(a.append(QByteArray("b\0", 2)));
    EXPECT_EQ(a.text().size(), 65536);
    EXPECT_EQ(a.length(), 70001);
}

TEST(SleepArgumentTest, TheTextAfterTheKeywordWithoutLeadingWhiteSpace)
{
    EXPECT_EQ(SleepArgument("SLEEP 500"), "500");
    EXPECT_EQ(SleepArgument("SLEEP500"), "500");
    EXPECT_EQ(SleepArgument("SLEEP \t\n\v\f\r 7"), "7");
    EXPECT_EQ(SleepArgument("SLEEP 5 ms"), "5 ms");
    EXPECT_EQ(SleepArgument("SLEEP 5 "), "5 ");
    EXPECT_EQ(SleepArgument("SLEEP   "), "");
    EXPECT_EQ(SleepArgument("SLEEP"), "");
    EXPECT_EQ(SleepArgument("SLEEPY"), "Y");
    EXPECT_EQ(SleepArgument("SLEEP " + std::string(150, '9')), std::string(100, '9'));
}

TEST(TcpPortFromTextTest, AWholeNumberFromOneTo65535)
{
    EXPECT_EQ(TcpPortFromText("10001"), 10001);
    EXPECT_EQ(TcpPortFromText(" +1"), 1);
    EXPECT_EQ(TcpPortFromText("65535"), 65535);
    const std::vector<std::pair<QString, std::string>> bad{
        {"0", "'0' is not a valid integer value"},
        {"65536", "'65536' is not a valid integer value"},
        {"-1", "'-1' is not a valid integer value"},
        {"x1", "'x1' is not a valid integer value"},
        {"", "'' is not a valid integer value"},
        {"10001 ", "'10001 ' is not a valid integer value"},
    };
    for (const auto& [text, message] : bad) {
        try {
            TcpPortFromText(text);
            ADD_FAILURE() << text.toStdString() << " was taken";
        } catch (const platform::EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
}

TEST(SocketErrorMessageTest, OneTextPerKind)
{
    using K = platform::SocketErrorEvent;
    EXPECT_EQ(SocketErrorMessage(K::General), "Error: Undefined Socket Error!");
    EXPECT_EQ(SocketErrorMessage(K::Send), "Error: Socket Write failed!");
    EXPECT_EQ(SocketErrorMessage(K::Receive), "Error: Socket Read failed!");
    EXPECT_EQ(SocketErrorMessage(K::Connect), "Error: Could not connect to remote host!");
    EXPECT_EQ(SocketErrorMessage(K::Disconnect), "Error: Connection closed by remote host!");
    EXPECT_EQ(SocketErrorMessage(K::Accept), "Error: Could not accept connection!");
    EXPECT_EQ(SocketErrorMessage(K::Lookup), "Error: Could not resolve remote host!");
}

TEST(EthernetLinkTest, QuitAndStopScriptEndAConnectUnderWaySoTheNextInitTakesTheNewPort)
{
    testsupport::FullListener stuck;
    ASSERT_TRUE(stuck.full()) << "a connect to a full listener does not stay under way here";
    sim::ModuleCommands commands;
    sim::TcpModule module{commands};
    ASSERT_TRUE(module.start(0));

    EthernetLink link;
    auto manual = std::make_unique<testsupport::ManualTimer>();
    testsupport::ManualTimer* timer = manual.get();
    link.setTimer(std::move(manual));
    link.setCommandSource([] { return QByteArray("*IDN?"); });
    QStringList status;
    QObject::connect(&link, &EthernetLink::statusText, [&](const QString& s) { status << s; });
    QStringList messages;
    QObject::connect(&link, &EthernetLink::errorMessage, [&](const QString& s) { messages << s; });

    // Quit closes the socket first; Stop Script closes it with the walk.
    for (void (EthernetLink::*end)() : {&EthernetLink::closeSocket, &EthernetLink::stopScriptWalk}) {
        const std::size_t sent = module.lines().size();
        link.init("127.0.0.1", QString::number(stuck.port()));
        link.talk();
        (link.*end)();
        link.init("127.0.0.1", QString::number(module.port()));
        link.talk();
        ASSERT_TRUE(QTest::qWaitFor([&] { return link.sock->Active(); }, 10000));
        ASSERT_TRUE(timer->fire());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !link.sock->Active(); }, 10000)); // answered
        EXPECT_EQ(module.lines().size(), sent + 1);
    }
    EXPECT_EQ(status, (QStringList{"connected", "disconnected", "connected", "disconnected"}));
    EXPECT_EQ(module.connections(), 2);
    EXPECT_TRUE(messages.isEmpty());
}
