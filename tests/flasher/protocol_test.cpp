// The update run against the simulated module's update mode, with a clock that
// records every pause and moves on only as the module keeps up (see FakeClock).
#include "flasher/burnport.h"
#include "flasher/protocol.h"
#include "firmware.h"

#include "sim/bootloader.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>
#include <vector>

using namespace burnport;
using flashertest::makeFirmware;

namespace {

struct CaptureConsole final : Console {
    std::string text;
    std::string title;
    int waits = 0;
    void write(std::string_view t) override { text += t; }
    void waitForEnter() override { ++waits; }
    void setTitle(std::string_view t) override { title = t; }
};

// The pauses in order, the polls of the reply waits (0 ms) left out; a run of more
// than four equal pauses is written once with its count, "10x50".
std::string pauses(std::vector<std::uint32_t> sleeps)
{
    std::erase(sleeps, 0u);
    std::string out;
    for (std::size_t i = 0, j = 0; i < sleeps.size(); i = j) {
        while (j < sleeps.size() && sleeps[j] == sleeps[i])
            ++j;
        const std::size_t n = j - i;
        for (std::size_t k = 0; k < (n > 4 ? 1 : n); ++k) {
            if (!out.empty())
                out += ' ';
            out += std::to_string(sleeps[i]);
            if (n > 4) {
                out += 'x';
                out += std::to_string(n);
            }
        }
    }
    return out;
}

// One simulated module with its update mode, fresh for every run.
struct Rig {
    static inline int nextCom = 20;
    testsupport::FakeClock& clock;
    int com = nextCom++;
    testsupport::SimPort port{com};
    std::shared_ptr<sim::Bootloader> boot = std::make_shared<sim::Bootloader>();
    CaptureConsole console;

    explicit Rig(testsupport::FakeClock& c, sim::BootloaderFaults f = {}, bool inFlashMode = false) : clock(c)
    {
        boot->setFaults(f); // the log-on comes again every 1000 ms of the program's clock
        if (inFlashMode)
            sim::startInFlashMode(port.module(), boot);
        else
            sim::attachBootloader(port.module(), boot);
    }

    int run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--com", std::to_string(com)});
        testsupport::ScopedFollow follow(clock, port.module());
        return runBurnport(args, console);
    }

    bool says(const std::string& text) const { return console.text.find(text) != std::string::npos; }
    sim::FlashRecord record() const { return boot->record(); }
};

struct ProtocolTest : ::testing::Test {
    testsupport::FakeClock clock;
    platform::ScopedClock use{clock};
    testsupport::TempDir dir;

    ProtocolTest()
    {
        // The reply polls pause 0 ms; let each count as 1 ms so that limits run out.
        clock.onSleep([this](std::uint32_t ms) {
            if (ms == 0)
                clock.advance(1);
        });
    }

    std::string smallFile(int form = 28) { return makeFirmware(dir.path(), form, 16, 256).path; }
    std::string paused() const { return pauses(clock.sleeps()); }
};

int occurrences(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

sim::BootloaderFaults faults(void (*set)(sim::BootloaderFaults&))
{
    sim::BootloaderFaults f;
    set(f);
    return f;
}

} // namespace

TEST_F(ProtocolTest, FlashesEveryFormAndRecordSizeByteForByte)
{
    for (int form : {19, 28, 37}) {
        for (int recordBytes : {16, 32}) {
            SCOPED_TRACE(std::to_string(form) + "/" + std::to_string(recordBytes));
            Rig rig(clock);
            auto fw = makeFirmware(dir.path(), form, recordBytes, 2048, 0x1000, form * 100 + recordBytes);
            std::vector<std::string> args{"--file", fw.path};
            if (recordBytes == 32)
                args.push_back("--fast");
            EXPECT_EQ(rig.run(args), 0) << rig.console.text;
            EXPECT_EQ(rig.boot->image(fw.base), fw.data);
            EXPECT_TRUE(rig.record().endRecordSeen);
            EXPECT_EQ(rig.record().damagedLines, 0);
        }
    }
}

TEST_F(ProtocolTest, PlainRunTakesThePausesInOrderAndEndsWithTheDoneTexts)
{
    Rig rig(clock);
    std::string file = smallFile();
    EXPECT_EQ(rig.run({"--file", file}), 0);
    EXPECT_EQ(rig.console.title, "Burnport: (" + file + ")");
    // One poll each for the log-on and the ready message, then the pause after the start time.
    EXPECT_EQ(paused(), "10 5000 100 100 100 500 1000 3000");
    EXPECT_EQ(clock.periods(), (std::vector<int>{1, -1}));
    EXPECT_EQ(rig.console.waits, 1);
    EXPECT_EQ(rig.port.module().lines().front(), "*HX2FL!");
    EXPECT_EQ(rig.record().target, "PLAIN");
    EXPECT_EQ(rig.record().postFlash, (std::vector<std::string>{"PSTFLSH"}));
    EXPECT_TRUE(rig.says("Beginning update procedure... \n"
                         "HV device is now in Update regime, waiting for reboot...\n"
                         "Switching port COM" + std::to_string(rig.com) + " to baudrate 115200 kBit/s\n"
                         "Waiting for Log on message...\nGot Log on message\n"
                         "Waiting for HV device to become ready... \n"
                         "Setting HV device to Flash mode... \n"
                         "Starting transfer of HEX file...\n\nS0"));
    EXPECT_TRUE(std::regex_search(rig.console.text,
                                  std::regex("Transfer completed in \\d+ seconds with 0 retries\\.\n"
                                             "Starting Post Flash procedure\\.\\.\\.\n"
                                             "The device reboots when the Postflash is finished\\.\\.\\.\n"
                                             "MinCount = 500000\nPress Enter to exit the program\\.\n$")))
        << rig.console.text;
}

TEST_F(ProtocolTest, ReplyOk115200RaisesTheRateAndPlainOkKeepsIt)
{
    Rig raised(clock, faults([](auto& f) { f.updateModeReply = "OK 115200"; }));
    EXPECT_EQ(raised.run({"--baud", "57600", "--file", smallFile()}), 0);
    EXPECT_TRUE(raised.says("to baudrate 115200 kBit/s\n"));
    EXPECT_EQ(raised.port.module().lineSpeed(), 115200);

    Rig kept(clock);
    EXPECT_EQ(kept.run({"--baud", "57600", "--file", smallFile()}), 0);
    EXPECT_TRUE(kept.says("to baudrate 57600 kBit/s\n"));
    EXPECT_EQ(kept.port.module().lineSpeed(), 57600);
}

TEST_F(ProtocolTest, OkWithoutLineEndAndAnOverlongReplyStillCountAsOk)
{
    Rig rig(clock);
    sim::SerialFaults noEnd;
    noEnd.noLineEnd = true;
    rig.port.module().setFaults(noEnd);
    EXPECT_EQ(rig.run({"--file", smallFile()}), 0);
    EXPECT_EQ(clock.sleepCount(10), 50u);

    Rig longReply(clock, faults([](auto& f) { f.updateModeReply = "OK " + std::string(80, 'z'); }));
    EXPECT_EQ(longReply.run({"--file", smallFile()}), 0);
}

TEST_F(ProtocolTest, SafetyLoopAndRefusalsEndBeforeTheTimerRequest)
{
    Rig rig(clock, faults([](auto& f) { f.updateModeReply = "ERR SFLP"; }));
    EXPECT_EQ(rig.run({"--file", smallFile()}), 4);
    EXPECT_TRUE(rig.says("Error: HV device safety loop is closed!\n\nPlease open safety loop and try again.\n\n"));
    EXPECT_EQ(rig.console.waits, 1);
    EXPECT_TRUE(clock.periods().empty());

    clock.clear();
    Rig silent(clock, faults([](auto& f) { f.noUpdateModeReply = true; }));
    EXPECT_EQ(silent.run({"--file", smallFile()}), 3);
    EXPECT_EQ(clock.sleepCount(10), 50u);
    EXPECT_TRUE(silent.says("Error: HV device is not ready!\n\nIf last flashing failed, use parameter '--retry'\n\n"));
    Rig lower(clock, faults([](auto& f) { f.updateModeReply = "ok"; }));
    EXPECT_EQ(lower.run({"--file", smallFile()}), 3);
    EXPECT_TRUE(clock.periods().empty());
}

TEST_F(ProtocolTest, CanEntryWithAndWithoutAddress)
{
    Rig rig(clock);
    EXPECT_EQ(rig.run({"--can", "63", "--file", smallFile()}), 0);
    EXPECT_TRUE(rig.says("Setting internal CAN module 63 to Update mode...\nBeginning update procedure... \n"));
    EXPECT_TRUE(rig.says("Setting HV device to internal CAN Flash mode...\n\n"));
    EXPECT_TRUE(rig.says("Starting Internal CAN Post Flash procedure...\nSetting Device back to normal mode...\n"));
    auto r = rig.record();
    EXPECT_EQ(r.canCommands, std::vector<std::string>{"63"});
    EXPECT_EQ(r.target, "CAN");
    EXPECT_EQ(r.postFlash, (std::vector<std::string>{"PST_CAN", "ENDFLSH"}));
    EXPECT_EQ(paused(), "5000 10 5000 100 100 100 500 1000 5000 3000");

    Rig noAddress(clock);
    EXPECT_EQ(noAddress.run({"--file", smallFile(), "--can"}), 0);
    EXPECT_TRUE(noAddress.says("Setting internal CAN to Update mode... \n"));
    EXPECT_EQ(noAddress.record().canCommands, std::vector<std::string>{""});
}

TEST_F(ProtocolTest, FpgaErasesSectorsTwoToSevenAndWinsOverCan)
{
    Rig rig(clock, {}, true);
    EXPECT_EQ(rig.run({"--fpga", "--retry", "--file", smallFile(), "--can", "1"}), 0) << rig.console.text;
    auto r = rig.record();
    EXPECT_EQ(r.target, "FPGA");
    EXPECT_EQ(r.erasedSectors, (std::vector<int>{2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(r.postFlash, std::vector<std::string>{"ENDFLSH"});
    EXPECT_TRUE(rig.says("Erasing FPGA Flash sectors... \nErasing sector 2\nErasing sector 3\n"));
    EXPECT_TRUE(rig.says("Setting Device back to normal mode...\n"));
    // A pause follows every read of an erase reply, the one that brings it too.
    EXPECT_EQ(paused(), "100 100 100 500 1x12 500 1000 3000");
}

TEST_F(ProtocolTest, RetryStartsAtTheBaudSwitch)
{
    Rig rig(clock, {}, true);
    EXPECT_EQ(rig.run({"--retry", "--file", smallFile()}), 0);
    EXPECT_EQ(rig.console.text.rfind("Switching port COM" + std::to_string(rig.com) + " to baudrate 115200 kBit/s\n", 0), 0u);
    EXPECT_EQ(rig.port.module().received().find("*HX2"), std::string::npos);

    Rig notInFlashMode(clock);
    EXPECT_EQ(notInFlashMode.run({"--retry", "--file", smallFile()}), 3);
}

TEST_F(ProtocolTest, TwoWrongLogOnsAreForgivenAThirdIsNot)
{
    Rig two(clock, faults([](auto& f) { f.wrongLogOns = 2; }));
    EXPECT_EQ(two.run({"--file", smallFile()}), 0);

    clock.clear();
    Rig three(clock, faults([](auto& f) { f.wrongLogOns = 3; }));
    EXPECT_EQ(three.run({"--file", smallFile()}), 3);
    EXPECT_FALSE(three.says("Got Log on message"));
    EXPECT_EQ(clock.periods(), (std::vector<int>{1, -1})); // released on the way out
}

TEST_F(ProtocolTest, SilentModuleAndWrongReadyTakeTheNotReadyExit)
{
    Rig silent(clock, faults([](auto& f) { f.silent = true; }));
    EXPECT_EQ(silent.run({"--file", smallFile()}), 3);
    // Bounded: the 60 s log-on limit in 100 ms polls.
    EXPECT_EQ(clock.sleepCount(100), 600u);

    Rig wrongReady(clock, faults([](auto& f) { f.readyMessage = "80\r\n"; }));
    EXPECT_EQ(wrongReady.run({"--file", smallFile()}), 3);
    EXPECT_TRUE(wrongReady.says("Waiting for HV device to become ready... \nError: HV device is not ready!"));
}

TEST_F(ProtocolTest, RepeatedLinesAreSentAgainAndCounted)
{
    Rig rig(clock, faults([](auto& f) {
        f.repeatLine = 3;
        f.repeatTimes = 4;
    }));
    auto fw = makeFirmware(dir.path(), 37, 16, 256);
    EXPECT_EQ(rig.run({"--file", fw.path}), 0);
    EXPECT_EQ(rig.boot->image(fw.base), fw.data);
    EXPECT_TRUE(rig.says("Repeating S19 Record...\nRepeating S19 Record...\nRepeating S19 Record...\n"
                         "Repeating S19 Record...\nS3"));
    EXPECT_TRUE(rig.says(" with 4 retries."));
    EXPECT_EQ(rig.record().hexLines, rig.record().acceptedLines + 4);
    EXPECT_EQ(paused(), "10 5000 100 100 100 500 100 100 100 100 1000 3000");
}

// One line is sent again at most 100 times, whatever the replies; a module that
// still wants it ends the run with the transfer failure, on the end record too.
TEST_F(ProtocolTest, ALineIsSentAgainAtMost100TimesThenTheTransferFails)
{
    Rig endless(clock, faults([](auto& f) {
        f.repeatLine = 2;
        f.repeatTimes = 1000000;
    }));
    EXPECT_EQ(endless.run({"--file", smallFile()}), 4);
    EXPECT_EQ(endless.record().hexLines, 1 + 101);
    EXPECT_EQ(endless.record().repeatsAsked, 101);
    EXPECT_EQ(occurrences(endless.console.text, "Repeating S19 Record...\n"), 100);
    EXPECT_TRUE(endless.says("Error: While transfering HEX file!\n\n92\r\n\n"));

    // "92" once, then "83" to every send: the repeat flag stays set, the sends count.
    Rig odd(clock, faults([](auto& f) { f.stuckLine = 2; }));
    EXPECT_EQ(odd.run({"--file", smallFile()}), 4);
    EXPECT_EQ(odd.record().hexLines, 1 + 101);
    EXPECT_EQ(occurrences(odd.console.text, "Repeating S19 Record...\n"), 1);
    EXPECT_TRUE(odd.says("Error: While transfering HEX file!\n\n83\r\n\n"));

    // The end record refused: no post-flash step, no success.
    auto fw = makeFirmware(dir.path(), 28, 16, 64); // S0, 4 data lines, S5, S804
    clock.clear();
    Rig end(clock, faults([](auto& f) {
        f.repeatLine = 7;
        f.repeatTimes = 1000000;
    }));
    EXPECT_EQ(end.run({"--file", fw.path}), 4);
    EXPECT_EQ(end.record().hexLines, 6 + 101);
    EXPECT_FALSE(end.says("Starting Post Flash procedure..."));
    EXPECT_TRUE(end.record().postFlash.empty());
    EXPECT_TRUE(end.says("S804001000EB\n"));
    EXPECT_TRUE(end.says("Error: While transfering HEX file!\n\n92\r\n\n"));
    EXPECT_EQ(clock.sleepCount(2000), 0u);
}

TEST_F(ProtocolTest, AnOddSecondReplyMovesOnToTheNextLine)
{
    Rig rig(clock, faults([](auto& f) { f.oddSecondReplyLine = 1; }));
    auto fw = makeFirmware(dir.path(), 28, 16, 256);
    EXPECT_EQ(rig.run({"--file", fw.path}), 0);
    EXPECT_EQ(rig.boot->image(fw.base), fw.data);
    EXPECT_FALSE(rig.says("Repeating"));
}

TEST_F(ProtocolTest, TransferFailuresShowTheLastReply)
{
    Rig wrongAck(clock, faults([](auto& f) { f.wrongFirstAckLine = 2; }));
    EXPECT_EQ(wrongAck.run({"--file", smallFile()}), 4);
    EXPECT_TRUE(wrongAck.says("Error: While transfering HEX file!\n\n80\r\n\n"));
    EXPECT_EQ(clock.periods(), (std::vector<int>{1, -1}));
    EXPECT_EQ(wrongAck.console.waits, 1);

    // Byte 30 of update mode lies in the first HEX line (after "BRNFLSH\r\n").
    Rig lostEcho(clock, faults([](auto& f) { f.loseEchoByte = 30; }));
    EXPECT_EQ(lostEcho.run({"--file", smallFile()}), 4);
    Rig lostEchoFast(clock, faults([](auto& f) { f.loseEchoByte = 30; }));
    EXPECT_EQ(lostEchoFast.run({"--fast", "--file", smallFile()}), 4);

    Rig noAck(clock, faults([](auto& f) { f.silentFromLine = 3; }));
    EXPECT_EQ(noAck.run({"--file", smallFile()}), 4);
    EXPECT_EQ(noAck.record().hexLines, 3);
}

// A HEX file on a stick pulled during the run: three lines and "S2" of the fourth,
// then a read error.
TEST_F(ProtocolTest, AHexFileThatCannotBeReadToItsEndFailsTheTransfer)
{
    std::string head = testsupport::readFile(smallFile());
    std::size_t end = 0;
    for (int line = 0; line < 3; ++line)
        end = head.find('\n', end) + 1;
    head.resize(end + 2);
    cookie_io_functions_t pulled{};
    pulled.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
        auto& rest = *static_cast<std::string*>(cookie);
        if (rest.empty()) {
            errno = EIO;
            return -1;
        }
        const std::size_t n = rest.copy(buf, size);
        rest.erase(0, n);
        return static_cast<ssize_t>(n);
    };
    Rig rig(clock, {}, true);
    FlasherOptions options;
    options.portName = "COM" + std::to_string(rig.com);
    options.retry = true;
    testsupport::ScopedFollow follow(clock, rig.port.module());
    EXPECT_EQ(runUpdate(::fopencookie(&head, "r", pulled), openPort(options.portName), options, rig.console), 4);
    EXPECT_EQ(rig.record().hexLines, 3);
    EXPECT_TRUE(rig.record().postFlash.empty());
    EXPECT_TRUE(rig.console.text.ends_with("Error: While transfering HEX file!\n\nThe HEX file could not be read.\n"))
        << rig.console.text;
}

TEST_F(ProtocolTest, AFailureOnTheEndRecordCountsAsDone)
{
    auto fw = makeFirmware(dir.path(), 28, 16, 64); // S0, 4 data lines, S5, S804
    Rig rig(clock, faults([](auto& f) { f.silentFromLine = 7; }));
    EXPECT_EQ(rig.run({"--file", fw.path}), 0);
    EXPECT_EQ(rig.boot->image(fw.base), fw.data);
    EXPECT_FALSE(rig.says("Transfer completed"));
    EXPECT_TRUE(rig.says("S804001000EB\nStarting Post Flash procedure...\n"));
    EXPECT_EQ(paused(), "10 5000 100 100 100 500 2000 3000");

    // The end record of another form gets no such grace.
    auto s37 = makeFirmware(dir.path(), 37, 16, 64);
    Rig other(clock, faults([](auto& f) { f.silentFromLine = 7; }));
    EXPECT_EQ(other.run({"--file", s37.path}), 4);
}

TEST_F(ProtocolTest, FpgaEraseAndCanSelectionFailures)
{
    Rig wrongErase(clock, faults([](auto& f) { f.eraseAck = "80"; }), true);
    EXPECT_EQ(wrongErase.run({"--retry", "--fpga", "--file", smallFile()}), 4);
    EXPECT_TRUE(wrongErase.says("Erasing sector 2\nError while waiting for acknowledge.Error: While transfering HEX file!\n"));

    // No acknowledgement at all: the limit runs out before the transfer, so not ready.
    Rig noErase(clock, faults([](auto& f) { f.eraseAck = ""; }), true);
    clock.clear();
    EXPECT_EQ(noErase.run({"--retry", "--fpga", "--file", smallFile()}), 3);
    EXPECT_EQ(clock.sleepCount(1), 30000u); // 30 s in 1 ms polls

    Rig wrongCan(clock, faults([](auto& f) { f.canAck = "80"; }), true);
    EXPECT_EQ(wrongCan.run({"--retry", "--file", smallFile(), "--can"}), 4);
}

TEST_F(ProtocolTest, MissingFileAndPortExits)
{
    Rig rig(clock);
    EXPECT_EQ(rig.run({"--file", dir.file("none.s19")}), 1);
    EXPECT_EQ(rig.console.text, "Error: could not open HEX-File!\n\n");
    EXPECT_EQ(rig.console.title, "Burnport: (" + dir.file("none.s19") + ")");
    EXPECT_EQ(rig.console.waits, 1);

    rig.console = {};
    EXPECT_EQ(rig.run({"--file", dir.path()}), 1); // a folder is no file

    CaptureConsole console;
    EXPECT_EQ(runBurnport({"--com", "77", "--file", smallFile()}, console), 2);
    EXPECT_EQ(console.text, "Error: could not set up and open com port!\n\nMaybe the port is already in use?\n\n");
    EXPECT_EQ(console.waits, 1);

    console = {};
    EXPECT_EQ(runBurnport({"--baud", "1", "-h"}, console), 6);
    EXPECT_EQ(console.text, "Invalid argument baudrate given!");
    EXPECT_EQ(console.waits, 0);
    console = {};
    EXPECT_EQ(runBurnport({"-h", "--baud", "1"}, console), 0);
    EXPECT_EQ(console.text.rfind("Serial Update Program for Kavo HV modules\nSyntax:\n", 0), 0u);
    EXPECT_EQ(console.waits, 0);
    EXPECT_TRUE(console.title.empty());
}

TEST_F(ProtocolTest, BadHexFilesEndCleanly)
{
    std::string empty = dir.file("empty.s19");
    testsupport::writeFile(empty, "");
    Rig rig(clock, {}, true);
    EXPECT_EQ(rig.run({"--retry", "--file", empty}), 0) << rig.console.text;
    EXPECT_TRUE(rig.says("Transfer completed in 0 seconds with 0 retries."));
    EXPECT_EQ(rig.record().hexLines, 0);

    // Old Mac line ends arrive line by line.
    auto fw = makeFirmware(dir.path(), 19, 16, 128);
    std::string text = testsupport::readFile(fw.path);
    for (char& c : text)
        c = c == '\n' ? '\r' : c;
    std::string crOnly = dir.file("cr.s19");
    testsupport::writeFile(crOnly, text);
    Rig mac(clock, {}, true);
    EXPECT_EQ(mac.run({"--retry", "--file", crOnly}), 0) << mac.console.text;
    EXPECT_EQ(mac.boot->image(fw.base), fw.data);
    const int lines = occurrences(text, "\r");

    // CR CR LF line ends: one line end each, no empty line sent between records.
    std::string twice;
    for (char c : text)
        twice += c == '\r' ? std::string("\r\r\n") : std::string(1, c);
    std::string crcrlf = dir.file("crcrlf.s19");
    testsupport::writeFile(crcrlf, twice);
    Rig converted(clock, {}, true);
    EXPECT_EQ(converted.run({"--retry", "--file", crcrlf}), 0);
    EXPECT_EQ(converted.boot->image(fw.base), fw.data);
    EXPECT_EQ(converted.record().hexLines, lines);
    EXPECT_EQ(converted.record().hexLines, mac.record().hexLines);

    // Binary data with NUL bytes and a 10,000-character line: its pieces are damaged
    // records, asked for again until the repeat limit ends the run.
    std::string binary(20000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 7919) % 251);
    binary.replace(100, 10000, "\nS1" + std::string(9997, 'F'));
    std::string bin = dir.file("bin.s19");
    testsupport::writeFile(bin, binary);
    Rig garbage(clock, {}, true);
    EXPECT_EQ(garbage.run({"--retry", "--file", bin}), 4);
    EXPECT_GT(garbage.record().damagedLines, 100);
}
