#include "serial.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform::serial {
namespace {

bool speedOf(int baud, speed_t& speed)
{
    switch (baud) {
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    default: return false;
    }
}

} // namespace

bool isSupportedSpeed(int baud)
{
    speed_t s;
    return speedOf(baud, s);
}

Handle openExclusive(const std::string& devicePath)
{
    // Non-blocking so that the open does not wait for carrier before CLOCAL is set.
    Handle h = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (h < 0)
        return InvalidHandle;
    // TIOCEXCL keeps other opens out (root ignores it); the lock covers root too.
    if (::flock(h, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(h);
        errno = e;
        return InvalidHandle;
    }
    // Only a terminal device is a serial port; a plain file of that name is not.
    if (!::isatty(h) || ::ioctl(h, TIOCEXCL) != 0) {
        int e = errno;
        ::close(h);
        errno = e;
        return InvalidHandle;
    }
    int flags = ::fcntl(h, F_GETFL);
    if (flags >= 0)
        ::fcntl(h, F_SETFL, flags & ~O_NONBLOCK);
    return h;
}

bool configureRaw(Handle h, int baud)
{
    speed_t speed;
    termios t{};
    if (h < 0 || !speedOf(baud, speed) || ::tcgetattr(h, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return ::tcsetattr(h, TCSANOW, &t) == 0;
}

bool setSpeed(Handle h, int baud)
{
    speed_t speed;
    termios t{};
    if (h < 0 || !speedOf(baud, speed) || ::tcgetattr(h, &t) != 0)
        return false;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return ::tcsetattr(h, TCSANOW, &t) == 0;
}

void setModemLines(Handle h, bool dtr, bool rts)
{
    int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int clear = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if (set)
        (void)::ioctl(h, TIOCMBIS, &set);
    if (clear)
        (void)::ioctl(h, TIOCMBIC, &clear);
}

void requestLowLatency(Handle h)
{
    serial_struct ss{};
    if (::ioctl(h, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(h, TIOCSSERIAL, &ss);
    }
}

int queuedBytes(Handle h)
{
    int n = 0;
    if (h < 0 || ::ioctl(h, FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool hungUp(Handle h)
{
    if (h < 0)
        return true;
    pollfd p{h, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return errno != EINTR;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

long readSome(Handle h, void* buffer, std::size_t n)
{
    for (;;) {
        ssize_t r = ::read(h, buffer, n);
        if (r >= 0)
            return static_cast<long>(r);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        return -1;
    }
}

bool writeAll(Handle h, const void* bytes, std::size_t n)
{
    const char* p = static_cast<const char*>(bytes);
    while (n > 0) {
        ssize_t w = ::write(h, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

void discardQueues(Handle h)
{
    (void)::tcflush(h, TCIOFLUSH);
}

void closePort(Handle h)
{
    if (h < 0)
        return;
    // The exclusive flag belongs to the terminal, not to our descriptor: it would
    // outlive the close while anything else keeps the device open.
    (void)::ioctl(h, TIOCNXCL);
    ::close(h);
}

} // namespace platform::serial
