#include "CtlLink.h"

#include "DeviceControl.h"
#include "PortNames.h"
#include "SerialDevice.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ctl {

namespace {

// Read end, write end: a signal's number goes in, the event loop takes it out.
int g_signalPipe[2] = {-1, -1};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler's only work, as little as a handler may do.
void OnSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TLink::TLink(std::unique_ptr<ISerialDevice> device)
    : serial_(nullptr, device ? std::move(device) : MakeSystemSerialDevice()) {
    clock_.start();
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_signalPipe[0] = g_signalPipe[1] = -1;
    if (g_signalPipe[0] >= 0) {
        signals_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(signals_, &QSocketNotifier::activated, this, [this] {
            unsigned char byte = 0;
            while (::read(g_signalPipe[0], &byte, 1) == 1)
                if (!signal_)
                    signal_ = byte;
            Wake();
        });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (int signo : kEndingSignals) {
            // A signal ignored on entry stays ignored (nohup, a shell's background job).
            struct sigaction before {};
            if (::sigaction(signo, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
                ::sigaction(signo, &action, nullptr);
                caught_.push_back(signo);
            }
        }
    }
    serial_.SetDataBits(d8bit);
    serial_.SetRxEventMode(rxMessage);
    serial_.SetNotifyErrors(neEvent);
    serial_.SetOnError([this](TObject*) {
        if (!error_)
            error_ = serial_.ErrorCode();
        Wake();
    });
    serial_.SetOnTxEmpty([this](TObject*) {
        drained_ = true;
        Wake();
    });
    serial_.SetOnMessage([this](TObject*, const std::string& message) {
        inbox_.push_back({message, clock_.nsecsElapsed()});
        Wake();
    });
}

TLink::~TLink() {
    // Closes the port (and releases its lock) before a signal may end the process the default way.
    serial_.SetActive(false);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signo : caught_)
        ::sigaction(signo, &action, nullptr);
}

int TLink::Open(int port) {
    error_ = 0;
    serial_.SetPort(static_cast<sPorts>(port));
    serial_.SetActive(true);
    if (error_)
        return error_;
    return serial_.Active() ? 0 : serial_.ErrorCode();
}

void TLink::Close() {
    serial_.SetActive(false);
    error_ = 0;
}

int TLink::Send(const std::string& frame) {
    drained_ = false;
    serial_.SendString(frame);
    // Bounded like the component's own write, beyond it: the driver's queue has no time-out of its own.
    const qint64 limitMs = 2 * static_cast<qint64>(serial_.WriteTimeoutMs(frame.size()));
    QElapsedTimer waited;
    waited.start();
    while (!drained_ && !error_ && !signal_) {
        const qint64 left = limitMs - waited.elapsed();
        if (left <= 0) {
            error_ = ETIMEDOUT;
            break;
        }
        RunFor(left);
    }
    return error_;
}

void TLink::RunFor(qint64 ms) {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (ms >= 0)
        limit.start(static_cast<int>(ms));
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
}

void TLink::Flush() {
    // Messages the event thread has handed over but the loop has not yet taken in are received too.
    QCoreApplication::processEvents();
    inbox_.clear();
}

void TLink::Wake() {
    if (waiting_)
        waiting_->quit();
}

std::optional<Received> TLink::Await(const std::function<bool(const std::string&)>& wanted, int timeoutMs,
                                     const std::function<void(const Received&)>& seen) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        while (!inbox_.empty()) {
            Received next = std::move(inbox_.front());
            inbox_.pop_front();
            if (seen)
                seen(next);
            if (wanted(next.message))
                return next;
        }
        if (error_ || signal_)
            return std::nullopt;
        const qint64 left = timeoutMs < 0 ? -1 : timeoutMs - waited.elapsed();
        if (timeoutMs >= 0 && left <= 0)
            return std::nullopt;
        RunFor(left);
    }
}

bool TLink::AwaitReadable(std::initializer_list<int> fds, int timeoutMs) {
    if (signal_)
        return false;
    QEventLoop loop;
    // A read notifier also fires on an error or a hang-up, which is how a pipe's write end says its reader
    // has gone.
    std::deque<QSocketNotifier> ready;
    for (const int fd : fds) {
        if (fd < 0)
            continue;
        ready.emplace_back(fd, QSocketNotifier::Read);
        connect(&ready.back(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        limit.start(timeoutMs);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
    return !signal_;
}

} // namespace ctl
