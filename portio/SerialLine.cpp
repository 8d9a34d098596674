#include "SerialLine.h"
#include "PortAccess.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qvx {

namespace {

struct Baud {
    uint32_t rate;
    speed_t code;
};
constexpr Baud kBauds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
                           {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
                           {230400, B230400}, {460800, B460800}, {500000, B500000}, {921600, B921600},
                           {1000000, B1000000}, {2000000, B2000000}};

SerialLine::Result Error(SerialLine::Status status, const std::string& what)
{
    return {status, what + ": " + std::strerror(errno)};
}

int PollFor(int fd, short events, std::chrono::nanoseconds deadline)
{
    const int64_t left = (deadline - SteadyNow()).count();
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, left <= 0 ? 0 : int(std::min<int64_t>(left / 1'000'000 + 1, 60'000)));
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & events))
        return -2;
    return ready;
}

} // namespace

bool SerialLine::KnownBaud(uint32_t baud)
{
    for (const Baud& b : kBauds)
        if (b.rate == baud)
            return true;
    return false;
}

SerialLine::Result SerialLine::Open(const std::string& path, uint32_t baud)
{
    Close();
    const Baud* rate = nullptr;
    for (const Baud& b : kBauds)
        if (b.rate == baud)
            rate = &b;
    if (!rate)
        return {Status::BadBaud, std::to_string(baud) + " baud is no rate a serial port takes"};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        return {e == ENOENT || e == ENODEV || e == ENXIO ? Status::NotFound
                : e == EACCES || e == EPERM              ? Status::Denied
                : e == EBUSY                             ? Status::Busy
                                                         : Status::Failed,
                path + ": " + std::strerror(e)};
    }
    fd_ = fd;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        Result r = Error(Status::NotSerial, path);
        Close();
        return r;
    }
    // For this program alone: another program that locks or opens the port
    // is turned away, and so is this one when another has it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        Result r = Error(Status::Busy, path);
        Close();
        return r;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    // One byte at least, so that a read with nothing there says EAGAIN and
    // a read of 0 bytes means the port hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, rate->code);
    ::cfsetospeed(&t, rate->code);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        Result r = Error(Status::Failed, "cannot set " + path + " to " + std::to_string(baud) + " baud");
        Close();
        return r;
    }
    // DTR and RTS on for as long as the port is open: an Arduino resets
    // once as they come on, not again while the program works. A port
    // without modem lines (a pseudo-terminal) has nothing to set.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    ::tcflush(fd, TCIOFLUSH);
    return {};
}

SerialLine::Result SerialLine::Write(std::span<const uint8_t> bytes, std::chrono::nanoseconds deadline)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Error(errno == EIO || errno == ENXIO || errno == ENODEV ? Status::Lost : Status::Failed,
                         "the write failed");
        const int ready = PollFor(fd_, POLLOUT, deadline);
        if (ready == -2)
            return {Status::Lost, "the port hung up"};
        if (ready == 0 && SteadyNow() >= deadline)
            return {Status::TimedOut, "the port took " + std::to_string(done) + " of " +
                                          std::to_string(bytes.size()) + " bytes in time"};
    }
    return {};
}

SerialLine::Result SerialLine::Read(uint8_t* into, size_t most, size_t& got, std::chrono::nanoseconds deadline)
{
    got = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, into, most);
        if (n > 0) {
            got = size_t(n);
            return {};
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return n == 0 ? Result{Status::Lost, "the port hung up"}
                          : Error(errno == EIO || errno == ENXIO || errno == ENODEV ? Status::Lost : Status::Failed,
                                  "the read failed");
        const int ready = PollFor(fd_, POLLIN, deadline);
        if (ready == -2)
            return {Status::Lost, "the port hung up"};
        if (ready == 0 && SteadyNow() >= deadline)
            return {Status::TimedOut, ""};
    }
}

void SerialLine::DropInput()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

void SerialLine::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace qvx
