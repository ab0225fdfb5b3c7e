#include "platform/clientsocket.h"
#include "platform/ui.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>

using platform::ClientSocket;
using platform::SocketErrorEvent;

namespace {

struct ClientSocketTest : ::testing::Test {
    QTcpServer server;
    ClientSocket sock;
    std::vector<std::string> events;
    std::vector<QString> messages;
    std::vector<QString> reported;
    bool handleErrors = true;

    void SetUp() override
    {
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        sock.Address = "127.0.0.1";
        sock.Port = server.serverPort();
        sock.OnConnect = [this] { events.push_back("connect"); };
        sock.OnDisconnect = [this] { events.push_back("disconnect"); };
        sock.OnRead = [this] { events.push_back("read " + sock.ReceiveText().toStdString()); };
        sock.OnError = [this](SocketErrorEvent kind, int& code) {
            events.push_back("error " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(code));
            if (handleErrors)
                code = 0;
        };
        sock.OnUnhandledError = [this](const QString& t) { reported.push_back(t); };
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
    }
    void TearDown() override { platform::ui::setMessageHandler({}); }

    QTcpSocket* accept()
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(5000))
            return nullptr;
        return server.nextPendingConnection();
    }
};

} // namespace

TEST_F(ClientSocketTest, ConnectsSendsReceivesAndClosesWithItsEvents)
{
    EXPECT_FALSE(sock.Active());
    sock.SendText("lost\r\n"); // not connected: nothing happens
    sock.Open();
    EXPECT_FALSE(sock.Active()); // the connect event comes later
    ASSERT_TRUE(QTest::qWaitFor([&] { return sock.Active(); }, 5000));
    QTcpSocket* peer = accept();
    ASSERT_TRUE(peer);
    EXPECT_EQ(events, std::vector<std::string>{"connect"});

    sock.SendText("*IDN?\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 7; }, 5000));
    EXPECT_EQ(peer->readAll(), "*IDN?\r\n");

    peer->write("OK\r\n");
    peer->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, 5000));
    EXPECT_EQ(events[1], "read OK\r\n");

    sock.Close();
    EXPECT_FALSE(sock.Active());
    EXPECT_EQ(events.back(), "disconnect"); // at once
    sock.Close();
    EXPECT_EQ(events.size(), 3u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ClientSocketTest, APeerThatClosesGivesADisconnectWithoutError)
{
    sock.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sock.Active(); }, 5000));
    QTcpSocket* peer = accept();
    ASSERT_TRUE(peer);
    peer->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sock.Active(); }, 5000));
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "disconnect"}));
}

TEST_F(ClientSocketTest, ARefusedConnectIsAConnectErrorReportedToTheOwnerUnlessHandled)
{
    const quint16 port = server.serverPort();
    server.close();
    sock.Port = port;
    sock.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 5000));
    EXPECT_EQ(events[0], "error 3 " + std::to_string(ECONNREFUSED));
    EXPECT_FALSE(sock.Active());
    EXPECT_TRUE(reported.empty());

    handleErrors = false;
    events.clear();
    sock.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 5000));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(reported[0].startsWith("Socket error " + QString::number(ECONNREFUSED))) << reported[0].toStdString();
    EXPECT_TRUE(messages.empty()); // the socket opens no message box of its own
}
