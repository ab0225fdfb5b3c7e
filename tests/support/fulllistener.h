#pragma once
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace testsupport {

// A listener on 127.0.0.1 that never accepts, its queue filled by connections of its
// own, so that a further connect to it stays under way.
class FullListener {
public:
    FullListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(fd_, 0) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        port_ = ntohs(a.sin_port);
        // Each filler that comes up takes a place; the first that stays under way shows
        // the queue is full. One that is only slow takes the last place all the same.
        for (int i = 0; i < 4 && !full_; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            fillers_.push_back(c);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), size);
            pollfd p{c, POLLOUT, 0};
            full_ = ::poll(&p, 1, 200) == 0;
        }
    }
    ~FullListener()
    {
        for (int c : fillers_)
            ::close(c);
        if (fd_ >= 0)
            ::close(fd_);
    }
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    bool full() const { return full_; }
    quint16 port() const { return port_; }

private:
    int fd_ = -1;
    quint16 port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

} // namespace testsupport
