#include "flasher/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace burnport;

namespace {

struct WalkCase {
    std::vector<std::string> args;
    ArgumentOutcome outcome;
    std::string message;
    std::string hexFile = "QX20A0.HEX";
    std::string port = "COM1";
    int baud = 115200;
    bool retry = false, fpga = false, can = false, fast = false;
    int canAddress = -1;
};

std::string show(const std::vector<std::string>& args)
{
    std::string s;
    for (const auto& a : args)
        s += "[" + a + "]";
    return s;
}

} // namespace

TEST(ArgumentWalk, FollowsTheTableOfOptions)
{
    using O = ArgumentOutcome;
    const std::string longName(255, 'x');
    const WalkCase cases[] = {
        {{}, O::Run, ""},
        {{"--file", "fw.s19"}, O::Run, "", "fw.s19"},
        {{"-F", "a.hex", "-f", "b.hex"}, O::Run, "", "b.hex"},
        {{"--file"}, O::Invalid, "Invalid argument filename given!"},
        {{"--file", longName}, O::Invalid, "Invalid argument filename given!"},
        {{"--file", std::string(254, 'y')}, O::Run, "", std::string(254, 'y')},
        {{"--files", "x"}, O::Run, ""},
        {{"--baud", "57600"}, O::Run, "", "QX20A0.HEX", "COM1", 57600},
        {{"-b", "115200"}, O::Run, ""},
        {{"--baud", "9600"}, O::Invalid, "Invalid argument baudrate given!"},
        {{"--baud"}, O::Invalid, "Invalid argument baudrate given!"},
        {{"--baud", " 57600x"}, O::Run, "", "QX20A0.HEX", "COM1", 57600},
        {{"--com", "12"}, O::Run, "", "QX20A0.HEX", "COM12"},
        {{"--com", "3", "-c", "4"}, O::Run, "", "QX20A0.HEX", "COM4"},
        {{"--com", "COM3"}, O::Invalid, "Invalid argument COM port given!"},
        {{"--com", "0"}, O::Invalid, "Invalid argument COM port given!"},
        {{"--com", "1234567"}, O::Invalid, "Invalid argument COM port given!"},
        {{"--com", "123456"}, O::Run, "", "QX20A0.HEX", "COM123456"},
        {{"--com"}, O::Run, ""},
        {{"-r", "-P", "--FAST"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, true, true, false, true},
        {{"--can"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, false, false, true},
        {{"--can", "2"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, false, false, true, false, 2},
        {{"-a", "63", "--can"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, false, false, true, false, 63},
        {{"--can", "5"}, O::Invalid, "Invalid argument CAN address given!"},
        {{"--can", "--fpga"}, O::Invalid, "Invalid argument CAN address given!"},
        {{"--fpga", "--can", "1"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, false, true, true, false, 1},
        {{"-H"}, O::Help, ""},
        {{"--HELP", "--baud", "1"}, O::Help, ""},
        {{"--baud", "1", "-h"}, O::Invalid, "Invalid argument baudrate given!"},
        {{"x?y"}, O::Help, ""},
        {{"--file", "-h"}, O::Help, ""},                 // the value is tested against later options
        {{"--file", "--baud", "57600"}, O::Run, "", "--baud", "COM1", 57600},
        {{"--file", "a?"}, O::Help, ""},
        {{"unknown", "--retry"}, O::Run, "", "QX20A0.HEX", "COM1", 115200, true},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(show(c.args));
        ArgumentResult r = readArguments(c.args);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.message, c.message);
        if (c.outcome != O::Run)
            continue;
        EXPECT_EQ(r.options.hexFile, c.hexFile);
        EXPECT_EQ(r.options.portName, c.port);
        EXPECT_EQ(r.options.baudRate, c.baud);
        EXPECT_EQ(r.options.retry, c.retry);
        EXPECT_EQ(r.options.fpga, c.fpga);
        EXPECT_EQ(r.options.can, c.can);
        EXPECT_EQ(r.fastMode, c.fast);
        EXPECT_EQ(r.options.canAddress, c.canAddress);
    }
}

TEST(ArgumentWalk, NumbersReadLikeTheCLibrary)
{
    EXPECT_EQ(readNumber("3x"), 3);
    EXPECT_EQ(readNumber("COM3"), 0);
    EXPECT_EQ(readNumber("  -12"), -12);
    EXPECT_EQ(readNumber("+7"), 7);
    EXPECT_EQ(readNumber(""), 0);
    EXPECT_EQ(readNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(readNumber("-99999999999999999999"), -2147483647 - 1);
}

TEST(ArgumentWalk, OnlyThreeCanAddressesAreValid)
{
    for (int a = -2; a < 70; ++a)
        EXPECT_EQ(isValidCanAddress(a), a == 1 || a == 2 || a == 63) << a;
}

TEST(ArgumentWalk, HelpTextIsPrintedAsWrittenWithNoLineForFast)
{
    EXPECT_EQ(std::string(HelpText),
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
              "  -a|--can   : program internal second Microprocessor over CAN\n");
}
