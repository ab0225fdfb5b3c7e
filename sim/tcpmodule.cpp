#include "tcpmodule.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr int PollMs = 10;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

TcpModule::TcpModule(ModuleCommands& commands) : commands_(commands) {}

TcpModule::~TcpModule()
{
    stop();
}

bool TcpModule::start(std::uint16_t port)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return false;
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int pipeFds[2];
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        closeFd(listener_);
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    port_ = ntohs(a.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void TcpModule::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    released_.notify_all();
    if (wakeWrite_ >= 0) {
        char b = 0;
        (void)!::write(wakeWrite_, &b, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (Client& c : clients_)
        closeFd(c.fd);
    clients_.clear();
    closeFd(listener_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

void TcpModule::run()
{
    while (!stopping_) {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        for (const Client& c : clients_)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), PollMs) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            acceptClient();
        // Clients accepted just now are polled next round.
        std::vector<Client> kept;
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            Client& c = clients_[i];
            const short ev = i + 2 < fds.size() ? fds[i + 2].revents : 0;
            if (ev == 0 || stopping_ || serve(c)) {
                kept.push_back(std::move(c));
                continue;
            }
            closeFd(c.fd);
            std::lock_guard lock(mutex_);
            --open_;
        }
        clients_ = std::move(kept);
    }
}

void TcpModule::acceptClient()
{
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    clients_.push_back(Client{fd, {}});
    std::lock_guard lock(mutex_);
    ++connections_;
    ++open_;
}

bool TcpModule::serve(Client& c)
{
    char buf[4096];
    ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return false; // the program closed its end
    {
        std::lock_guard lock(mutex_);
        received_.append(buf, static_cast<std::size_t>(n));
    }
    for (ssize_t i = 0; i < n; ++i) {
        c.line.push_back(buf[i]);
        if (buf[i] != '\n')
            continue;
        std::string line = std::move(c.line);
        c.line.clear();
        if (line.size() < 2 || line[line.size() - 2] != '\r')
            continue; // only CR LF ends a command line
        line.resize(line.size() - 2);
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        }
        if (!answerLine(c, line))
            return false;
    }
    return true;
}

bool TcpModule::answerLine(Client& c, const std::string& line)
{
    const TcpFaults f = faults();
    std::optional<std::string> answer = commands_.answer(line);
    if (f.noAnswer || (!answer && f.rawReply.empty() && !f.bareLineEnd))
        return true;
    std::string out;
    if (!f.rawReply.empty())
        out = f.rawReply;
    else if (f.bareLineEnd)
        out = "\r\n";
    else if (f.nulEnd)
        out = *answer + std::string(1, '\0');
    else
        out = *answer + "\r\n";

    const bool closing = f.closeAfterBytes >= 0 && static_cast<std::size_t>(f.closeAfterBytes) < out.size();
    if (closing)
        out.resize(static_cast<std::size_t>(f.closeAfterBytes));
    std::vector<std::string> blocks{out};
    if (f.splitLineEnd && !closing && out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0)
        blocks = {out.substr(0, out.size() - 1), "\n"};

    bool ok = true;
    for (std::size_t i = 0; i < blocks.size() && ok; ++i) {
        if (i > 0) {
            if (f.holdSecondBlock)
                waitForRelease();
            if (f.blockGapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(f.blockGapMs));
        }
        ok = !stopping_ && sendAll(c.fd, blocks[i]);
    }
    {
        std::lock_guard lock(mutex_);
        ++answers_;
    }
    return ok && !closing;
}

bool TcpModule::sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (stopping_)
            return false;
        ssize_t w = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (w >= 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, PollMs);
    }
    return true;
}

void TcpModule::waitForRelease()
{
    std::unique_lock lock(mutex_);
    holding_ = true;
    released_.wait(lock, [this] { return releases_ > 0 || stopping_; });
    if (releases_ > 0)
        --releases_;
    holding_ = false;
}

void TcpModule::releaseBlock()
{
    {
        std::lock_guard lock(mutex_);
        ++releases_;
    }
    released_.notify_all();
}

void TcpModule::setFaults(const TcpFaults& f)
{
    std::lock_guard lock(mutex_);
    faults_ = f;
}

TcpFaults TcpModule::faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

std::string TcpModule::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> TcpModule::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

int TcpModule::connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

int TcpModule::openConnections() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

int TcpModule::answersSent() const
{
    std::lock_guard lock(mutex_);
    return answers_;
}

bool TcpModule::holding() const
{
    std::lock_guard lock(mutex_);
    return holding_;
}

void TcpModule::clearRecord()
{
    std::lock_guard lock(mutex_);
    received_.clear();
    lines_.clear();
}

} // namespace sim
