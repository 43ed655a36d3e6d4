#include "DevicePort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr tcflag_t kLineBits = CSIZE | PARENB | CSTOPB | CRTSCTS;

} // namespace

DevicePort::DevicePort(std::string path) : path_(std::move(path)) {
    auto fail = [this](int code) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        throw std::system_error(code, std::generic_category(), path_);
    };
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        fail(errno);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (tcgetattr(fd_, &previous_) != 0)
        fail(errno);
    if (::ioctl(fd_, TIOCEXCL) != 0)
        fail(errno);
    termios tio = previous_;
    cfmakeraw(&tio);
    tio.c_cflag = (tio.c_cflag & ~kLineBits) | CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0)
        fail(errno);
    // tcsetattr succeeds when the driver took any part of the request: look at what it holds.
    termios now{};
    if (tcgetattr(fd_, &now) != 0)
        fail(errno);
    if (cfgetospeed(&now) != B9600 || (now.c_cflag & kLineBits) != CS8 || (now.c_lflag & (ICANON | ECHO)))
        fail(EINVAL);
    tcflush(fd_, TCIOFLUSH);
}

DevicePort::~DevicePort() {
    Close();
}

bool DevicePort::ClientPresent() const {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        throw std::system_error(EIO, std::generic_category(), path_);
    return true;
}

bool DevicePort::DiscardUnread() {
    if (fd_ >= 0)
        tcflush(fd_, TCOFLUSH);
    return true;
}

bool DevicePort::WaitUntilRead(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int queued = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void DevicePort::Close() {
    if (fd_ < 0)
        return;
    // What was not sent is dropped rather than waited for, as the panel closes.
    tcflush(fd_, TCIOFLUSH);
    tcsetattr(fd_, TCSANOW, &previous_);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

} // namespace sim
