#pragma once
// The module's update mode: what the flasher talks to. "*HX2FL!" in the command
// table switches a SerialModule to it. The module then reboots, logs on with "99",
// answers "81" to the flasher's LF, takes the target and erase commands, and checks
// and stores every S-record line ("82", then "85" taken or "92" send again).
#include "serialmodule.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Faults of the update mode; all off by default.
struct BootloaderFaults {
    std::string updateModeReply = "OK"; // answer to "*HX2FL!": "OK", "OK 115200", "ERR SFLP", ...
    bool noUpdateModeReply = false;     // the command is echoed, nothing follows
    bool silent = false;                // update mode entered, then not a byte more
    int wrongLogOns = 0;                // this many "98" before the "99"
    int logOnRepeatMs = 1000;           // the log-on message comes again until the LF
    std::string readyMessage = "81\r\n";
    std::string eraseAck = "82";        // first reply to each erase; empty: none at all
    std::string canAck = "82";          // first reply to "BRN_CAN"; empty: none at all
    int repeatLine = 0;                 // the n-th HEX line (1-based) gets "92" ...
    int repeatTimes = 0;                // ... this many times
    int wrongFirstAckLine = 0;          // the n-th HEX line gets "80" in place of "82"
    int oddSecondReplyLine = 0;         // the n-th HEX line gets "83" in place of "85"
    int stuckLine = 0;                  // the n-th HEX line gets "92" once, then "83" for
                                        // every send, and is never taken
    int silentFromLine = 0;             // from the n-th HEX line on: echo, no replies
    int loseEchoByte = 0;               // the m-th byte of update mode is not echoed
};

// What the module saw in update mode.
struct FlashRecord {
    std::vector<std::string> canCommands;   // "*HX2CN!" lines, as received
    std::string target;                     // "FPGA", "CAN", "PLAIN" or empty
    std::vector<int> erasedSectors;
    std::vector<std::string> postFlash;     // post-flash commands in order
    int logOnsSent = 0;
    int hexLines = 0;                       // HEX lines received, repeats included
    int acceptedLines = 0;
    int damagedLines = 0;                   // S-records that failed the check
    int repeatsAsked = 0;                   // "92" answers, for any reason
    bool endRecordSeen = false;
    std::map<std::uint32_t, std::uint8_t> image; // data bytes by address
    std::chrono::steady_clock::time_point firstLine{}, lastLine{};
};

class Bootloader {
public:
    void setFaults(const BootloaderFaults& f);
    BootloaderFaults faults() const;
    FlashRecord record() const;
    // The stored bytes from `base` on, as long as they run without a gap.
    std::vector<std::uint8_t> image(std::uint32_t base) const;

    // For the personality and the command handlers.
    template <class F>
    void update(F&& f)
    {
        std::lock_guard lock(mutex_);
        f(record_);
    }

private:
    mutable std::mutex mutex_;
    BootloaderFaults faults_;
    FlashRecord record_;
};

// Adds the update-mode commands to the module's command table; "*HX2FL!" switches
// the module to update mode.
void attachBootloader(SerialModule& module, std::shared_ptr<Bootloader> bootloader);
// The module is in update mode already (a run that broke off): it waits to log on.
void startInFlashMode(SerialModule& module, std::shared_ptr<Bootloader> bootloader);

// An S-record line checked: type digit, hex pairs, byte count and checksum.
struct SRecord {
    int type = -1;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
};
std::optional<SRecord> parseSRecord(std::string_view line);

} // namespace sim
