// libFuzzer: random argument lists through the argument walk.
#include "flasher/options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // NUL bytes separate the arguments.
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    burnport::ArgumentResult r = burnport::readArguments(args);
    if (r.outcome == burnport::ArgumentOutcome::Run) {
        if (r.options.hexFile.size() > burnport::HexFileLimit || r.options.portName.size() > 3 + burnport::ComValueLimit)
            __builtin_trap();
        if (r.options.baudRate != 57600 && r.options.baudRate != 115200)
            __builtin_trap();
        if (r.options.canAddress != -1 && !burnport::isValidCanAddress(r.options.canAddress))
            __builtin_trap();
    }
    return 0;
}
