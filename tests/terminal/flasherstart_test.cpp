// "Firmware Update..." in a copy of the window program, with a stand-in flasher (or
// the real one) placed in that program's folder or on PATH: what the started program
// receives, where it is looked for, the terminal window, and the message when it is
// nowhere.
#include "tests/flasher/firmware.h"
#include "tests/support/simport.h"

#include "sim/bootloader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

using Args = std::vector<std::string>;

struct LaunchRun {
    bool ended = false; // the window program and everything it started have ended
    int code = -1;      // the window program's exit code
    std::string out;
};

struct FlasherStart : ::testing::Test {
    testsupport::TempDir app;      // the window program's folder
    testsupport::TempDir pathDir;  // the only folder on PATH
    testsupport::TempDir work;     // current directory, firmware files, records
    std::map<std::string, std::string> env;

    void SetUp() override
    {
        // A started program outlives the window program; as its new parent this
        // process can wait for it to end.
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        place(LAUNCH_PROBE_PATH, app.file("voltdesk"));
        env["PATH"] = pathDir.path();
        env["QT_QPA_PLATFORM"] = "offscreen";
        env["STANDIN_RECORD"] = work.file("record");
    }

    static void place(const std::string& from, const std::string& to)
    {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_all);
    }

    std::vector<std::string> environment() const
    {
        std::vector<std::string> out;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (env.count(name) == 0 && name != "TERMINAL" && name != "DISPLAY" && name != "WAYLAND_DISPLAY")
                out.push_back(entry);
        }
        for (const auto& [name, value] : env)
            out.push_back(name + "=" + value);
        return out;
    }

    // Runs the window program with standard input from /dev/null, clicks
    // "Firmware Update..." there, and waits (with a way out) until it and what it
    // started have ended.
    LaunchRun launch(const std::string& file, const std::string& com, Args flags = {})
    {
        Args args{app.file("voltdesk"), file, com};
        args.insert(args.end(), flags.begin(), flags.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings = environment();
        std::vector<char*> envp;
        for (auto& e : envStrings)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const std::string outFile = work.file("out.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, work.path().c_str());
        pid_t pid = 0;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        LaunchRun run;
        if (rc != 0) {
            ADD_FAILURE() << "cannot start the window program: " << std::strerror(rc);
            return run;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (;;) {
            int status = 0;
            const pid_t ended = ::waitpid(-1, &status, WNOHANG);
            if (ended == pid)
                run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            if (ended < 0 && errno == ECHILD) {
                run.ended = true;
                break;
            }
            if (ended == 0) {
                if (std::chrono::steady_clock::now() > deadline)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        run.out = readFile(outFile);
        return run;
    }

    // The arguments a stand-in received (argument 0 included); empty when it never ran.
    static Args recorded(const std::string& file)
    {
        Args args;
        if (!fs::exists(file))
            return args;
        const std::string bytes = readFile(file);
        std::size_t start = 0;
        for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
            args.push_back(bytes.substr(start, end - start));
        return args;
    }

    Args record() const { return recorded(work.file("record")); }
};

struct PathCase {
    std::string name;   // the file name, in a folder of the work folder
    std::string com;
    Args flags;
    Args expectedTail;  // after --fast
};

TEST_F(FlasherStart, EveryFileNameReachesTheFlasherAsItIsAndNothingInItRuns)
{
    place(STANDIN_PATH, app.file("burnport"));
    const std::string longName = "WPN707_" + std::string(200, 'n') + ".hex";
    const PathCase cases[] = {
        {"fw_1/QX20AF_a b $(touch PWNED1) `touch PWNED2` $HOME.hex", "3", {}, {"--fpga"}},
        {"fw_1/QX20A2_\"; touch PWNED3; \".hex", "12", {"retry"}, {"--retry", "--can"}},
        {"fw_1/QX20AF_line\nbreak\ttab.hex", "1", {"retry"}, {"--fpga", "--retry"}},
        {"Prüfstand ünï €/WPN707_grün.hex", "4", {}, {"--can", "1"}},
        {std::string(90, 'd') + "/" + longName, "2", {"filament2", "retry"}, {"--can", "2", "--retry"}},
        // The dot keeps the dialog's default extension off, so the name still ends in "\\".
        {"fw_1/it's 100% %1 %s \\x.\\", "5", {}, {}},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = work.path() + "/" + c.name;
        if (c.name.size() > 250) {
            ASSERT_GT(path.size(), 300u);
        }
        fs::create_directories(fs::path(path).parent_path());
        fs::remove(work.file("record"));
        LaunchRun run = launch(path, c.com, c.flags);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.out, "");
        Args expected{app.file("burnport"), "--com", c.com, "--file", path, "--fast"};
        expected.insert(expected.end(), c.expectedTail.begin(), c.expectedTail.end());
        EXPECT_EQ(record(), expected);
    }
    for (const auto& folder : {work.path(), work.path() + "/fw_1", app.path(), pathDir.path()})
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename().string().find("PWNED"), std::string::npos) << entry.path();
}

TEST_F(FlasherStart, TheProgramsOwnFolderComesBeforePath)
{
    place(STANDIN_PATH, app.file("burnport"));
    place(STANDIN_PATH, pathDir.file("burnport"));
    LaunchRun run = launch(work.file("QX20AF_1.hex"), "3");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(record(), (Args{app.file("burnport"), "--com", "3", "--file", work.file("QX20AF_1.hex"), "--fast",
                              "--fpga"}));
}

TEST_F(FlasherStart, PathIsSearchedWhenTheOwnFolderLacksTheFlasher)
{
    // Not executable: it does not count.
    testsupport::writeFile(app.file("burnport"), "#!/bin/sh\n");
    fs::permissions(app.file("burnport"), fs::perms::owner_read | fs::perms::owner_write);
    place(STANDIN_PATH, pathDir.file("burnport"));
    LaunchRun run = launch(work.file("plain.hex"), "7");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(record(), (Args{pathDir.file("burnport"), "--com", "7", "--file", work.file("plain.hex"), "--fast"}));
}

TEST_F(FlasherStart, AFlasherFoundNowhereGivesTheMessage)
{
    // A folder of that name is no program either.
    fs::create_directory(pathDir.file("burnport"));
    LaunchRun run = launch(work.file("QX20AF_1.hex"), "3");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "message: Error running Burnport.exe (EXE file not found)!\n");
    EXPECT_TRUE(record().empty());
}

TEST_F(FlasherStart, ATerminalWindowOfItsOwnWhenATerminalIsFound)
{
    place(STANDIN_PATH, app.file("burnport"));
    place(STANDIN_PATH, pathDir.file("x-terminal-emulator"));
    place(STANDIN_PATH, pathDir.file("myterm"));
    env["DISPLAY"] = ":99";
    const std::string file = work.file("WPN707_1.hex");
    const Args flasherArgs{app.file("burnport"), "--com", "3", "--file", file, "--fast", "--can", "2"};
    const std::string terminalRecord = work.file("record.terminal");

    // A terminal named but missing counts as none: the next one is taken.
    env["TERMINAL"] = "no-such-terminal";
    LaunchRun run = launch(file, "3", {"filament2"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.out, "");
    Args viaTerminal{pathDir.file("x-terminal-emulator"), "-e"};
    viaTerminal.insert(viaTerminal.end(), flasherArgs.begin(), flasherArgs.end());
    EXPECT_EQ(recorded(terminalRecord), viaTerminal);
    EXPECT_EQ(record(), flasherArgs);

    env["TERMINAL"] = "myterm";
    fs::remove(terminalRecord);
    fs::remove(work.file("record"));
    run = launch(file, "3", {"filament2"});
    ASSERT_TRUE(run.ended);
    viaTerminal[0] = pathDir.file("myterm");
    EXPECT_EQ(recorded(terminalRecord), viaTerminal);
    EXPECT_EQ(record(), flasherArgs);

    // Without a display no window can open: the flasher shares the standard streams.
    env.erase("DISPLAY");
    fs::remove(terminalRecord);
    fs::remove(work.file("record"));
    run = launch(file, "3", {"filament2"});
    ASSERT_TRUE(run.ended);
    EXPECT_FALSE(fs::exists(terminalRecord));
    EXPECT_EQ(record(), flasherArgs);
}

TEST_F(FlasherStart, ATerminalThatCannotRunTheFlasherIsPassedByOrReported)
{
    place(STANDIN_PATH, app.file("burnport"));
    env["DISPLAY"] = ":99";
    env["TERMINAL"] = "myterm";
    const std::string file = work.file("QX20AF_1.hex");
    const Args flasherArgs{app.file("burnport"), "--com", "3", "--file", file, "--fast", "--fpga"};
    const std::string script = pathDir.file("myterm");

    // One that cannot be executed at all: the flasher runs without a terminal.
    for (const auto perms : {fs::perms::owner_all, fs::perms::owner_read | fs::perms::owner_write}) {
        testsupport::writeFile(script, "no program at all\n");
        fs::permissions(script, perms);
        fs::remove(work.file("record"));
        LaunchRun run = launch(file, "3");
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(record(), flasherArgs);
    }

    // One that fails at once has run nothing, and nothing is started in its place.
    testsupport::writeFile(script, "#!/bin/sh\nexit 1\n");
    fs::permissions(script, fs::perms::owner_all);
    fs::remove(work.file("record"));
    LaunchRun run = launch(file, "3");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "message: Error: the terminal program 'myterm' ended with exit status 1; Burnport may not have run.\n");
    EXPECT_TRUE(record().empty());
}

TEST_F(FlasherStart, TheRealFlasherFlashesTheSimulatedModule)
{
    place(BURNPORT_PATH, app.file("burnport"));
    testsupport::SimPort port{41}; // its serial-port map reaches both programs through the environment
    auto boot = std::make_shared<sim::Bootloader>();
    sim::attachBootloader(port.module(), boot);
    fs::create_directory(work.file("fw dir_1"));
    auto fw = flashertest::makeFirmware(work.file("fw dir_1"), 28, 32, 2048);

    LaunchRun run = launch(fw.path, "41");
    ASSERT_TRUE(run.ended);
    // Without a terminal window the flasher writes to the window program's output.
    EXPECT_EQ(run.out.find("message:"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Press Enter to exit the program."), std::string::npos) << run.out;
    EXPECT_EQ(boot->record().target, "PLAIN");
    EXPECT_EQ(boot->image(fw.base), fw.data);
}

} // namespace
