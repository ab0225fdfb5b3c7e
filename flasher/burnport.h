#pragma once
// Burnport's main routine: command line, title, HEX file, port, update run.
#include "console.h"

#include <string>
#include <vector>

namespace burnport {

// The arguments after the program name; returns the exit code.
int runBurnport(const std::vector<std::string>& args, Console& console);

} // namespace burnport
