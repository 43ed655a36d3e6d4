#include "PosixSerialDevice.h"

#include "PortNames.h"
#include "PosixTermios.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kUnreadRecheckMs = 20;  // unread input: how often to look for more
constexpr int kCounterRecheckMs = 50; // modem/break counters of real UARTs

int MinTimeout(int a, int b) {
    return a < 0 ? b : (b < 0 ? a : std::min(a, b));
}

// Device loss shows as a hang-up or error on the descriptor; the caller treats it as EIO.
bool Lost(short revents) {
    return revents & (POLLHUP | POLLERR | POLLNVAL);
}

} // namespace

TPosixSerialDevice::TPosixSerialDevice() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TPosixSerialDevice::~TPosixSerialDevice() {
    if (fd_ >= 0)
        Close();
    if (wake_ >= 0)
        close(wake_);
}

int TPosixSerialDevice::Open(const std::string& name) {
    if (fd_ >= 0)
        return EBUSY;
    int unresolved = ENOENT;
    const auto path = ResolveComPort(name, TPortRoots::FromEnvironment(), &unresolved);
    if (!path)
        return unresolved;
    path_ = *path;
    // Without O_NOCTTY a session leader would adopt the port and die of SIGHUP when it is unplugged.
    const int fd = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        const int code = errno;
        close(fd);
        return code;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return code;
    }
    ioctl(fd, TIOCEXCL); // root ignores it; the flock above still keeps our own kind out
    // Bytes from before this opening (a late answer to the previous user) are no answer to us.
    tcflush(fd, TCIOFLUSH);
    hasCounters_ = ioctl(fd, TIOCGICOUNT, &counters_) == 0;
    announced_ = 0;
    txPending_ = false;
    fd_ = fd;
    return 0;
}

int TPosixSerialDevice::Close() {
    const int fd = fd_.exchange(-1);
    if (fd < 0)
        return EBADF;
    ioctl(fd, TIOCNXCL); // on a pty the exclusive flag would outlive us
    return close(fd) == 0 ? 0 : errno;
}

int TPosixSerialDevice::SetupQueues(std::uint16_t, std::uint16_t) {
    // Linux sizes its queues itself; the recommendation has nothing to act on.
    return fd_ < 0 ? EBADF : 0;
}

int TPosixSerialDevice::ApplyDcb(const TDcb& dcb) {
    if (fd_ < 0)
        return EBADF;
    baud_ = std::max<std::uint32_t>(dcb.BaudRate, 1);
    return ApplyDcbToTerminal(fd_, dcb);
}

int TPosixSerialDevice::ApplyTimeouts(const TCommTimeouts&) {
    // Reads never block here (VMIN=1 on a non-blocking descriptor) and writes take their limit per call.
    return fd_ < 0 ? EBADF : 0;
}

int TPosixSerialDevice::SetEventMask(std::uint32_t mask) {
    mask_ = mask;
    Wake();
    return fd_ < 0 ? EBADF : 0;
}

void TPosixSerialDevice::SetModemLine(int line, bool state) {
    int bits = line == kLineDtr ? TIOCM_DTR : TIOCM_RTS;
    ioctl(fd_, state ? TIOCMBIS : TIOCMBIC, &bits);
}

int TPosixSerialDevice::Purge() {
    // Transfers here are complete when their call returns, so nothing is in flight to abandon.
    return fd_ < 0 ? EBADF : 0;
}

int TPosixSerialDevice::QueueCounts(std::int32_t& rx, std::int32_t& tx) {
    int in = 0;
    int out = 0;
    if (ioctl(fd_, FIONREAD, &in) != 0 || ioctl(fd_, TIOCOUTQ, &out) != 0)
        return errno;
    rx = in;
    tx = out;
    return 0;
}

int TPosixSerialDevice::Write(const std::string& bytes, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd_, POLLOUT, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0)
            return ETIMEDOUT;
        if (Lost(p.revents))
            return EIO;
    }
    if (!bytes.empty()) {
        txPending_ = true;
        Kick();
    }
    return 0;
}

void TPosixSerialDevice::Kick() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
}

void TPosixSerialDevice::Wake() {
    wakeAsked_ = true;
    Kick();
}

bool TPosixSerialDevice::DrainWake() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = read(wake_, &value, sizeof value);
    return wakeAsked_.exchange(false);
}

std::uint32_t TPosixSerialDevice::CounterEvents(std::uint32_t want) {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0)
        return 0;
    std::uint32_t events = 0;
    if (now.cts != counters_.cts)
        events |= CommEvent::Cts;
    if (now.dsr != counters_.dsr)
        events |= CommEvent::Dsr;
    if (now.dcd != counters_.dcd)
        events |= CommEvent::Rlsd;
    if (now.brk != counters_.brk)
        events |= CommEvent::Break;
    if (now.rng != counters_.rng)
        events |= CommEvent::Ring;
    counters_ = now;
    return events & want;
}

// Events that are already true, and how the wait must look for the rest.
std::uint32_t TPosixSerialDevice::ReadyEvents(std::uint32_t want, int& timeoutMs, bool& pollIn) {
    std::uint32_t ready = 0;
    if (want & CommEvent::RxChar) {
        int n = 0;
        ioctl(fd_, FIONREAD, &n);
        if (n == 0) {
            announced_ = 0;
            pollIn = true;
        } else if (n > announced_) {
            // Only new bytes are news: unread ones announced before must not wake us again and again.
            announced_ = n;
            ready |= CommEvent::RxChar;
        } else {
            timeoutMs = MinTimeout(timeoutMs, kUnreadRecheckMs);
        }
    }
    if ((want & CommEvent::TxEmpty) && txPending_) {
        int out = 0;
        if (ioctl(fd_, TIOCOUTQ, &out) != 0 || out <= 0) {
            txPending_ = false;
            ready |= CommEvent::TxEmpty;
        } else {
            // Wake about when the queue should have gone out on the wire (10 bits a byte).
            const auto ms = static_cast<int>(static_cast<std::uint64_t>(out) * 10000u / baud_) + 1;
            timeoutMs = MinTimeout(timeoutMs, ms);
        }
    }
    constexpr std::uint32_t kCounted =
        CommEvent::Cts | CommEvent::Dsr | CommEvent::Rlsd | CommEvent::Break | CommEvent::Ring;
    if ((want & kCounted) && hasCounters_) {
        ready |= CounterEvents(want & kCounted);
        timeoutMs = MinTimeout(timeoutMs, kCounterRecheckMs);
    }
    return ready;
}

int TPosixSerialDevice::WaitEvent(std::uint32_t wanted, std::uint32_t& events) {
    events = 0;
    for (;;) {
        if (fd_ < 0)
            return EBADF;
        int timeoutMs = -1;
        bool pollIn = false;
        if (const std::uint32_t ready = ReadyEvents(mask_ & wanted, timeoutMs, pollIn)) {
            events = ready;
            return 0;
        }
        pollfd fds[2] = {{fd_, static_cast<short>(pollIn ? POLLIN : 0), 0}, {wake_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if ((fds[1].revents & POLLIN) && DrainWake())
            return 0;
        if (Lost(fds[0].revents))
            return EIO;
    }
}

int TPosixSerialDevice::Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) {
    got = 0;
    for (bool waited = false;;) {
        const ssize_t n = read(fd_, buffer, size);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            announced_ = 0;
            return 0;
        }
        if (n == 0)
            return EIO; // VMIN=1: an empty read means hang-up
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return errno;
        if (waited || timeoutMs <= 0)
            return 0;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) == 0)
            return 0;
        waited = true;
    }
}

std::uint32_t TPosixSerialDevice::ModemStatus() {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0)
        return 0;
    std::uint32_t status = 0;
    if (bits & TIOCM_CTS)
        status |= ModemBit::CtsOn;
    if (bits & TIOCM_DSR)
        status |= ModemBit::DsrOn;
    if (bits & TIOCM_RNG)
        status |= ModemBit::RingOn;
    if (bits & TIOCM_CAR)
        status |= ModemBit::RlsdOn;
    return status;
}
