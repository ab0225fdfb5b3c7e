#pragma once
// Burnport's command line: the run settings, the argument walk and the help text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace burnport {

inline constexpr std::size_t HexFileLimit = 254;   // characters of --file
inline constexpr std::size_t ComValueLimit = 6;    // characters after "COM" in --com
inline constexpr std::int32_t NoCanAddress = -1;

struct FlasherOptions {
    std::string hexFile = "QX20A0.HEX";
    std::string portName = "COM1";
    std::int32_t baudRate = 115200;
    bool retry = false;
    bool fpga = false;
    bool can = false;
    std::int32_t canAddress = NoCanAddress;
};

enum class ArgumentOutcome { Run, Help, Invalid };

struct ArgumentResult {
    ArgumentOutcome outcome = ArgumentOutcome::Run;
    FlasherOptions options;
    bool fastMode = false;
    std::string message; // for Invalid: the option's message, printed as it stands
};

inline constexpr const char* FileMessage = "Invalid argument filename given!";
inline constexpr const char* BaudMessage = "Invalid argument baudrate given!";
inline constexpr const char* ComMessage = "Invalid argument COM port given!";
inline constexpr const char* CanMessage = "Invalid argument CAN address given!";

extern const char* const HelpText;

// Walks the arguments after the program name.
ArgumentResult readArguments(const std::vector<std::string>& args);

bool isValidCanAddress(std::int32_t address);

// Leading blanks, an optional sign, then digits up to the first other character;
// no digits reads as 0. Values beyond 32 bits are clamped.
std::int32_t readNumber(std::string_view text);

} // namespace burnport
