#include "PtyPort.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::chrono::milliseconds kArrivalGrace{50};

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PtyPort::PtyPort() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        Fail("posix_openpt");
    try {
        if (grantpt(fd_) != 0)
            Fail("grantpt");
        if (unlockpt(fd_) != 0)
            Fail("unlockpt");
        char name[128];
        if (ptsname_r(fd_, name, sizeof name) != 0)
            Fail("ptsname_r");
        slavePath_ = name;

        // Settings made through the master apply to the slave and stay while the master is open,
        // so a client that sets nothing still gets a raw line without echo.
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0)
            Fail("tcgetattr");
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        if (tcsetattr(fd_, TCSANOW, &tio) != 0)
            Fail("tcsetattr");

        // Until a slave has been opened once, the master does not report hang-ups; open and close it
        // so "no client" looks the same before the first client as after the last one.
        const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0)
            Fail("open slave");
        ::close(slave);
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

PtyPort::~PtyPort() {
    Close();
}

bool PtyPort::ClientPresent() const {
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR)) == 0;
}

void PtyPort::DiscardUnread() {
    // On a master, the output queue is what the slave has yet to read.
    if (fd_ >= 0)
        tcflush(fd_, TCOFLUSH);
}

std::string PtyPort::TakeLeftInput() {
    std::string left;
    char buffer[512];
    ssize_t n;
    while (fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0)
        left.append(buffer, static_cast<std::size_t>(n));
    return left;
}

bool PtyPort::WaitUntilRead(std::chrono::milliseconds limit) const {
    // The master cannot tell how much the slave has yet to read, but the slave side can: look through
    // a descriptor of our own (the client keeps its own open, so closing ours hangs nothing up).
    const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return false;
    // Bytes written to the master reach the slave's queue a moment later, through the kernel's worker;
    // an empty queue right after the write proves nothing. So first wait a little for them to show up
    // (or to have been read already), then for the queue to empty.
    auto queued = [slave] {
        int count = 0;
        return ::ioctl(slave, TIOCINQ, &count) == 0 ? count : 0;
    };
    const auto start = std::chrono::steady_clock::now();
    while (queued() == 0 && std::chrono::steady_clock::now() - start < kArrivalGrace)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool drained = false;
    while (!(drained = queued() == 0) && std::chrono::steady_clock::now() - start < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::close(slave);
    return drained;
}

void PtyPort::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace sim
