#pragma once
// Starting another program the way WinExec does: a command line in Windows form,
// split into arguments here and started directly, never through a shell.
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

// Starts arguments[0] (a Windows program name, found as findProgram finds it)
// with the other arguments, in a terminal window of its own where findTerminal
// finds one, else sharing this program's standard input and output. Never waits
// for it. False when nothing was started: that is WinExec's failure.
bool start(const std::vector<std::string>& arguments);

// Tests put their own start in place; an empty function restores the real one.
using StartHandler = std::function<bool(const std::vector<std::string>& arguments)>;
void setStartHandler(StartHandler handler);

} // namespace platform::process
