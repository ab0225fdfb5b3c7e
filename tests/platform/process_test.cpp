#include "platform/process.h"

#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using platform::process::findProgram;
using platform::process::findTerminal;
using platform::process::splitCommandLine;
using Args = std::vector<std::string>;

namespace {

struct SplitCase {
    const char* line;
    Args expected;
};

// Results as Windows' CommandLineToArgvW gives them.
const SplitCase SplitCases[] = {
    {"", {}},
    {"prog", {"prog"}},
    {"prog a b  c", {"prog", "a", "b", "c"}},
    {"prog \t a\t b  ", {"prog", "a", "b"}},
    {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
    {"\"a b\"c d", {"a b", "c", "d"}},
    {"C:\\dir\\\"x\" y", {"C:\\dir\\\"x\"", "y"}},
    {"prog \"abc\" d e", {"prog", "abc", "d", "e"}},
    {"prog a\\\\\\b d\"e f\"g h", {"prog", "a\\\\\\b", "de fg", "h"}},
    {"prog a\\\\\\\"b c d", {"prog", "a\\\"b", "c", "d"}},
    {"prog a\\\\\\\\\"b c\" d e", {"prog", "a\\\\b c", "d", "e"}},
    {"prog \"a\\\\\" b", {"prog", "a\\", "b"}},
    {"prog \"a\\\" b\"", {"prog", "a\" b"}},
    {"prog a\"b\"\" c d", {"prog", "ab\"", "c", "d"}},
    {"prog \"a\"\"b\" c", {"prog", "a\"b c"}},
    {"prog \"\"\"a\"\"\"", {"prog", "\"a\""}},
    {"prog \"\"", {"prog", ""}},
    {"prog \"\" \"\" x", {"prog", "", "", "x"}},
    {"prog \"open to the end", {"prog", "open to the end"}},
    {"prog a\nb \"c\nd\"", {"prog", "a\nb", "c\nd"}},
    {"prog $(x) `y` 'z w'", {"prog", "$(x)", "`y`", "'z", "w'"}},
    {"prog \"gr\xc3\xbcn \xe2\x82\xac\"", {"prog", "gr\xc3\xbcn \xe2\x82\xac"}},
};

TEST(SplitCommandLine, FollowsTheWindowsQuotingRules)
{
    for (const SplitCase& c : SplitCases)
        EXPECT_EQ(splitCommandLine(c.line), c.expected) << "line: " << c.line;
}

TEST(ProgramFileName, DropsExeAndTakesLowerCase)
{
    using platform::process::programFileName;
    EXPECT_EQ(programFileName("Burnport.exe"), "burnport");
    EXPECT_EQ(programFileName("BURNPORT.EXE"), "burnport");
    EXPECT_EQ(programFileName("burnport"), "burnport");
    EXPECT_EQ(programFileName("tool.exe.exe"), "tool.exe");
    EXPECT_EQ(programFileName(".exe"), ".exe");
    EXPECT_EQ(programFileName("/Opt/Tools/Burnport.exe"), "/Opt/Tools/burnport");
}

using EnvVar = testsupport::ScopedEnv;

struct ProgramSearch : ::testing::Test {
    testsupport::TempDir a;
    testsupport::TempDir b;
    EnvVar path{"PATH"};
    EnvVar terminal{"TERMINAL"};
    EnvVar display{"DISPLAY"};
    EnvVar wayland{"WAYLAND_DISPLAY"};

    static std::string program(const testsupport::TempDir& dir, const std::string& name, bool executable = true)
    {
        const std::string file = dir.file(name);
        testsupport::writeFile(file, "#!/bin/sh\n");
        fs::permissions(file, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
        return file;
    }
};

TEST_F(ProgramSearch, PathIsWalkedInOrderPastWhatCannotRun)
{
    program(a, "vd-tool", false);
    fs::create_directory(a.file("vd-dir"));
    const std::string found = program(b, "vd-tool");
    program(b, "vd-dir");
    path.set("::/no/such/folder:" + a.path() + ":" + b.path() + ":");
    EXPECT_EQ(findProgram("vd-tool"), found);
    EXPECT_EQ(findProgram("vd-dir"), b.file("vd-dir"));
    EXPECT_EQ(findProgram("vd-missing"), "");
    EXPECT_EQ(findProgram(""), "");
    // A name with a folder is taken as it stands, never searched.
    EXPECT_EQ(findProgram(found), found);
    EXPECT_EQ(findProgram(a.file("vd-tool")), "");
    path.unset();
    EXPECT_EQ(findProgram("vd-tool"), "");
}

TEST_F(ProgramSearch, EmptyPathEntriesDoNotMeanTheCurrentFolder)
{
    const std::string old = fs::current_path().string();
    program(a, "vd-here");
    fs::current_path(a.path());
    path.set(":" + b.path() + "::");
    EXPECT_EQ(findProgram("vd-here"), "");
    fs::current_path(old);
}

TEST_F(ProgramSearch, TheProgramsOwnFolderIsKnown)
{
    EXPECT_TRUE(fs::exists(platform::process::ownFolder() + "/process_test"));
}

TEST_F(ProgramSearch, TerminalNamedThenTheDebianOneAndOnlyWithADisplay)
{
    const std::string named = program(a, "vd-term");
    const std::string debian = program(b, "x-terminal-emulator");
    path.set(a.path() + ":" + b.path());
    display.set(":99");
    wayland.unset();

    terminal.set("vd-term");
    EXPECT_EQ(findTerminal(), named);
    terminal.set(named);
    EXPECT_EQ(findTerminal(), named);
    terminal.set("vd-no-such-term");
    EXPECT_EQ(findTerminal(), debian);
    terminal.set(a.file("vd-no-such-term"));
    EXPECT_EQ(findTerminal(), debian);
    terminal.set("");
    EXPECT_EQ(findTerminal(), debian);
    terminal.unset();
    EXPECT_EQ(findTerminal(), debian);

    fs::remove(debian);
    EXPECT_EQ(findTerminal(), "");
    terminal.set("vd-term");
    EXPECT_EQ(findTerminal(), named);

    display.unset();
    EXPECT_EQ(findTerminal(), "");
    wayland.set("wayland-0");
    EXPECT_EQ(findTerminal(), named);
}

TEST_F(ProgramSearch, AProgramFoundNowhereIsNotStarted)
{
    path.set(a.path());
    EXPECT_FALSE(platform::process::start({"NoSuchProgram.exe", "--help"}).started);
    EXPECT_FALSE(platform::process::start({}).started);
}

// A shell running script, not waited for.
pid_t child(const char* script)
{
    const char* argv[] = {"/bin/sh", "-c", script, nullptr};
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    return pid;
}

// Polls until the child has ended (the clock stands still meanwhile), with a way out.
platform::process::ChildState outcome(platform::process::ChildWatch& watch)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    platform::process::ChildState state;
    while ((state = watch.poll()) == platform::process::ChildState::Running &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return state;
}

TEST(ChildWatch, AnEndWithinTheLimitCountsByItsStatusAndRunningPastTheLimitSucceeds)
{
    using platform::process::ChildState;
    using platform::process::ChildWatch;
    testsupport::FakeClock clock;
    platform::ScopedClock scoped(clock);

    ChildWatch failed(child("exit 3"), 1000);
    EXPECT_EQ(outcome(failed), ChildState::Failed);
    EXPECT_EQ(failed.failure(), "exit status 3");
    ChildWatch killed(child("kill -9 $$"), 1000);
    EXPECT_EQ(outcome(killed), ChildState::Failed);
    EXPECT_EQ(killed.failure(), "signal 9");
    ChildWatch ended(child("exit 0"), 1000);
    EXPECT_EQ(outcome(ended), ChildState::Succeeded);

    // The limit counts across the wrap of the millisecond counter.
    clock.advance(0xFFFFFFFFu - clock.tickMs() - 100);
    const pid_t sleeper = child("exec sleep 600");
    {
        ChildWatch running(sleeper, 1000);
        EXPECT_EQ(running.poll(), ChildState::Running);
        clock.advance(999);
        EXPECT_EQ(running.poll(), ChildState::Running);
        clock.advance(1);
        EXPECT_EQ(running.poll(), ChildState::Succeeded);
        // What it does afterwards no longer counts.
        ::kill(sleeper, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(running.poll(), ChildState::Succeeded);
    }
}

} // namespace
