// The simulated module's TCP side as the tests and the demo rely on it: one command
// table with the serial side, a record of what came in, and its faults.
#include "sim/tcpmodule.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;

namespace {

struct Client {
    int fd = -1;
    explicit Client(std::uint16_t port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            ADD_FAILURE() << "connect failed";
    }
    ~Client() { ::close(fd); }
    void send(const std::string& s) { ASSERT_EQ(::send(fd, s.data(), s.size(), 0), static_cast<ssize_t>(s.size())); }
    // Reads until `count` bytes came, the peer closed, or 5 s passed; "closed" marks a close.
    std::string read(std::size_t count)
    {
        std::string got;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[256];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return got + "<closed>";
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
};

sim::TcpFaults faults(void (*set)(sim::TcpFaults&))
{
    sim::TcpFaults f;
    set(f);
    return f;
}

struct TcpModuleTest : ::testing::Test {
    sim::ModuleCommands commands;
    sim::TcpModule module{commands};
    void SetUp() override { ASSERT_TRUE(module.start(0)); }
};

} // namespace

TEST_F(TcpModuleTest, AnswersCrLfLinesThroughTheCommandTableAndRecordsThem)
{
    ASSERT_NE(module.port(), 0);
    Client c(module.port());
    c.send("VOLT 12\r\nVOLT?\r\n*idn?\nnot a line\r\n");
    EXPECT_EQ(c.read(25), "12\r\nERR UNKNOWN COMMAND\r\n");
    EXPECT_EQ(module.lines(), (std::vector<std::string>{"VOLT 12", "VOLT?", "not a line"}));
    EXPECT_EQ(module.received(), "VOLT 12\r\nVOLT?\r\n*idn?\nnot a line\r\n");
    EXPECT_EQ(commands.value("VOLT"), "12"); // the same table the serial side uses
    EXPECT_EQ(module.connections(), 1);
}

TEST_F(TcpModuleTest, FaultsShapeTheAnswers)
{
    Client c(module.port());
    module.setFaults(faults([](sim::TcpFaults& f) { f.nulEnd = true; }));
    c.send("VOLT?\r\n");
    EXPECT_EQ(c.read(2), "0\0"s);
    module.setFaults(faults([](sim::TcpFaults& f) { f.bareLineEnd = true; }));
    c.send("VOLT?\r\n");
    EXPECT_EQ(c.read(2), "\r\n");
    module.setFaults(faults([](sim::TcpFaults& f) { f.splitLineEnd = true; f.holdSecondBlock = true; }));
    c.send("VOLT?\r\n");
    EXPECT_EQ(c.read(2), "0\r");
    for (int i = 0; i < 500 && !module.holding(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(module.holding());
    module.releaseBlock();
    EXPECT_EQ(c.read(1), "\n");
    module.setFaults(faults([](sim::TcpFaults& f) { f.closeAfterBytes = 1; }));
    c.send("VOLT?\r\n");
    EXPECT_EQ(c.read(3), "0<closed>");

    Client d(module.port());
    module.setFaults(faults([](sim::TcpFaults& f) { f.noAnswer = true; }));
    d.send("VOLT 3\r\nVOLT?\r\n");
    for (int i = 0; i < 500 && module.lines().size() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(module.lines().size(), 6u);
    EXPECT_EQ(commands.value("VOLT"), "3");
    EXPECT_EQ(module.connections(), 2);
}

TEST_F(TcpModuleTest, StopEndsAHeldAnswerAndClosesTheConnections)
{
    Client c(module.port());
    module.setFaults(faults([](sim::TcpFaults& f) { f.splitLineEnd = true; f.holdSecondBlock = true; }));
    c.send("VOLT?\r\n");
    EXPECT_EQ(c.read(2), "0\r");
    module.stop();
    EXPECT_EQ(c.read(1), "<closed>");
}
