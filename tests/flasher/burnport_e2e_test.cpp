// The real burnport program against the simulated module, real clock, real pauses.
#include "firmware.h"

#include "sim/bootloader.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

struct Outcome {
    int code = -1;
    std::string out;
};

// Runs burnport with standard input closed and its output captured; kills it after
// the limit so that a hang fails the test instead of holding it. A flash under heavy
// load takes most of a minute (every echo wait yields), so the limit is generous.
Outcome runBurnport(std::vector<std::string> args, std::function<void()> during = {}, int limitSeconds = 240)
{
    args.insert(args.begin(), BURNPORT_PATH);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Outcome o;
    if (rc != 0) {
        ::close(pipeFds[0]);
        return o;
    }
    std::thread side;
    if (during)
        side = std::thread(during);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 100};
        if (::poll(&p, 1, 100) > 0) {
            char buf[4096];
            ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            o.out.append(buf, static_cast<std::size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (side.joinable())
        side.join();
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

struct BurnportProgram : ::testing::Test {
    testsupport::TempDir dir;
};

} // namespace

TEST_F(BurnportProgram, FlashesAModuleFromNormalOperation)
{
    testsupport::SimPort port{31};
    auto boot = std::make_shared<sim::Bootloader>();
    sim::BootloaderFaults f;
    f.updateModeReply = "OK 115200";
    boot->setFaults(f);
    sim::attachBootloader(port.module(), boot);
    auto fw = flashertest::makeFirmware(dir.path(), 28, 32, 4096);
    Outcome o = runBurnport({"--com", "31", "--file", fw.path, "--baud", "57600"});
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(boot->image(fw.base), fw.data);
    EXPECT_NE(o.out.find("MinCount = 500000\nPress Enter to exit the program.\n"), std::string::npos);
    EXPECT_EQ(o.out.find("\033]0;"), std::string::npos); // no title sequence into a pipe
}

TEST_F(BurnportProgram, RetryWithBurstFormOnAPacedLine)
{
    testsupport::SimPort port{32};
    sim::SerialFaults line;
    line.pacedBaud = 115200;
    line.adapterLatencyMs = 1;
    port.module().setFaults(line);
    auto boot = std::make_shared<sim::Bootloader>();
    sim::startInFlashMode(port.module(), boot);
    auto fw = flashertest::makeFirmware(dir.path(), 37, 16, 2048);
    Outcome o = runBurnport({"-r", "--fast", "-c", "32", "-f", fw.path});
    EXPECT_EQ(o.code, 0) << o.out;
    EXPECT_EQ(boot->image(fw.base), fw.data);
}

TEST_F(BurnportProgram, PortVanishingMidTransferEndsWithTheTransferExit)
{
    testsupport::SimPort port{33};
    sim::SerialFaults line;
    line.pacedBaud = 115200;
    port.module().setFaults(line);
    auto boot = std::make_shared<sim::Bootloader>();
    sim::startInFlashMode(port.module(), boot);
    auto fw = flashertest::makeFirmware(dir.path(), 37, 16, 8192);
    std::chrono::steady_clock::time_point unplugged;
    Outcome o = runBurnport({"--retry", "--com", "33", "--file", fw.path}, [&] {
        for (int i = 0; i < 20000 && boot->record().hexLines < 20; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        port.module().stop();
        unplugged = std::chrono::steady_clock::now();
    });
    EXPECT_EQ(o.code, 4) << o.out;
    EXPECT_NE(o.out.find("Error: While transfering HEX file!\n"), std::string::npos);
    // At once, not after the 10 s reply limit.
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(5));
}

TEST_F(BurnportProgram, HelpAndBadArgumentsEndAtOnce)
{
    Outcome help = runBurnport({"/?"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("Serial Update Program for Kavo HV modules\nSyntax:\n", 0), 0u);
    Outcome bad = runBurnport({"--com", "COM3"});
    EXPECT_EQ(bad.code, 6);
    EXPECT_EQ(bad.out, "Invalid argument COM port given!");
    Outcome noFile = runBurnport({"--file", dir.file("missing.hex")});
    EXPECT_EQ(noFile.code, 1); // the closing wait ends at once without input
}
