#include "options.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace burnport {

const char* const HelpText =
    "Serial Update Program for Kavo HV modules\n"
    "Syntax:\n"
    "  Burnport [--file filename.hex] [--com X] [--retry]\n"
    "  Burnport [-f filename.hex] [-c X] [-r]\n"
    "\n"
    "  -b|--baud  : use Baudrate 57600 or 115200\n"
    "  -c|--com   : use specified COM port\n"
    "  -f|--file  : use the given HEX-File (default: QX20A0.HEX)\n"
    "  -r|--retry : use if HV module is already in flash mode\n"
    "  -p|--fpga  : program internal FPGA\n"
    "  -a|--can   : program internal second Microprocessor over CAN\n";

namespace {

bool sameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool isOption(std::string_view arg, std::string_view longName, std::string_view shortName = {})
{
    return sameWord(arg, longName) || (!shortName.empty() && sameWord(arg, shortName));
}

ArgumentResult invalid(const char* message)
{
    ArgumentResult r;
    r.outcome = ArgumentOutcome::Invalid;
    r.message = message;
    return r;
}

} // namespace

bool isValidCanAddress(std::int32_t address)
{
    return address == 1 || address == 2 || address == 63;
}

std::int32_t readNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t cap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = std::min(value * 10 + (text[i] - '0'), cap);
    if (negative)
        value = -value;
    value = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(value);
}

ArgumentResult readArguments(const std::vector<std::string>& args)
{
    ArgumentResult result;
    FlasherOptions& o = result.options;
    std::size_t pos = 0;
    // A value option moves the position onto its value; the options after it in this
    // order are then tested against that value.
    while (pos < args.size()) {
        if (isOption(args[pos], "--retry", "-r"))
            o.retry = true;
        if (isOption(args[pos], "--file", "-f")) {
            if (pos + 1 >= args.size() || args[pos + 1].size() > HexFileLimit)
                return invalid(FileMessage);
            o.hexFile = args[++pos];
        }
        if (isOption(args[pos], "--baud", "-b")) {
            std::int32_t rate = pos + 1 < args.size() ? readNumber(args[++pos]) : 0;
            if (rate != 57600 && rate != 115200)
                return invalid(BaudMessage);
            o.baudRate = rate;
        }
        if (isOption(args[pos], "--com", "-c") && pos + 1 < args.size()) {
            const std::string& value = args[++pos];
            if (readNumber(value) == 0 || value.size() > ComValueLimit)
                return invalid(ComMessage);
            o.portName = "COM" + value;
        }
        if (isOption(args[pos], "--fpga", "-p"))
            o.fpga = true;
        if (isOption(args[pos], "--fast"))
            result.fastMode = true;
        if (isOption(args[pos], "--can", "-a")) {
            o.can = true;
            if (pos + 1 < args.size()) {
                std::int32_t address = readNumber(args[++pos]);
                if (!isValidCanAddress(address))
                    return invalid(CanMessage);
                o.canAddress = address;
            }
        }
        if (isOption(args[pos], "--help", "-h") || args[pos].find('?') != std::string::npos) {
            result.outcome = ArgumentOutcome::Help;
            return result;
        }
        ++pos;
    }
    return result;
}

} // namespace burnport
