// One interactive exchange over the COM link, against a module that the test plays
// itself on a pseudo-terminal, step by step from the clock: at every pause of the
// exchange the script takes what the program wrote, echoes it and sends what it holds
// for that pause. The kernel hands bytes across a pseudo-terminal on a worker of its
// own, so each step waits until what it expects has crossed; a poll count then does not
// depend on how fast anything runs.
#include "link/rs232exchange.h"

#include "devices/rs232.h"
#include "platform/clock.h"
#include "platform/serialmap.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int Com = 9;

class ScriptedModule {
public:
    ScriptedModule() : env_("VOLTDESK_SERIALCOMM", dir_.file("serialcomm"))
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("cannot open a pseudo-terminal");
        // Keeps the terminal's settings between opens, as a cable would.
        keep_ = ::open(name, O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(keep_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(keep_, TCSANOW, &t);
        platform::appendSerialMapEntry(dir_.file("serialcomm"), {name, "COM" + std::to_string(Com)});
    }
    ~ScriptedModule()
    {
        ::close(keep_);
        ::close(master_);
    }
    ScriptedModule(const ScriptedModule&) = delete;
    ScriptedModule& operator=(const ScriptedModule&) = delete;

    // bytes go out at the given pause after the command line's CR LF has arrived
    // (0: at once, so that the first poll finds them).
    void sendAt(int pause, const std::string& bytes) { script_[pause] += bytes; }
    void echo(bool on) { echo_ = on; }
    void garbleEchoOfByte(int n) { garbleAt_ = n; }

    // One pause of the exchange: a 5 ms pause of the echo check, or a 10 ms answer poll.
    void step(std::uint32_t ms)
    {
        const bool lineDone = wire_.find("\r\n") != std::string::npos;
        // After an echo the program writes its next byte; a plain write has sent the
        // whole line before the first answer poll.
        if (!lineDone && ms == 5 && echoedLast_)
            takeInput([this, before = wire_.size()] { return wire_.size() > before; });
        else if (!lineDone && ms == 10)
            takeInput([this] { return wire_.find("\r\n") != std::string::npos; });
        else
            takeInput([] { return true; });
        if (pausesSinceLine_ < 0 && wire_.find("\r\n") != std::string::npos)
            pausesSinceLine_ = 0;
        else if (pausesSinceLine_ >= 0)
            ++pausesSinceLine_;
        if (pausesSinceLine_ >= 0) {
            auto it = script_.find(pausesSinceLine_);
            if (it != script_.end())
                put(it->second);
        }
    }

    const std::string& wire() const { return wire_; }

private:
    template <typename Done>
    void takeInput(Done done)
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        echoedLast_ = false;
        for (;;) {
            char buf[512];
            for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    wire_ += buf[i];
                    char e = buf[i];
                    if (static_cast<int>(wire_.size()) == garbleAt_)
                        e ^= 0x01;
                    if (echo_) {
                        put(std::string(1, e));
                        echoedLast_ = true;
                    }
                }
            }
            if (done())
                return;
            if (std::chrono::steady_clock::now() > limit)
                throw std::runtime_error("the program's bytes never crossed the pseudo-terminal");
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
    }

    int queuedForProgram() const
    {
        int n = 0;
        ::ioctl(keep_, FIONREAD, &n);
        return n;
    }

    // Writes and waits until the program can read it all.
    void put(const std::string& bytes)
    {
        const int before = queuedForProgram();
        if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("the pseudo-terminal took less than was written");
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (queuedForProgram() < before + static_cast<int>(bytes.size())) {
            if (std::chrono::steady_clock::now() > limit)
                throw std::runtime_error("written bytes never crossed the pseudo-terminal");
            ::usleep(50);
        }
    }

    testsupport::TempDir dir_;
    testsupport::ScopedEnv env_;
    int master_ = -1;
    int keep_ = -1;
    bool echo_ = true;
    bool echoedLast_ = false;
    int garbleAt_ = 0;
    std::string wire_;
    int pausesSinceLine_ = -1;
    std::map<int, std::string> script_;
};

// The module, the clock that steps it, and the program's port on it.
struct Rig {
    ScriptedModule module;
    testsupport::FakeClock clock;
    platform::ScopedClock useClock{clock};
    std::unique_ptr<CRS232> port;

    Rig()
    {
        clock.onSleep([this](std::uint32_t ms) { module.step(ms); });
        bool ok = false;
        port = std::make_unique<CRS232>(Com, 9600, ok);
        if (!ok)
            throw std::runtime_error("cannot open the scripted module's port");
    }

    links::Rs232Answer exchange(const std::string& command = "*IDN?", bool noEcho = false, bool rvx = false)
    {
        clock.clear();
        return links::Rs232Exchange(port.get(), command, noEcho, rvx);
    }
    std::size_t answerPolls() const { return clock.sleepCount(10); }
};

struct ExchangeTest : ::testing::Test, Rig {};

} // namespace

TEST(Exchange, AnswersAreJoinedAndCutAtTheFirstCrLf)
{
    struct Case {
        std::vector<std::pair<int, std::string>> pieces;
        std::string text;
        std::uint32_t count;
        std::size_t polls;
    };
    const Case cases[] = {
        {{{0, "OK\r\n"}}, "OK", 4, 1},
        {{{0, "O"}, {1, "K\r\n"}}, "OK", 4, 2},
        {{{0, "A\r\nB\r\n"}}, "A", 6, 1},
        {{{0, "OK\r"}, {2, "\nX"}}, "OK", 5, 3}, // CR and LF in different polls
        {{{0, "OK\n"}}, "OK\n", 3, 80},            // LF alone ends nothing
        {{{0, std::string("\xB5V\0X\xFF\r\n", 7)}}, std::string("\xB5V\0X\xFF", 5), 7, 1},
    };
    for (const Case& c : cases) {
        Rig rig;
        for (const auto& [pause, bytes] : c.pieces)
            rig.module.sendAt(pause, bytes);
        const auto answer = rig.exchange();
        EXPECT_TRUE(answer.sent);
        EXPECT_EQ(answer.text, c.text) << c.text;
        EXPECT_EQ(answer.byteCount, c.count) << c.text;
        EXPECT_EQ(rig.answerPolls(), c.polls) << c.text;
        EXPECT_EQ(rig.module.wire(), "*IDN?\r\n");
    }
}

TEST_F(ExchangeTest, NothingComingEndsAfterEightyPolls)
{
    const auto answer = exchange();
    EXPECT_TRUE(answer.sent);
    EXPECT_EQ(answer.text, "<Command sent>");
    EXPECT_EQ(answer.byteCount, 0u);
    EXPECT_EQ(answerPolls(), 80u);
}

TEST_F(ExchangeTest, AnAnswerWithoutCrLfEndsEightyPollsAfterThePollThatBroughtBytes)
{
    module.sendAt(3, "AB"); // found by the fourth poll
    module.sendAt(50, "C"); // by the 51st
    const auto answer = exchange();
    EXPECT_EQ(answer.text, "ABC");
    EXPECT_EQ(answer.byteCount, 3u);
    EXPECT_EQ(answerPolls(), 130u); // polls 51 to 130
}

TEST_F(ExchangeTest, AnswersBeyondTwoHundredFiftyFiveBytesAreCut)
{
    module.sendAt(0, std::string(300, 'L') + "\r\n");
    auto answer = exchange();
    EXPECT_EQ(answer.text, std::string(255, 'L'));
    EXPECT_EQ(answer.byteCount, 255u);
    // A poll takes 256 bytes: the second brought the rest, whose CR LF was discarded,
    // so the read ended 80 polls after that one.
    EXPECT_EQ(answerPolls(), 81u);
}

TEST_F(ExchangeTest, AModuleThatNeverEndsItsLineIsLeftAfterAThousandPolls)
{
    for (int pause = 0; pause < 1500; ++pause)
        module.sendAt(pause, "S");
    const auto answer = exchange();
    EXPECT_EQ(answer.text, std::string(255, 'S'));
    EXPECT_EQ(answer.byteCount, 255u);
    EXPECT_EQ(answerPolls(), 1000u);
}

// With RVX compatibility the first line is an acknowledgement: a second read of up to
// fifty polls takes the line after it. Without a first line there is no second read.
TEST(Exchange, RvxCompatibilityReadsTheLineAfterTheAcknowledgement)
{
    struct Case {
        std::vector<std::pair<int, std::string>> pieces;
        std::string text;
        std::uint32_t count;
        std::size_t polls;
    };
    const Case cases[] = {
        {{{0, "X\r\nY\r\n"}}, "Y", 3, 2},
        {{{0, "X\r\n"}, {3, "Y\r\n"}}, "Y", 3, 4}, // the line a few polls later
        {{{0, "X\r\n"}}, "<Command sent>", 0, 51},
        {{}, "<Command sent>", 0, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.polls);
        Rig rig;
        for (const auto& [pause, bytes] : c.pieces)
            rig.module.sendAt(pause, bytes);
        const auto answer = rig.exchange("*IDN?", false, true);
        EXPECT_EQ(answer.text, c.text);
        EXPECT_EQ(answer.byteCount, c.count);
        EXPECT_EQ(rig.answerPolls(), c.polls);
    }
}

TEST_F(ExchangeTest, AWrongEchoIsNoCommunication)
{
    module.garbleEchoOfByte(2);
    module.sendAt(0, "OK\r\n");
    const auto answer = exchange();
    EXPECT_FALSE(answer.sent);
    EXPECT_EQ(answer.text, "<No Communication>");
    EXPECT_EQ(answerPolls(), 0u);
}

TEST_F(ExchangeTest, NoEchoWritesTheLineWithoutWaitingForEchoes)
{
    module.echo(false);
    module.sendAt(0, "OK\r\n");
    EXPECT_FALSE(exchange().sent);
    const auto answer = exchange("VOLT?", true);
    EXPECT_TRUE(answer.sent);
    EXPECT_EQ(clock.sleepCount(5), 0u);
    EXPECT_EQ(module.wire().substr(module.wire().size() - 7), "VOLT?\r\n");
}

TEST_F(ExchangeTest, ALongCommandIsCutSoThatCrLfStillFits)
{
    exchange(std::string(300, 'V'));
    EXPECT_EQ(module.wire(), std::string(253, 'V') + "\r\n");
}

TEST(Exchange, WithoutAPortNothingIsSent)
{
    const auto answer = links::Rs232Exchange(nullptr, "*IDN?", false, false);
    EXPECT_FALSE(answer.sent);
    EXPECT_EQ(answer.text, "<No Communication>");
}
