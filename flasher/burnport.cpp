#include "burnport.h"

#include "options.h"
#include "protocol.h"
#include "serialio.h"

#include <cstdio>
#include <sys/stat.h>

namespace burnport {
namespace {

// A folder opens like a file on this system but reads nothing.
std::FILE* openHexFile(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (f && (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

} // namespace

int runBurnport(const std::vector<std::string>& args, Console& console)
{
    ArgumentResult parsed = readArguments(args);
    if (parsed.outcome == ArgumentOutcome::Invalid) {
        console.print(parsed.message);
        return ExitBadArgument;
    }
    if (parsed.outcome == ArgumentOutcome::Help) {
        console.print(HelpText);
        return ExitDone;
    }
    FlasherOptions options = parsed.options;
    FastMode = parsed.fastMode;
    MinCount = BurstPollBudget;

    console.setTitle("Burnport: (" + options.hexFile + ")");
    std::FILE* hex = openHexFile(options.hexFile);
    if (!hex) {
        console.writeLine("Error: could not open HEX-File!\n");
        console.waitForEnter();
        return ExitNoHexFile;
    }
    Handle port = openPort(options.portName);
    if (port == InvalidHandle) {
        std::fclose(hex);
        console.writeLine("Error: could not set up and open com port!\n");
        console.writeLine("Maybe the port is already in use?\n");
        console.waitForEnter();
        return ExitNoPort;
    }
    return runUpdate(hex, port, options, console);
}

} // namespace burnport
