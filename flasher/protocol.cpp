#include "protocol.h"

#include "hexreader.h"
#include "platform/clock.h"

#include <string>
#include <string_view>

namespace burnport {
namespace {

constexpr std::string_view LogOnMessage = "99\r\n";
constexpr std::string_view ReadyMessage = "81\r\n";
constexpr std::string_view LineReceived = "82\r\n";
constexpr std::string_view LineRepeat = "92\r\n";
constexpr std::string_view LineTaken = "85\r\n";
constexpr std::string_view EndRecordStart = "S804";

enum class Target { Fpga, Can, Plain };

class UpdateRun {
public:
    UpdateRun(std::FILE* hex, Handle port, FlasherOptions& o, Console& c)
        : hex_(hex), reader_(hex), port_(port), opt_(o), con_(c)
    {
    }

    int run()
    {
        if (!opt_.retry) {
            if (int code = enterUpdateMode(); code >= 0)
                return code;
        }
        switchBaudRate();
        if (!awaitLogOn() || !awaitReady())
            return notReady();
        start_ = platform::timeGetTime();
        platform::Sleep(AfterStartPauseMs);
        if (int code = selectTarget(); code >= 0)
            return code;
        return transfer();
    }

private:
    Target target() const { return opt_.fpga ? Target::Fpga : opt_.can ? Target::Can : Target::Plain; }

    // -1: go on; otherwise the exit code.
    int enterUpdateMode()
    {
        setBaudRate(port_, 9600);
        if (opt_.can) {
            std::string command = "*HX2CN!\r\n";
            if (opt_.canAddress >= 0 && opt_.canAddress <= CanAddressMax) {
                command = format("*HX2CN! %d\r\n", opt_.canAddress);
                con_.print(format("Setting internal CAN module %d to Update mode...\n", opt_.canAddress));
            } else {
                con_.writeLine("Setting internal CAN to Update mode... ");
            }
            if (!sendEchoed(port_, command))
                return notReady();
            platform::Sleep(CanCommandPauseMs);
        }
        con_.writeLine("Beginning update procedure... ");
        if (!sendEchoed(port_, "*HX2FL!\r\n"))
            return notReady();

        std::string reply;
        for (int pass = 0; pass < UpdateReplyPasses && reply.find("\r\n") == std::string::npos; ++pass) {
            std::uint32_t got = 0;
            (void)readAvailable(port_, got, ReplyBufferSize, buffer_);
            // The reply holds 49 characters; the rest of a longer one is dropped.
            reply.append(buffer_, std::min<std::size_t>(got, UpdateReplyLimit - reply.size()));
            platform::Sleep(UpdateReplyPollMs);
        }
        if (auto end = reply.find("\r\n"); end != std::string::npos)
            reply.resize(end);
        if (reply == "ERR SFLP")
            return safetyLoop();
        if (reply.compare(0, 2, "OK") != 0)
            return notReady();
        if (reply == "OK 115200")
            opt_.baudRate = 115200;
        con_.writeLine("HV device is now in Update regime, waiting for reboot...");
        platform::Sleep(RebootPauseMs);
        return -1;
    }

    void switchBaudRate()
    {
        flushInput(port_);
        con_.print(format("Switching port %s to baudrate %d kBit/s\n", opt_.portName.c_str(), opt_.baudRate));
        setBaudRate(port_, opt_.baudRate);
        platform::clock().beginPeriod(TimerResolutionMs);
        periodRequested_ = true;
    }

    bool awaitLogOn()
    {
        con_.writeLine("Waiting for Log on message...");
        int failures = 0;
        std::uint32_t since = platform::timeGetTime();
        for (;;) {
            platform::Sleep(MessagePollMs);
            std::uint32_t got = 0;
            if (!readExact(port_, ReplyLength, got, ReplyBufferSize, buffer_))
                return false;
            if (got < ReplyLength) {
                if (platform::timeGetTime() - since >= LogOnTimeoutMs)
                    return false;
                continue;
            }
            lastReply_.assign(buffer_, ReplyLength);
            if (lastReply_ == LogOnMessage)
                break;
            flushInput(port_);
            if (++failures >= LogOnFailureLimit)
                return false;
        }
        con_.writeLine("Got Log on message");
        writeBytes(port_, 1, "\n");
        return true;
    }

    bool awaitReady()
    {
        con_.writeLine("Waiting for HV device to become ready... ");
        std::uint32_t since = platform::timeGetTime();
        for (;;) {
            platform::Sleep(MessagePollMs);
            std::uint32_t got = 0;
            if (!readExact(port_, ReplyLength, got, ReplyBufferSize, buffer_))
                return false;
            if (got == ReplyLength)
                break;
            if (platform::timeGetTime() - since >= ReadyTimeoutMs)
                return false;
        }
        lastReply_.assign(buffer_, ReplyLength);
        return lastReply_ == ReadyMessage;
    }

    // Reads one four-byte reply, pausing between polls; false when the port is gone
    // or the limit runs out.
    bool awaitReply(std::uint32_t pauseMs, std::uint32_t limitMs)
    {
        std::uint32_t since = platform::timeGetTime();
        for (;;) {
            std::uint32_t got = 0;
            if (!readExact(port_, ReplyLength, got, ReplyBufferSize, buffer_))
                return false;
            platform::Sleep(pauseMs); // after every read, the one that brings the reply too
            if (got == ReplyLength) {
                lastReply_.assign(buffer_, ReplyLength);
                return true;
            }
            if (platform::timeGetTime() - since >= limitMs)
                return false;
        }
    }

    enum class Ack { Received, Wrong, Missing };

    // A target command's acknowledgement: "82" and one more reply that is not looked at.
    Ack awaitAcknowledge(std::uint32_t pauseMs, std::uint32_t limitMs)
    {
        if (!awaitReply(pauseMs, limitMs))
            return Ack::Missing;
        if (lastReply_ != LineReceived)
            return Ack::Wrong;
        return awaitReply(pauseMs, limitMs) ? Ack::Received : Ack::Missing;
    }

    int selectTarget()
    {
        switch (target()) {
        case Target::Fpga:
            con_.writeLine("Setting HV device to Flash FPGA mode... ");
            if (!sendEchoed(port_, "BRNFPGA\r\n"))
                return notReady();
            platform::Sleep(FpgaModePauseMs);
            con_.writeLine("Erasing FPGA Flash sectors... ");
            for (int sector = FirstFpgaSector; sector <= LastFpgaSector; ++sector) {
                con_.print(format("Erasing sector %d\n", sector));
                if (!sendEchoed(port_, format("ERAFPGA%d\r\n", sector))) {
                    con_.print(format("Error erasing Sector %d\n", sector));
                    return transferFailed();
                }
                switch (awaitAcknowledge(EraseAckPollMs, EraseAckTimeoutMs)) {
                case Ack::Missing: return notReady();
                case Ack::Wrong:
                    con_.print("Error while waiting for acknowledge.");
                    return transferFailed();
                case Ack::Received: break;
                }
            }
            return -1;
        case Target::Can:
            con_.writeLine("Setting HV device to internal CAN Flash mode...\n");
            if (!sendEchoed(port_, "BRN_CAN\r\n"))
                return transferFailed();
            switch (awaitAcknowledge(AckPollMs, CanAckTimeoutMs)) {
            case Ack::Missing: return notReady();
            case Ack::Wrong: return transferFailed();
            case Ack::Received: return -1;
            }
            return -1;
        case Target::Plain:
            con_.writeLine("Setting HV device to Flash mode... ");
            if (!sendEchoed(port_, "BRNFLSH\r\n"))
                return notReady();
            return -1;
        }
        return -1;
    }

    int transfer()
    {
        platform::Sleep(BeforeTransferPauseMs);
        con_.writeLine("Starting transfer of HEX file...\n");
        int retries = 0;
        while (reader_.next(line_)) {
            con_.writeLine(line_);
            const std::string record = line_ + "\r\n";
            bool repeat = false;
            // Sends of this line after the first, whatever the module answered: a
            // module that asked once and then gives odd replies keeps the flag set.
            int sentAgain = 0;
            for (;;) {
                if (!sendRecord(port_, record))
                    return transferFailed();
                if (!awaitReply(AckPollMs, LineAckTimeoutMs) || lastReply_ != LineReceived)
                    return transferFailed();
                if (!awaitReply(AckPollMs, LineAckTimeoutMs))
                    return transferFailed();
                if (lastReply_ == LineTaken)
                    repeat = false;
                else if (lastReply_ == LineRepeat)
                    repeat = true;
                if (!repeat)
                    break;
                // The module never took this line; for the end record too, so the
                // end-record grace does not apply.
                if (sentAgain == LineRepeatLimit)
                    return transferFailedExit(lastReply_);
                ++sentAgain;
                if (lastReply_ == LineRepeat) {
                    con_.writeLine("Repeating S19 Record...");
                    ++retries;
                    platform::Sleep(RepeatPauseMs);
                }
            }
        }
        // The reads end on a read error too (a stick pulled mid-run); only the end of
        // the file means the whole firmware went out.
        if (reader_.failed())
            return transferFailedExit("The HEX file could not be read.");
        std::uint32_t seconds = (platform::timeGetTime() - start_) / 1000;
        con_.writeLine(format("Transfer completed in %u seconds with %d retries.", seconds, retries));
        closeHex();
        platform::Sleep(AfterStatisticsPauseMs);
        return postFlash();
    }

    int postFlash()
    {
        switch (target()) {
        case Target::Fpga:
            con_.writeLine("Setting Device back to normal mode...");
            if (!sendEchoed(port_, "ENDFLSH\r\n"))
                return notReady();
            platform::Sleep(PostFlashPauseMs);
            break;
        case Target::Can:
            con_.writeLine("Starting Internal CAN Post Flash procedure...");
            if (!sendEchoed(port_, "PST_CAN\r\n"))
                return notReady();
            platform::Sleep(PostCanPauseMs);
            con_.writeLine("Setting Device back to normal mode...");
            if (!sendEchoed(port_, "ENDFLSH\r\n"))
                return notReady();
            platform::Sleep(PostFlashPauseMs);
            break;
        case Target::Plain:
            con_.writeLine("Starting Post Flash procedure...");
            if (!sendEchoed(port_, "PSTFLSH\r\n"))
                return notReady();
            platform::Sleep(PostFlashPauseMs);
            break;
        }
        con_.writeLine("The device reboots when the Postflash is finished...");
        closePort();
        con_.print(format("MinCount = %d", MinCount));
        con_.writeLine("\nPress Enter to exit the program.");
        con_.waitForEnter();
        releasePeriod();
        return ExitDone;
    }

    // A failure while the end record is on the line means the module has all it needs.
    int transferFailed()
    {
        if (line_.compare(0, EndRecordStart.size(), EndRecordStart) == 0) {
            platform::Sleep(EndRecordPauseMs);
            closeHex();
            return postFlash();
        }
        return transferFailedExit(lastReply_);
    }

    // detail: the last reply, or why the transfer could not go on.
    int transferFailedExit(const std::string& detail)
    {
        closeHex();
        closePort();
        con_.writeLine("Error: While transfering HEX file!\n");
        con_.writeLine(detail);
        con_.waitForEnter();
        releasePeriod();
        return ExitTransferFailed;
    }

    int notReady()
    {
        closeHex();
        closePort();
        con_.writeLine("Error: HV device is not ready!\n");
        con_.writeLine("If last flashing failed, use parameter '--retry'\n");
        con_.waitForEnter();
        releasePeriod();
        return ExitNotReady;
    }

    int safetyLoop()
    {
        closeHex();
        closePort();
        con_.writeLine("Error: HV device safety loop is closed!\n");
        con_.writeLine("Please open safety loop and try again.\n");
        con_.waitForEnter();
        return ExitSafetyLoop;
    }

    void closeHex()
    {
        if (hex_) {
            std::fclose(hex_);
            hex_ = nullptr;
            reader_ = HexLineReader(nullptr);
        }
    }

    void closePort()
    {
        if (port_ != InvalidHandle) {
            platform::serial::closePort(port_);
            port_ = InvalidHandle;
        }
    }

    void releasePeriod()
    {
        if (periodRequested_) {
            platform::clock().endPeriod(TimerResolutionMs);
            periodRequested_ = false;
        }
    }

    std::FILE* hex_;
    HexLineReader reader_;
    Handle port_;
    FlasherOptions& opt_;
    Console& con_;
    char buffer_[ReplyBufferSize] = {};
    std::string lastReply_;
    std::string line_;
    std::uint32_t start_ = 0;
    bool periodRequested_ = false;
};

} // namespace

int runUpdate(std::FILE* hexFile, Handle port, FlasherOptions& options, Console& console)
{
    return UpdateRun(hexFile, port, options, console).run();
}

} // namespace burnport
