#include "process.h"

#include "clock.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::process {
namespace {

StartHandler& startHandler()
{
    static StartHandler h;
    return h;
}

bool isExecutableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Empty PATH entries are skipped: the current directory is no place a program is
// looked for here.
std::string searchPath(std::string_view name)
{
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    std::string_view rest = path;
    for (;;) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty()) {
            std::string candidate = std::string(dir) + "/" + std::string(name);
            if (isExecutableFile(candidate))
                return candidate;
        }
        if (colon == std::string_view::npos)
            return {};
        rest.remove_prefix(colon + 1);
    }
}

std::string findNamed(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return isExecutableFile(std::string(name)) ? std::string(name) : std::string();
    return searchPath(name);
}

bool hasValue(const char* variable)
{
    const char* v = std::getenv(variable);
    return v && *v;
}

void reapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// The child's id, or 0 when it could not be started.
pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The child starts with no blocked or ignored signals, and with none of our
    // descriptors beyond the standard three (a socket or port of ours is not its business).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : 0;
}

} // namespace

std::string ownFolder()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path().string();
}

std::string findProgram(std::string_view name)
{
    if (name.empty())
        return {};
    if (name.find('/') == std::string_view::npos) {
        const std::string own = ownFolder();
        if (!own.empty()) {
            std::string candidate = own + "/" + std::string(name);
            if (isExecutableFile(candidate))
                return candidate;
        }
    }
    return findNamed(name);
}

std::string findTerminal()
{
    if (!hasValue("DISPLAY") && !hasValue("WAYLAND_DISPLAY"))
        return {};
    if (hasValue("TERMINAL")) {
        std::string terminal = findNamed(std::getenv("TERMINAL"));
        if (!terminal.empty())
            return terminal;
    }
    return searchPath("x-terminal-emulator");
}

Started start(const std::vector<std::string>& arguments)
{
    if (startHandler())
        return {startHandler()(arguments), 0, {}};
    if (arguments.empty())
        return {};
    std::vector<std::string> args = arguments;
    args[0] = findProgram(programFileName(arguments[0]));
    if (args[0].empty())
        return {};
    // "-e program arguments..." is the one form every terminal program takes
    // (Debian asks it of x-terminal-emulator); the arguments stay apart.
    const std::string terminal = findTerminal();
    if (!terminal.empty()) {
        std::vector<std::string> inTerminal{terminal, "-e"};
        inTerminal.insert(inTerminal.end(), args.begin(), args.end());
        // A terminal that cannot be executed has run nothing: the program goes without one.
        if (const pid_t pid = spawn(inTerminal))
            return {true, pid, terminal};
    }
    const pid_t pid = spawn(args);
    if (pid == 0)
        return {};
    // Nobody waits for the program; reaping it in the background leaves no zombie.
    reapInBackground(pid);
    return {true, 0, {}};
}

ChildWatch::ChildWatch(int pid, std::uint32_t limitMs) : pid_(pid), start_(timeGetTime()), limit_(limitMs)
{
    // waitpid would take 0 and below for whole groups of children, none of them this one.
    if (pid_ <= 0) {
        reaped_ = true;
        state_ = ChildState::Succeeded;
    }
}

ChildWatch::~ChildWatch()
{
    if (!reaped_)
        reapInBackground(pid_);
}

ChildState ChildWatch::poll()
{
    if (state_ != ChildState::Running)
        return state_;
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (ended == pid_) {
        reaped_ = true;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            state_ = ChildState::Succeeded;
        } else {
            state_ = ChildState::Failed;
            failure_ = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                         : "signal " + std::to_string(WTERMSIG(status));
        }
        return state_;
    }
    if (ended < 0) {
        // Not our child (any more): nothing is known of it, so nothing is held against it.
        reaped_ = true;
        state_ = ChildState::Succeeded;
        return state_;
    }
    // Counted in wrapping milliseconds, like every other limit here.
    if (static_cast<std::uint32_t>(timeGetTime() - start_) >= limit_)
        state_ = ChildState::Succeeded;
    return state_;
}

void setStartHandler(StartHandler handler)
{
    startHandler() = std::move(handler);
}

} // namespace platform::process
