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
#include <system_error>
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

// Whether the signal still interrupts the wait: another library may have set it to be ignored, to restart
// the call, or back to the default, which would end the process.
bool ModemWaitSignalInterrupts() {
    struct sigaction now {};
    return sigaction(ModemWaitSignal(), nullptr, &now) == 0 && !(now.sa_flags & (SA_SIGINFO | SA_RESTART)) &&
           now.sa_handler == OnModemWaitSignal;
}

// How long a closing device waits for the modem-line thread before leaving it behind.
constexpr auto kModemStopWait = std::chrono::milliseconds(250);
// How often the counters are compared on a driver that counts changes but cannot wait for one.
constexpr auto kModemCountersEvery = std::chrono::milliseconds(100);
// The longest pause between two looks at an output queue that does not go down (flow control holds it).
constexpr int kTxCheckMaxMs = 250;

std::uint32_t ModemChanges(const serial_icounter_struct& was, const serial_icounter_struct& now) {
    std::uint32_t events = 0;
    if (now.cts != was.cts)
        events |= CommEvent::Cts;
    if (now.dsr != was.dsr)
        events |= CommEvent::Dsr;
    if (now.dcd != was.dcd)
        events |= CommEvent::Rlsd;
    if (now.rng != was.rng)
        events |= CommEvent::Ring;
    return events;
}

void RunModemWatch(const std::shared_ptr<TPosixSerialDevice::TModemWatch>& watch) {
    // A thread starts with its creator's signal mask: the signal that ends the wait must get through.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, ModemWaitSignal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    serial_icounter_struct last{};
    bool canWait = true;
    // A count that fails means the device is gone, which the main wait reports.
    bool counting = ioctl(watch->fd, TIOCGICOUNT, &last) == 0;
    while (counting && !watch->stop) {
        // Compared before each wait: TIOCMIWAIT waits only for a change made after it began.
        serial_icounter_struct now{};
        counting = ioctl(watch->fd, TIOCGICOUNT, &now) == 0;
        if (!counting)
            break;
        if (const std::uint32_t events = ModemChanges(last, now)) {
            last = now;
            *watch->events |= events;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(watch->wake, &one, sizeof one);
            continue;
        }
        if (canWait) {
            // Fails for good on a driver without it; a lost device fails the next count too.
            canWait = ioctl(watch->fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) == 0 ||
                      errno == EINTR;
            continue;
        }
        std::unique_lock lock(watch->mutex);
        watch->changed.wait_for(lock, kModemCountersEvery, [&] { return watch->stop.load(); });
    }
    close(watch->fd);
    close(watch->wake);
    std::lock_guard lock(watch->mutex);
    watch->done = true;
    watch->changed.notify_all();
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
    txLastOut_ = -1;
    *modemEvents_ = 0;
    fd_ = fd;
    return 0;
}

int TPosixSerialDevice::Close() {
    if (fd_ < 0)
        return EBADF;
    StopWatchingModemLines();
    const int fd = fd_.exchange(-1);
    RestoreTerminal(fd, saved_); // fails on a lost device, which has no settings to keep
    // A modem-line thread left behind keeps the file open: the claims on the port go now all the same.
    flock(fd, LOCK_UN);
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
    {
        std::lock_guard lock(rx_);
        marks_.KeepErrored(!(dcb.Flags & DcbFlag::Parity));
    }
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
    int code = fd_ < 0 ? EBADF : 0;
    if (!code && (mask & kModemEvents) && hasCounters_ && !modemThread_.joinable())
        code = WatchModemLines();
    Wake();
    return code;
}

// Starts the modem-line thread. 0, or why it could not start.
int TPosixSerialDevice::WatchModemLines() {
    ModemWaitSignal();
    auto watch = std::make_shared<TModemWatch>();
    watch->events = modemEvents_;
    watch->fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    watch->wake = watch->fd < 0 ? -1 : fcntl(wake_, F_DUPFD_CLOEXEC, 0);
    if (watch->wake < 0) {
        const int code = errno;
        if (watch->fd >= 0)
            close(watch->fd);
        return code;
    }
    try {
        modemThread_ = std::thread([watch] { RunModemWatch(watch); });
    } catch (const std::system_error& e) {
        close(watch->fd);
        close(watch->wake);
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    watch_ = std::move(watch);
    return 0;
}

// Ends the modem-line thread; false when it would not end in time and was left behind.
bool TPosixSerialDevice::StopWatchingModemLines() {
    if (!modemThread_.joinable())
        return true;
    const auto deadline = Clock::now() + kModemStopWait;
    std::unique_lock lock(watch_->mutex);
    watch_->stop = true;
    watch_->changed.notify_all();
    // A signal that comes just before the thread enters TIOCMIWAIT is lost, so it is sent again until the
    // thread has ended, while it still interrupts the wait and the bound allows.
    while (!watch_->done && Clock::now() < deadline) {
        if (ModemWaitSignalInterrupts())
            pthread_kill(modemThread_.native_handle(), ModemWaitSignal());
        watch_->changed.wait_for(lock, std::chrono::milliseconds(5), [this] { return watch_->done; });
    }
    const bool ended = watch_->done;
    lock.unlock();
    if (ended)
        modemThread_.join();
    else
        modemThread_.detach(); // it ends when its wait does, holding only its own share
    watch_.reset();
    return ended;
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
            if (n > 0) {
                txPending_ = true;
                txLastOut_ = -1;
            }
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

// Events that are already true, and whether the wait may read ahead.
std::uint32_t TPosixSerialDevice::ReadyEvents(std::uint32_t want, bool& readAhead) {
    std::uint32_t ready = modemEvents_->exchange(0) & want;
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
    return ready;
}

// Bytes still in the driver's output queue. A queue that cannot be asked about belongs to a lost device,
// whose failure this returns.
int TPosixSerialDevice::OutputLeft(int& out) {
    out = 0;
    return ioctl(fd_, TIOCOUTQ, &out) == 0 ? 0 : errno;
}

// Whether the device has hung up; if so, what came with the hang-up is read and the loss recorded for the
// wait to report after it.
bool TPosixSerialDevice::HungUp() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !Lost(p.revents))
        return false;
    std::lock_guard lock(rx_);
    const int code = Pull();
    readError_ = code ? code : EIO;
    return true;
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
        // Bytes that came with a hang-up are announced first; the loss is reported by the next wait.
        if (const std::uint32_t ready = ReadyEvents(want, readAhead)) {
            events = ready;
            return 0;
        }
        {
            std::lock_guard lock(rx_);
            if (readError_)
                return readError_;
        }
        // Output has gone only from a device that is still there: a lost one's queue reads as failed or
        // empty, and that is the loss, not the end of a send.
        if ((want & CommEvent::TxEmpty) && txPending_) {
            int out = 0;
            if (const int code = OutputLeft(out))
                return code;
            if (out <= 0) {
                if (HungUp())
                    continue;
                txPending_ = false;
                events = CommEvent::TxEmpty;
                return 0;
            }
            // Nothing tells when the driver's queue runs empty: look again about when it should have gone
            // out on the wire (10 bits a byte), and less and less often while it does not go down (flow
            // control holds it).
            const int wireMs = static_cast<int>(static_cast<std::uint64_t>(out) * 10000u / baud_) + 1;
            txCheckMs_ =
                txLastOut_ < 0 || out < txLastOut_ ? wireMs : std::min(txCheckMs_ * 2, kTxCheckMaxMs);
            txLastOut_ = out;
            left = MinTimeout(left, txCheckMs_);
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
