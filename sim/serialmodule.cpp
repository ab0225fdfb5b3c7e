#include "serialmodule.h"

#include "platform/serialmap.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

void CommandPersonality::onByte(std::uint8_t byte, SerialModule& module)
{
    SerialFaults f = module.faults();
    ++linePos_;
    if (!f.noEcho) {
        char echo = static_cast<char>(byte);
        if (f.wrongEchoAt == linePos_)
            echo = static_cast<char>(byte ^ 0x01);
        module.send(std::string_view(&echo, 1));
    }
    if (byte != '\n') {
        line_.push_back(static_cast<char>(byte));
        return;
    }
    linePos_ = 0;
    std::string line = std::move(line_);
    line_.clear();
    if (line.empty() || line.back() != '\r')
        return; // only CR LF ends a command line
    line.pop_back();
    module.recordLine(line);
    answerLine(line, module);
}

void CommandPersonality::answerLine(const std::string& line, SerialModule& module)
{
    SerialFaults f = module.faults();
    std::optional<std::string> answer = commands_.answer(line);
    if (f.noAnswer)
        return;
    std::string out;
    if (f.useRawReply) {
        out = f.rawReply;
    } else {
        if (!answer)
            return;
        out = *answer + (f.noLineEnd ? "" : "\r\n");
    }
    out = f.prefix + out;
    int pieces = f.answerPieces < 1 ? 1 : f.answerPieces;
    std::size_t size = (out.size() + pieces - 1) / pieces;
    for (std::size_t pos = 0; pos < out.size(); pos += size) {
        if (pos > 0)
            module.pauseMs(f.pieceGapMs);
        module.send(std::string_view(out).substr(pos, size));
    }
}

SerialModule::SerialModule(ModuleCommands& commands)
    : commands_(commands), personality_(std::make_unique<CommandPersonality>(commands))
{
}

SerialModule::~SerialModule()
{
    stop();
}

bool SerialModule::start()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return false;
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        master_ = -1;
        return false;
    }
    slavePath_ = name;
    slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeep_ >= 0) {
        termios t{};
        ::tcgetattr(slaveKeep_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slaveKeep_, TCSANOW, &t);
    }
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool SerialModule::registerAs(const std::string& mapFile, const std::string& comName)
{
    mapFile_ = mapFile;
    return platform::appendSerialMapEntry(mapFile, {slavePath_, comName});
}

void SerialModule::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (!mapFile_.empty()) {
        platform::removeSerialMapEntries(mapFile_, slavePath_);
        mapFile_.clear();
    }
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    if (master_ >= 0)
        ::close(master_);
    slaveKeep_ = master_ = -1;
}

void SerialModule::run()
{
    while (!stopping_) {
        pollfd p{master_, POLLIN, 0};
        int r = ::poll(&p, 1, 10);
        if (r <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        unsigned char buf[512];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            received_.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        }
        for (ssize_t i = 0; i < n && !stopping_; ++i) {
            personality_->onByte(buf[i], *this);
            if (next_)
                personality_ = std::move(next_);
        }
    }
}

void SerialModule::send(std::string_view bytes)
{
    while (!bytes.empty() && !stopping_) {
        ssize_t w = ::write(master_, bytes.data(), bytes.size());
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(w));
    }
}

void SerialModule::pauseMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SerialModule::recordLine(const std::string& line)
{
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
}

void SerialModule::switchTo(std::unique_ptr<Personality> next)
{
    next_ = std::move(next);
}

void SerialModule::setFaults(const SerialFaults& f)
{
    std::lock_guard lock(mutex_);
    faults_ = f;
}

SerialFaults SerialModule::faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

std::string SerialModule::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> SerialModule::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

void SerialModule::clearRecord()
{
    std::lock_guard lock(mutex_);
    received_.clear();
    lines_.clear();
}

int SerialModule::pendingForProgram() const
{
    int n = 0;
    if (slaveKeep_ < 0 || ::ioctl(slaveKeep_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

} // namespace sim
