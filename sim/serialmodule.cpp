#include "serialmodule.h"

#include "platform/serialmap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
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
    for (std::size_t pos = 0; pos < out.size() && !module.stopping(); pos += size) {
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
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
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
    {
        std::lock_guard lock(settleMutex_);
        stopping_ = true;
    }
    settled_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    wakeFd_ = -1;
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
    // Paced bytes are 87 us apart at 115200 baud; the default timer slack would blur that.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL);
    while (!stopping_) {
        std::uint64_t asked = 0;
        {
            std::lock_guard lock(settleMutex_);
            asked = settleAsked_ > settleDone_ ? settleAsked_ : 0;
        }
        beginWork();
        adoptNext();
        personality_->onIdle(*this);
        writeDue();
        endWork();
        timespec wait{0, 10'000'000};
        if (asked) {
            wait = timespec{0, 0};
        } else if (!outbound_.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                outbound_.front().first - std::chrono::steady_clock::now());
            long ns = std::clamp<long>(static_cast<long>(left.count()), 0L, 10'000'000L);
            wait = timespec{0, ns};
        }
        pollfd p[2] = {{master_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int r = ::ppoll(p, wakeFd_ >= 0 ? 2 : 1, &wait, nullptr);
        if (r > 0 && (p[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
        if (r <= 0 || !(p[0].revents & POLLIN)) {
            // Nothing came in an iteration that began after the request: settled.
            if (asked && outbound_.empty()) {
                makeVisibleToProgram();
                {
                    std::lock_guard lock(settleMutex_);
                    settleDone_ = asked;
                }
                settled_.notify_all();
            }
            if (p[0].revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        beginWork();
        unsigned char buf[512];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            endWork();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            received_.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        }
        bool paced = faults().pacedBaud > 0;
        auto readAt = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < n && !stopping_; ++i) {
            if (paced) {
                // The byte left the program no later than this read; it arrives one
                // byte time after the one before it.
                rxFree_ = std::max(rxFree_, readAt) + byteTime();
                waitUntil(rxFree_);
            }
            deliver(buf[i]);
        }
        endWork();
    }
}

void SerialModule::beginWork()
{
    work_.fetch_add(1, std::memory_order_acq_rel);
}

void SerialModule::endWork()
{
    outboundPending_.store(!outbound_.empty(), std::memory_order_relaxed);
    waitsForTime_.store(personality_->waitsForTime(), std::memory_order_relaxed);
    work_.fetch_add(1, std::memory_order_acq_rel);
}

// The terminal hands bytes on to the other side in the background; a poll of the
// receiving side waits for that hand-over. So after this, the program's next look
// at its input queue sees everything the module sent.
void SerialModule::makeVisibleToProgram() const
{
    pollfd p{slaveKeep_, POLLIN, 0};
    if (slaveKeep_ >= 0)
        (void)::poll(&p, 1, 0);
}

// Idle now, with nothing of the program's unread: checked without the module's
// thread. The poll of the module's side waits for bytes still being handed over.
bool SerialModule::quiet() const
{
    const std::uint64_t before = work_.load(std::memory_order_acquire);
    if (before & 1 || outboundPending_.load(std::memory_order_relaxed) || switchPending_.load(std::memory_order_relaxed))
        return false;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) != 0 && (p.revents & POLLIN))
        return false;
    return work_.load(std::memory_order_acquire) == before;
}

void SerialModule::settle(bool timeMoved)
{
    if (!thread_.joinable() || stopping_)
        return;
    if (!(timeMoved && waitsForTime_.load(std::memory_order_relaxed)) && quiet()) {
        makeVisibleToProgram();
        return;
    }
    std::unique_lock lock(settleMutex_);
    const std::uint64_t ticket = ++settleAsked_;
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    // Bounded, so that a module thread that hangs fails the test instead of holding it.
    settled_.wait_for(lock, std::chrono::seconds(60), [&] { return settleDone_ >= ticket || stopping_; });
}

namespace {
// The module whose byte this thread is answering now: its sends are held. Other threads
// (a test sending on its own) write at once, and never touch the held bytes.
thread_local const SerialModule* answering = nullptr;
} // namespace

void SerialModule::deliver(std::uint8_t byte)
{
    answering = this;
    personality_->onByte(byte, *this);
    answering = nullptr;
    writeHeld();
    adoptNext();
}

void SerialModule::writeHeld()
{
    if (!held_.empty())
        writeNow(held_);
    held_.clear();
}

void SerialModule::adoptNext()
{
    std::lock_guard lock(mutex_);
    if (next_)
        personality_ = std::move(next_);
    switchPending_.store(false, std::memory_order_relaxed);
}

std::chrono::nanoseconds SerialModule::byteTime() const
{
    int baud = faults().pacedBaud;
    // 8N1: start bit, eight data bits, stop bit.
    return baud > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baud) : std::chrono::nanoseconds(0);
}

void SerialModule::writeDue()
{
    if (outbound_.empty())
        return;
    auto now = std::chrono::steady_clock::now();
    std::string due;
    while (!outbound_.empty() && outbound_.front().first <= now) {
        due.push_back(outbound_.front().second);
        outbound_.pop_front();
    }
    writeNow(due);
}

void SerialModule::waitUntil(TimePoint t)
{
    for (;;) {
        writeDue();
        auto now = std::chrono::steady_clock::now();
        if (now >= t || stopping_)
            return;
        TimePoint until = t;
        if (!outbound_.empty() && outbound_.front().first < until)
            until = outbound_.front().first;
        std::this_thread::sleep_until(until);
    }
}

void SerialModule::send(std::string_view bytes)
{
    SerialFaults f = faults();
    if (f.pacedBaud <= 0) {
        if (answering == this)
            held_.append(bytes);
        else
            writeNow(bytes);
        return;
    }
    auto now = std::chrono::steady_clock::now();
    auto latency = std::chrono::milliseconds(f.adapterLatencyMs);
    for (char c : bytes) {
        txFree_ = std::max(txFree_, now) + byteTime();
        outbound_.emplace_back(txFree_ + latency, c);
    }
    writeDue();
}

void SerialModule::writeNow(std::string_view bytes)
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
    if (answering == this)
        writeHeld();
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
    std::lock_guard lock(mutex_);
    next_ = std::move(next);
    switchPending_.store(true, std::memory_order_relaxed);
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

int SerialModule::lineSpeed() const
{
    termios t{};
    if (slaveKeep_ < 0 || ::tcgetattr(slaveKeep_, &t) != 0)
        return 0;
    switch (::cfgetospeed(&t)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

int SerialModule::pendingForProgram() const
{
    int n = 0;
    if (slaveKeep_ < 0 || ::ioctl(slaveKeep_, FIONREAD, &n) != 0)
        return -1;
    return n;
}

} // namespace sim
