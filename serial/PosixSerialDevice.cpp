#include "PosixSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Input held for a reader that does not read: past this the wait stops reading ahead, and the bytes
// wait in the driver (whose flow control, if any, then holds the other end).
constexpr std::size_t kReadAheadLimit = 64 * 1024;
constexpr std::size_t kReadChunk = 4096;

constexpr std::uint32_t kModemEvents = CommEvent::Cts | CommEvent::Dsr | CommEvent::Rlsd | CommEvent::Ring;

int MinTimeout(int a, int b) {
    return a < 0 ? b : (b < 0 ? a : std::min(a, b));
}

// Device loss shows as a hang-up or error on the descriptor; the caller treats it as EIO.
bool Lost(short revents) {
    return revents & (POLLHUP | POLLERR | POLLNVAL);
}

// TIOCMIWAIT sleeps in the driver, out of reach of the eventfd and even of close() (the call holds the
// file): a signal without SA_RESTART is what makes it return. The handler does nothing.
void OnModemWaitSignal(int) {}

int ModemWaitSignal() {
    static const int signo = [] {
        const int s = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = OnModemWaitSignal;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
        return s;
    }();
    return signo;
}

} // namespace

std::unique_ptr<ISerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<TPosixSerialDevice>();
}

TPosixSerialDevice::TPosixSerialDevice() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0)
        wakeError_ = errno;
}

TPosixSerialDevice::~TPosixSerialDevice() {
    if (fd_ >= 0)
        Close();
    if (wake_ >= 0)
        close(wake_);
}

int TPosixSerialDevice::Open(const std::string& path) {
    if (fd_ >= 0)
        return EBUSY;
    // Without the eventfd nothing could end a wait: no port is opened at all.
    if (wake_ < 0)
        return wakeError_;
    // Without O_NOCTTY a session leader would adopt the port and die of SIGHUP when it is unplugged.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
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
    SaveTerminal(fd, saved_);
    hasCounters_ = ioctl(fd, TIOCGICOUNT, &openCounters_) == 0;
    int bits = 0;
    hasModemLines_ = ioctl(fd, TIOCMGET, &bits) == 0;
    {
        std::lock_guard lock(rx_);
        rxBuffer_.clear();
        marks_.Reset();
        errors_ = {};
        rxNew_ = breakNew_ = false;
        readError_ = 0;
    }
    txPending_ = false;
    modemEvents_ = 0;
    fd_ = fd;
    return 0;
}

int TPosixSerialDevice::Close() {
    if (fd_ < 0)
        return EBADF;
    StopWatchingModemLines();
    const int fd = fd_.exchange(-1);
    RestoreTerminal(fd, saved_); // fails on a lost device, which has no settings to keep
    ioctl(fd, TIOCNXCL);         // on a pty the exclusive flag would outlive us
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
    // A driver without modem lines is a pseudo-terminal or the like: it keeps 8 data bits and no parity
    // whatever it is given, and says nothing. Only there are those two left out of the read-back, so a
    // pty opens with any framing while a real driver that drops one is reported.
    return ApplyDcbToTerminal(fd_, dcb, !hasModemLines_);
}

int TPosixSerialDevice::ApplyTimeouts(const TCommTimeouts&) {
    // Reads never block here (VMIN=1 on a non-blocking descriptor) and writes never wait.
    return fd_ < 0 ? EBADF : 0;
}

int TPosixSerialDevice::SetEventMask(std::uint32_t mask) {
    mask_ = mask;
    if (fd_ >= 0 && (mask & kModemEvents) && hasCounters_ && !modemThread_.joinable()) {
        ModemWaitSignal();
        modemStop_ = false;
        modemDone_ = false;
        modemThread_ = std::thread([this, fd = fd_.load()] { WatchModemLines(fd); });
    }
    Wake();
    return fd_ < 0 ? EBADF : 0;
}

void TPosixSerialDevice::WatchModemLines(int fd) {
    serial_icounter_struct last{};
    ioctl(fd, TIOCGICOUNT, &last);
    while (!modemStop_) {
        // Fails for good on a lost device or a driver without it: the main wait reports a loss.
        if (ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0 && errno != EINTR)
            break;
        serial_icounter_struct now{};
        if (ioctl(fd, TIOCGICOUNT, &now) != 0)
            break;
        std::uint32_t events = 0;
        if (now.cts != last.cts)
            events |= CommEvent::Cts;
        if (now.dsr != last.dsr)
            events |= CommEvent::Dsr;
        if (now.dcd != last.dcd)
            events |= CommEvent::Rlsd;
        if (now.rng != last.rng)
            events |= CommEvent::Ring;
        last = now;
        if (events) {
            modemEvents_ |= events;
            Kick();
        }
    }
    std::lock_guard lock(modemMutex_);
    modemDone_ = true;
    modemEnded_.notify_all();
}

void TPosixSerialDevice::StopWatchingModemLines() {
    if (!modemThread_.joinable())
        return;
    modemStop_ = true;
    // A signal that comes just before the thread enters TIOCMIWAIT is lost, so it is sent again until
    // the thread has ended: this happens only while closing, and the first one nearly always does it.
    std::unique_lock lock(modemMutex_);
    while (!modemDone_) {
        pthread_kill(modemThread_.native_handle(), ModemWaitSignal());
        modemEnded_.wait_for(lock, std::chrono::milliseconds(5), [this] { return modemDone_; });
    }
    lock.unlock();
    modemThread_.join();
}

void TPosixSerialDevice::SetModemLine(int line, bool state) {
    int bits = line == kLineDtr ? TIOCM_DTR : TIOCM_RTS;
    ioctl(fd_, state ? TIOCMBIS : TIOCMBIC, &bits);
}

int TPosixSerialDevice::Purge() {
    if (fd_ < 0)
        return EBADF;
    {
        std::lock_guard lock(rx_);
        rxBuffer_.clear();
        marks_.Reset();
        rxNew_ = false;
    }
    txPending_ = false;
    // Output is flushed only while the driver still counts some. A pseudo-terminal counts none, even for
    // bytes still on their way to its other end, and flushing its output drops those: a command written
    // just before closing would be lost after it had been reported sent.
    int out = 0;
    const int queues = ioctl(fd_, TIOCOUTQ, &out) == 0 && out <= 0 ? TCIFLUSH : TCIOFLUSH;
    return tcflush(fd_, queues) == 0 ? 0 : errno;
}

int TPosixSerialDevice::QueueCounts(std::int32_t& rx, std::int32_t& tx) {
    int in = 0;
    int out = 0;
    if (ioctl(fd_, FIONREAD, &in) != 0 || ioctl(fd_, TIOCOUTQ, &out) != 0)
        return errno;
    std::lock_guard lock(rx_);
    rx = in + static_cast<std::int32_t>(rxBuffer_.size());
    tx = out;
    return 0;
}

int TPosixSerialDevice::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    for (;;) {
        const ssize_t n = write(fd_, data, size);
        if (n >= 0) {
            written = static_cast<std::size_t>(n);
            if (n > 0)
                txPending_ = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : errno;
    }
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

// Reads what has arrived into the buffer (rx_ held). 0, or the failure that ended the device.
int TPosixSerialDevice::Pull() {
    char raw[kReadChunk];
    while (rxBuffer_.size() < kReadAheadLimit) {
        const ssize_t n = read(fd_, raw, sizeof raw);
        if (n == 0)
            return EIO; // VMIN=1: an empty read means hang-up
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            return errno;
        }
        const std::size_t before = rxBuffer_.size();
        const std::uint32_t breaks = errors_.Breaks;
        marks_.Feed(std::string_view(raw, static_cast<std::size_t>(n)), rxBuffer_, errors_);
        rxNew_ = rxNew_ || rxBuffer_.size() > before;
        breakNew_ = breakNew_ || errors_.Breaks != breaks;
        if (static_cast<std::size_t>(n) < sizeof raw)
            break;
    }
    serial_icounter_struct now{};
    if (hasCounters_ && ioctl(fd_, TIOCGICOUNT, &now) == 0)
        errors_.Overruns = static_cast<std::uint32_t>((now.overrun - openCounters_.overrun) +
                                                      (now.buf_overrun - openCounters_.buf_overrun));
    return 0;
}

// Events that are already true, and how the wait must look for the rest.
std::uint32_t TPosixSerialDevice::ReadyEvents(std::uint32_t want, int& timeoutMs, bool& readAhead) {
    std::uint32_t ready = modemEvents_.exchange(0) & want;
    {
        std::lock_guard lock(rx_);
        if ((want & CommEvent::RxChar) && rxNew_) {
            rxNew_ = false;
            ready |= CommEvent::RxChar;
        }
        if (breakNew_) {
            breakNew_ = false;
            ready |= want & CommEvent::Break;
        }
        readAhead = (want & (CommEvent::RxChar | CommEvent::Break)) && rxBuffer_.size() < kReadAheadLimit;
    }
    if ((want & CommEvent::TxEmpty) && txPending_) {
        int out = 0;
        if (ioctl(fd_, TIOCOUTQ, &out) != 0 || out <= 0) {
            txPending_ = false;
            ready |= CommEvent::TxEmpty;
        } else {
            // Nothing tells when the driver's queue runs empty: look again about when it should have
            // gone out on the wire (10 bits a byte). Only after output, until it has gone.
            const auto ms = static_cast<int>(static_cast<std::uint64_t>(out) * 10000u / baud_) + 1;
            timeoutMs = MinTimeout(timeoutMs, ms);
        }
    }
    return ready;
}

int TPosixSerialDevice::WaitEvent(std::uint32_t wanted, std::uint32_t& events, int timeoutMs) {
    events = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (fd_ < 0)
            return EBADF;
        const std::uint32_t want = (mask_ & wanted) | (wanted & DeviceEvent::Writable);
        int left = -1;
        if (timeoutMs >= 0) {
            left = static_cast<int>(
                std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              deadline - Clock::now() + std::chrono::microseconds(999))
                                              .count()));
        }
        bool readAhead = false;
        if (const std::uint32_t ready = ReadyEvents(want, left, readAhead)) {
            events = ready;
            return 0;
        }
        {
            std::lock_guard lock(rx_);
            if (readError_)
                return readError_;
        }
        const short watch =
            static_cast<short>((readAhead ? POLLIN : 0) | ((want & DeviceEvent::Writable) ? POLLOUT : 0));
        pollfd fds[2] = {{fd_, watch, 0}, {wake_, POLLIN, 0}};
        const int n = poll(fds, 2, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if ((fds[1].revents & POLLIN) && DrainWake())
            return 0;
        if (fds[0].revents & POLLIN) {
            // Bytes that came with a hang-up are announced first; the loss is reported by the next wait.
            std::lock_guard lock(rx_);
            if (const int code = Pull())
                readError_ = code;
            continue;
        }
        if (Lost(fds[0].revents))
            return EIO;
        if (fds[0].revents & POLLOUT) {
            events = DeviceEvent::Writable;
            return 0;
        }
        if (n == 0 && timeoutMs >= 0 && Clock::now() >= deadline)
            return 0;
    }
}

int TPosixSerialDevice::Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) {
    got = 0;
    std::unique_lock lock(rx_);
    for (bool waited = false; rxBuffer_.empty();) {
        if (readError_)
            return readError_;
        if (const int code = Pull()) {
            readError_ = code;
            Kick(); // the wait reports it too
            return code;
        }
        if (!rxBuffer_.empty() || waited || timeoutMs <= 0)
            break;
        lock.unlock();
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, timeoutMs);
        lock.lock();
        waited = true;
    }
    const bool wasFull = rxBuffer_.size() >= kReadAheadLimit;
    got = std::min(size, rxBuffer_.size());
    rxBuffer_.copy(buffer, got);
    rxBuffer_.erase(0, got);
    if (rxBuffer_.empty())
        rxNew_ = false; // everything announced has been read
    if (wasFull && got > 0)
        Kick(); // room again: the wait reads ahead once more
    return 0;
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

TLineErrors TPosixSerialDevice::LineErrors() {
    std::lock_guard lock(rx_);
    return errors_;
}
