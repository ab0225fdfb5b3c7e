#pragma once
// Starting another program the way WinExec does: a command line in Windows form,
// split into arguments here and started directly, never through a shell.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::process {

// The arguments that Windows' CommandLineToArgvW makes of a command line: the first
// (the program) ends at the next blank or closing quote with no escapes; after it,
// blanks outside quotes separate arguments, 2n backslashes before a quote give n and
// the quote opens or closes quoting, 2n+1 give n and a literal quote, backslashes
// elsewhere stand for themselves, and every third quote of a run of quotes is literal.
std::vector<std::string> splitCommandLine(std::string_view line);

// The file a Windows program name stands for here: ".exe" dropped, in lower case
// (Windows finds programs regardless of case; ours are installed in lower case).
std::string programFileName(std::string_view windowsName);

// The folder of the running program, "" when it cannot be told.
std::string ownFolder();

// An executable file of that name in the running program's folder, else on PATH;
// a name holding "/" is taken as it stands. "" when there is none.
std::string findProgram(std::string_view name);

// The terminal program that gives a started program a window of its own:
// $TERMINAL, then x-terminal-emulator, each only when it exists, and only when
// there is a display to open a window on. "" when there is none.
std::string findTerminal();

// What start() started.
struct Started {
    bool started = false;  // false: nothing was started, WinExec's failure
    int terminalPid = 0;   // the terminal program that runs it; 0 when it runs without one
    std::string terminal;  // that terminal program's path
};

// Starts arguments[0] (a Windows program name, found as findProgram finds it)
// with the other arguments, in a terminal window of its own where findTerminal
// finds one that can be executed, else sharing this program's standard input and
// output. Never waits for it. A terminal program is left to the caller to watch
// (ChildWatch); anything else started is reaped in the background.
Started start(const std::vector<std::string>& arguments);

// How a started child has fared in its first moments.
enum class ChildState {
    Running,    // still running, and the limit has not passed
    Succeeded,  // ended with status 0, or still running when the limit passed
    Failed,     // ended with a non-zero status or by a signal within the limit
};

// Watches a child for a limit counted on platform::clock() from construction,
// without ever waiting for it. A child not yet reaped when the watch is destroyed
// is reaped in the background.
class ChildWatch {
public:
    ChildWatch(int pid, std::uint32_t limitMs);
    ~ChildWatch();
    ChildWatch(const ChildWatch&) = delete;
    ChildWatch& operator=(const ChildWatch&) = delete;

    // Looks once; the state stays once it is no longer Running.
    ChildState poll();
    // How a failed child ended: "exit status 1" or "signal 9".
    std::string failure() const { return failure_; }

private:
    int pid_;
    bool reaped_ = false;
    std::uint32_t start_;
    std::uint32_t limit_;
    ChildState state_ = ChildState::Running;
    std::string failure_;
};

// Tests put their own start in place; an empty function restores the real one.
using StartHandler = std::function<bool(const std::vector<std::string>& arguments)>;
void setStartHandler(StartHandler handler);

} // namespace platform::process
