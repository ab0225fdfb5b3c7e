// burnport: flashes a module's firmware over a serial port.
#include "burnport.h"
#include "console.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    burnport::StdConsole console;
    return burnport::runBurnport(args, console);
}
