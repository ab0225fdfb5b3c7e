#include "bootloader.h"

#include "platform/clock.h"

#include <cctype>

namespace sim {
namespace {

constexpr std::string_view LogOn = "99\r\n";
constexpr std::string_view WrongLogOn = "98\r\n";
constexpr std::string_view Received = "82\r\n";
constexpr std::string_view WrongReceived = "80\r\n";
constexpr std::string_view Taken = "85\r\n";
constexpr std::string_view OddTaken = "83\r\n";
constexpr std::string_view SendAgain = "92\r\n";
constexpr int FirstSector = 2;
constexpr int LastSector = 7;

using Clock = std::chrono::steady_clock;

bool isWorkingSpeed(int baud)
{
    return baud == 57600 || baud == 115200;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class BootloaderPersonality final : public Personality {
public:
    BootloaderPersonality(ModuleCommands& commands, std::shared_ptr<Bootloader> boot, int speedAtStart)
        : commands_(commands), boot_(std::move(boot)), lastSpeed_(speedAtStart),
          nextLogOn_(platform::timeGetTime() + static_cast<std::uint32_t>(boot_->faults().logOnRepeatMs))
    {
    }

    bool waitsForTime() const override { return !loggedOn_; }

    void onIdle(SerialModule& module) override
    {
        if (loggedOn_)
            return;
        BootloaderFaults f = boot_->faults();
        if (f.silent)
            return;
        // The module reboots into update mode at the working speed: it logs on once
        // the program's side runs at that speed, and again now and then. The time is
        // the program's clock, so that a test clock paces the repeats as it paces the
        // program's waits.
        int speed = module.lineSpeed();
        const std::uint32_t now = platform::timeGetTime();
        if (speed != lastSpeed_) {
            lastSpeed_ = speed;
            if (isWorkingSpeed(speed))
                nextLogOn_ = now;
        }
        // Nobody listens at another speed.
        if (!isWorkingSpeed(speed) || static_cast<std::int32_t>(now - nextLogOn_) < 0)
            return;
        nextLogOn_ = now + static_cast<std::uint32_t>(f.logOnRepeatMs);
        bool wrong = wrongSent_ < f.wrongLogOns;
        wrongSent_ += wrong ? 1 : 0;
        module.send(wrong ? WrongLogOn : LogOn);
        boot_->update([](FlashRecord& r) { ++r.logOnsSent; });
    }

    void onByte(std::uint8_t byte, SerialModule& module) override
    {
        BootloaderFaults f = boot_->faults();
        if (f.silent)
            return;
        if (!loggedOn_) {
            if (byte == '\n') {
                loggedOn_ = true;
                module.send(f.readyMessage);
            }
            return;
        }
        ++bytes_;
        bool echo = bytes_ != f.loseEchoByte;
        if (byte != '\n') {
            if (echo) {
                char c = static_cast<char>(byte);
                module.send(std::string_view(&c, 1));
            }
            line_.push_back(static_cast<char>(byte));
            return;
        }
        std::string line = std::move(line_);
        line_.clear();
        // The echo of the LF and the replies go out together.
        std::string out = echo ? "\n" : "";
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            module.recordLine(line);
            out += answer(line, f, module);
        }
        module.send(out);
    }

private:
    std::string answer(const std::string& line, const BootloaderFaults& f, SerialModule& module)
    {
        bool record = line.size() >= 2 && line[0] == 'S' && std::isdigit(static_cast<unsigned char>(line[1]));
        if (!record) {
            std::optional<std::string> a = commands_.answer(line);
            if (!a || *a != UnknownCommandAnswer) {
                std::string upperLine = upper(line);
                if (upperLine == "ENDFLSH" || upperLine == "PSTFLSH") // the module reboots to normal
                    module.switchTo(std::make_unique<CommandPersonality>(commands_));
                return a ? *a + "\r\n" : std::string();
            }
        }
        return hexLine(line, f);
    }

    std::string hexLine(const std::string& line, const BootloaderFaults& f)
    {
        int n = lineIndex_;
        std::optional<SRecord> rec = parseSRecord(line);
        bool damaged = !rec && line.size() >= 1 && line[0] == 'S';
        bool stuck = n == f.stuckLine;
        bool repeat = n == f.repeatLine && repeatsGiven_ < f.repeatTimes;
        bool again = damaged || repeat || (stuck && !stuckAsked_);
        if (!damaged && repeat)
            ++repeatsGiven_;
        if (stuck)
            stuckAsked_ = true;
        bool silentNow = f.silentFromLine > 0 && n >= f.silentFromLine;
        bool take = !again && !silentNow && !stuck;
        boot_->update([&](FlashRecord& r) {
            auto now = Clock::now();
            if (r.hexLines == 0)
                r.firstLine = now;
            r.lastLine = now;
            ++r.hexLines;
            r.damagedLines += damaged ? 1 : 0;
            r.repeatsAsked += again && !silentNow ? 1 : 0;
            if (!take)
                return;
            ++r.acceptedLines;
            if (rec && rec->type >= 1 && rec->type <= 3) {
                for (std::size_t i = 0; i < rec->data.size(); ++i)
                    r.image[rec->address + static_cast<std::uint32_t>(i)] = rec->data[i];
            }
            if (rec && rec->type >= 7)
                r.endRecordSeen = true;
        });
        if (silentNow)
            return {};
        std::string out(n == f.wrongFirstAckLine ? WrongReceived : Received);
        if (again) {
            out += SendAgain;
            return out;
        }
        if (stuck)
            return out + std::string(OddTaken); // the same line is wanted again
        out += n == f.oddSecondReplyLine ? OddTaken : Taken;
        ++lineIndex_;
        return out;
    }

    ModuleCommands& commands_;
    std::shared_ptr<Bootloader> boot_;
    int lastSpeed_;
    std::uint32_t nextLogOn_;
    int wrongSent_ = 0;
    bool loggedOn_ = false;
    int bytes_ = 0;
    std::string line_;
    int lineIndex_ = 1;
    int repeatsGiven_ = 0;
    bool stuckAsked_ = false;
};

std::unique_ptr<Personality> updateMode(SerialModule& module, std::shared_ptr<Bootloader> boot)
{
    return std::make_unique<BootloaderPersonality>(module.commands(), std::move(boot), module.lineSpeed());
}

} // namespace

void Bootloader::setFaults(const BootloaderFaults& f)
{
    std::lock_guard lock(mutex_);
    faults_ = f;
}

BootloaderFaults Bootloader::faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

FlashRecord Bootloader::record() const
{
    std::lock_guard lock(mutex_);
    return record_;
}

std::vector<std::uint8_t> Bootloader::image(std::uint32_t base) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> out;
    for (auto it = record_.image.find(base); it != record_.image.end() && it->first == base + out.size(); ++it)
        out.push_back(it->second);
    return out;
}

std::optional<SRecord> parseSRecord(std::string_view line)
{
    if (line.size() < 4 || line[0] != 'S' || !std::isdigit(static_cast<unsigned char>(line[1])) || line.size() % 2)
        return std::nullopt;
    SRecord rec;
    rec.type = line[1] - '0';
    if (rec.type == 4)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        int hi = hexValue(line[i]), lo = hexValue(line[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    if (bytes[0] != bytes.size() - 1)
        return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        sum += bytes[i];
    if (static_cast<std::uint8_t>(~sum) != bytes.back())
        return std::nullopt;
    static constexpr int addressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    std::size_t a = static_cast<std::size_t>(addressBytes[rec.type]);
    if (bytes.size() < 2 + a)
        return std::nullopt;
    for (std::size_t i = 0; i < a; ++i)
        rec.address = rec.address << 8 | bytes[1 + i];
    rec.data.assign(bytes.begin() + 1 + static_cast<long>(a), bytes.end() - 1);
    return rec;
}

void attachBootloader(SerialModule& module, std::shared_ptr<Bootloader> boot)
{
    ModuleCommands& c = module.commands();
    SerialModule* m = &module;
    c.define("*HX2FL!", [m, boot](std::string_view, ModuleCommands&) -> std::optional<std::string> {
        BootloaderFaults f = boot->faults();
        if (f.noUpdateModeReply)
            return std::nullopt;
        if (f.updateModeReply.compare(0, 2, "OK") == 0)
            m->switchTo(updateMode(*m, boot));
        return f.updateModeReply;
    });
    c.define("*HX2CN!", [boot](std::string_view args, ModuleCommands&) -> std::optional<std::string> {
        boot->update([&](FlashRecord& r) { r.canCommands.push_back(std::string(args)); });
        return std::nullopt;
    });
    auto target = [boot](const char* name) {
        return [boot, name](std::string_view, ModuleCommands&) -> std::optional<std::string> {
            boot->update([&](FlashRecord& r) { r.target = name; });
            return std::nullopt;
        };
    };
    c.define("BRNFPGA", target("FPGA"));
    c.define("BRNFLSH", target("PLAIN"));
    c.define("BRN_CAN", [boot](std::string_view, ModuleCommands&) -> std::optional<std::string> {
        boot->update([&](FlashRecord& r) { r.target = "CAN"; });
        std::string ack = boot->faults().canAck;
        if (ack.empty())
            return std::nullopt;
        return ack + "\r\n85";
    });
    for (int sector = FirstSector; sector <= LastSector; ++sector) {
        c.define("ERAFPGA" + std::to_string(sector),
                 [boot, sector](std::string_view, ModuleCommands&) -> std::optional<std::string> {
                     boot->update([&](FlashRecord& r) { r.erasedSectors.push_back(sector); });
                     std::string ack = boot->faults().eraseAck;
                     if (ack.empty())
                         return std::nullopt;
                     return ack + "\r\n85";
                 });
    }
    for (const char* post : {"ENDFLSH", "PST_CAN", "PSTFLSH"}) {
        c.define(post, [boot, post](std::string_view, ModuleCommands&) -> std::optional<std::string> {
            boot->update([&](FlashRecord& r) { r.postFlash.push_back(post); });
            return std::nullopt;
        });
    }
}

void startInFlashMode(SerialModule& module, std::shared_ptr<Bootloader> boot)
{
    attachBootloader(module, boot);
    module.switchTo(updateMode(module, boot));
}

} // namespace sim
