#include "PtyPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace sim {

namespace {

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

        readWatch_ = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event watch{};
        watch.events = EPOLLOUT | EPOLLET;
        if (readWatch_ < 0 || ::epoll_ctl(readWatch_, EPOLL_CTL_ADD, fd_, &watch) != 0)
            Fail("epoll");
    } catch (...) {
        if (readWatch_ >= 0)
            ::close(readWatch_);
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

bool PtyPort::DiscardUnread() {
    if (fd_ < 0)
        return true;
    // The master's flush drops only what is still on its way; what the slave's side holds is flushed
    // there. A client that came meanwhile has flushed it itself, and its claim is its own.
    tcflush(fd_, TCOFLUSH);
    if (ClientPresent())
        return true;
    const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return errno != EBUSY;
    tcflush(slave, TCIFLUSH);
    // Only root opens past a claim, so only root can have found a stale one. To anyone else a claim now is
    // a client's that opened meanwhile, and stays.
    int claimed = 0;
    if (::geteuid() == 0 && ::ioctl(slave, TIOCGEXCL, &claimed) == 0 && claimed)
        ::ioctl(slave, TIOCNXCL);
    ::close(slave);
    return true;
}

void PtyPort::Renew() {
    PtyPort fresh;
    Close();
    fd_ = std::exchange(fresh.fd_, -1);
    readWatch_ = std::exchange(fresh.readWatch_, -1);
    slavePath_ = std::move(fresh.slavePath_);
}

std::string PtyPort::TakeLeftInput() {
    std::string left;
    char buffer[512];
    ssize_t n;
    while (fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0)
        left.append(buffer, static_cast<std::size_t>(n));
    return left;
}

// The master cannot count what the slave has yet to read, and opening the slave to ask fails for an
// ordinary user while the client holds it exclusively. But each read on the slave wakes the master's
// writers, and an edge-triggered watch sees every wake-up, needed or not. Writing wakes it too, at once,
// so the watch is emptied right after each write: what comes later is the client reading.
ssize_t PtyPort::Write(const char* data, std::size_t size) {
    const ssize_t n = ::write(fd_, data, size);
    epoll_event event{};
    while (n > 0 && ::epoll_wait(readWatch_, &event, 1, 0) > 0) {
    }
    return n;
}

bool PtyPort::WaitUntilRead(std::chrono::milliseconds limit) const {
    if (!ClientPresent())
        return true;
    epoll_event event{};
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const int n =
            ::epoll_wait(readWatch_, &event, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

void PtyPort::Close() {
    if (readWatch_ >= 0) {
        ::close(readWatch_);
        readWatch_ = -1;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace sim
