#include "CtlLink.h"

#include "DeviceControl.h"
#include "PortNames.h"
#include "SerialDevice.h"
#include "StopSignals.h"
#include "SystemError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace ctl {

TLink::TLink(std::unique_ptr<ISerialDevice> device)
    : serial_(nullptr, device ? std::move(device) : MakeSystemSerialDevice()) {
    clock_.start();
    // A stop request ends the wait under way; the command then reports it and ends as the signal would.
    stops_ = std::make_unique<TStopSignals>([this](int signo) {
        if (!signal_)
            signal_ = signo;
        Wake();
    });
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
    stops_.reset();
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
            error_ = SystemError::TimedOut;
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
