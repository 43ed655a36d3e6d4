#include "Serial2.h"

#include "CoreApplication.h"
#include "DeviceControl.h"
#include "PortNames.h"
#include "SystemError.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <system_error>
#include <thread>

namespace {

constexpr std::uint32_t kSignalEvents = CommEvent::Cts | CommEvent::Dsr | CommEvent::Rlsd;
constexpr std::size_t kReadChunk = 256;
constexpr int kReadByteWaitMs = 100;

} // namespace

// TEventThread -------------------------------------------------------------------------------------------

int TEventThread::Resume() {
    if (thread_.joinable())
        return 0;
    try {
        thread_ = std::thread([this] { serial_.Serve(); });
    } catch (const std::system_error&) {
        return SystemError::NoResources; // the library's own code is errno's, whatever the system
    }
    return 0;
}

void TEventThread::Join() {
    if (thread_.joinable())
        thread_.join();
}

// TSerial: construction and settings ---------------------------------------------------------------------

TSerial::TSerial(QObject* owner) : TSerial(owner, MakeSystemSerialDevice()) {}

TSerial::TSerial(QObject* owner, std::unique_ptr<ISerialDevice> device)
    : TComponent(owner), device_(std::move(device)) {
    ConfigurePort();
}

TSerial::~TSerial() {
    *alive_ = false; // calls still queued for the user-interface thread must not reach us
    if (active_)
        Close();
    {
        std::lock_guard lock(ctl_);
        terminate_ = true;
    }
    ctlChanged_.notify_all();
    device_->Wake();
    sync_.Cancel(); // a thread parked in a handler call (perhaps the one destroying us) lets go
    thread_.Join();
}

void TSerial::SetPort(sPorts value) {
    if (value == port_)
        return;
    port_ = value;
    Reapply();
}

void TSerial::SetBaudrate(std::int32_t value) {
    if (!IsValidBaudrate(value)) {
        TCoreApplication::ShowError(QStringLiteral("Baudrate is not valid"));
        return;
    }
    if (value == baudrate_)
        return;
    baudrate_ = value;
    Reapply();
}

void TSerial::SetParity(eParity value) {
    if (value == parity_)
        return;
    parity_ = value;
    Reapply();
}

void TSerial::SetDataBits(eDataBits value) {
    if (value == dataBits_)
        return;
    dataBits_ = value;
    Reapply();
}

void TSerial::SetStopBits(eStopBits value) {
    if (value == stopBits_)
        return;
    stopBits_ = value;
    Reapply();
}

void TSerial::SetRxQueueSize(std::uint16_t value) {
    rxQueueSize_ = value;
    Reapply();
}

void TSerial::SetTxQueueSize(std::uint16_t value) {
    txQueueSize_ = value;
    Reapply();
}

void TSerial::SetFlowMode(eFlowControl value) {
    if (value == flowMode_)
        return;
    flowMode_ = value;
    Reapply();
}

void TSerial::SetCheckParity(bool value) {
    if (value == checkParity_)
        return;
    checkParity_ = value;
    Reapply();
}

// Handler and mode changes alter what the event thread waits for: wake it to look again.
void TSerial::WakeThread() {
    if (active_)
        device_->Wake();
}

void TSerial::SetRxEventMode(eOpModes value) {
    rxEventMode_ = value;
    WakeThread();
}

void TSerial::SetOnRxData(TNotifyEvent handler) {
    hasRxData_ = static_cast<bool>(handler);
    onRxData_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnTxEmpty(TNotifyEvent handler) {
    hasTxEmpty_ = static_cast<bool>(handler);
    onTxEmpty_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnMessage(TRxMessageEvent handler) {
    hasMessage_ = static_cast<bool>(handler);
    onMessage_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnBreak(TNotifyEvent handler) {
    hasBreak_ = static_cast<bool>(handler);
    onBreak_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnRing(TNotifyEvent handler) {
    hasRing_ = static_cast<bool>(handler);
    onRing_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnSignalChange(TSignalChangeEvent handler) {
    hasSignalChange_ = static_cast<bool>(handler);
    onSignalChange_ = std::move(handler);
    WakeThread();
}

void TSerial::SetOnSent(TSentEvent handler) {
    hasSent_ = static_cast<bool>(handler);
    onSent_ = std::move(handler);
}

TLineErrors TSerial::LineErrors() {
    return active_ ? device_->LineErrors() : TLineErrors{};
}

// TSerial: opening, closing and transfers ----------------------------------------------------------------

void TSerial::SetActive(bool value) {
    if (active_)
        Close();
    if (value)
        Open();
}

void TSerial::Open() {
    // Resolved once: the path opened is the path reported.
    int unresolved = SystemError::NotFound; // no device behind the number, or a port map that names no folder
    const auto path = ResolveComPort(ComPortName(port_), TPortRoots::FromEnvironment(), &unresolved);
    devicePath_ = path.value_or(std::string());
    if (const int code = path ? device_->Open(*path) : unresolved) {
        ReportError(code);
        return;
    }
    if (const int code = device_->SetupQueues(rxQueueSize_, txQueueSize_))
        ReportError(code);
    {
        std::lock_guard lock(ctl_);
        active_ = true;
        ++generation_;
    }
    ConfigurePort();
    // Whatever waited in the driver's queues belongs to an earlier user of the line.
    if (const int code = device_->Purge())
        ReportError(code);
    SetModemLine(kLineDtr, true);
    SetModemLine(kLineRts, true);
    // Without its threads (the device's own, then the component's) no event would ever come: a port that
    // cannot serve is reported and closed, not left open and silent.
    int code = device_->SetEventMask(CommEvent::OpenMask);
    if (!code)
        code = thread_.Resume();
    if (code) {
        ReportError(code);
        Close();
        return;
    }
    ctlChanged_.notify_all();
}

void TSerial::Close() {
    // What the device has not taken is dropped. What it has taken of strings reported sent goes out
    // first, unless flow control may hold the line: closing never waits for that. The rest is dropped in
    // the driver, and said.
    const std::size_t dropped = DrainSent(DropQueued());
    if (const int code = device_->Purge())
        ReportError(code);
    if (dropped > 0 && *alive_ && onDropped_) {
        const TDroppedEvent handler = onDropped_;
        handler(dropped);
    }
    SetModemLine(kLineDtr, false);
    SetModemLine(kLineRts, false);
    {
        std::lock_guard lock(ctl_);
        active_ = false;
    }
    ctlChanged_.notify_all();
    if (const int code = device_->SetEventMask(0))
        ReportError(code);
    {
        // The thread leaves the device as soon as the cleared mask wakes it; the bound only guards
        // against a device that never lets go.
        std::unique_lock lock(ctl_);
        ctlChanged_.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [this] { return !usingDevice_; });
    }
    if (const int code = device_->Close())
        ReportError(code);
    // The session ends here, lost or not: the next opening and the closed period report afresh.
    sessionLost_ = false;
    closedSendReported_ = false;
}

void TSerial::ConfigurePort() {
    TLineSettings settings;
    settings.Baudrate = baudrate_;
    settings.Parity = parity_;
    settings.DataBits = dataBits_;
    settings.StopBits = stopBits_;
    settings.FlowMode = flowMode_;
    settings.CheckParity = checkParity_;
    settings.RxQueueSize = rxQueueSize_;
    dcb_ = BuildDcb(settings);
    timeouts_ = BuildTimeouts(flowMode_);
    if (!active_)
        return;
    if (const int code = device_->ApplyDcb(dcb_))
        ReportError(code);
    if (const int code = device_->ApplyTimeouts(timeouts_))
        ReportError(code);
}

void TSerial::SetModemLine(int line, bool state) {
    if (active_)
        device_->SetModemLine(line, state);
}

void TSerial::SendString(const std::string& s) {
    if (!active_) {
        // No descriptor to write to; showing the operator a dialog once per closed period is enough.
        const bool repeat = closedSendReported_;
        closedSendReported_ = true;
        errorCode_ = SystemError::BadHandle;
        Notify(SystemError::BadHandle, !repeat);
        return;
    }
    int lost = 0;
    {
        std::lock_guard lock(ctl_);
        if (lostGeneration_ == generation_)
            lost = lostCode_; // the thread writes no more for a lost device
    }
    if (lost) {
        ReportError(lost);
        return;
    }
    if (s.empty())
        return;
    {
        std::lock_guard lock(tx_);
        txQueue_.push_back({s, WriteTimeoutMs(s.size())});
        txQueued_ += s.size();
    }
    device_->Wake();
}

// Returns how many bytes of the string in progress the device has taken: never reported sent.
std::size_t TSerial::DropQueued() {
    std::lock_guard lock(tx_);
    const std::size_t begun = txDone_;
    txQueue_.clear();
    txDone_ = 0;
    txStarted_ = false;
    txQueued_ = 0;
    return begun;
}

// Waits, while nothing can hold the line, until the output the device holds beyond its last `unsent`
// bytes has gone, for at most its time on the wire and a margin. Returns how many of those bytes are left.
std::size_t TSerial::DrainSent(std::size_t unsent) {
    std::int32_t rx = 0, tx = 0;
    const auto sentLeft = [&] {
        return device_->QueueCounts(rx, tx) != 0
                   ? 0
                   : std::max<std::int64_t>(0, std::int64_t{tx} - static_cast<std::int64_t>(unsent));
    };
    std::int64_t left = sentLeft(); // a device that cannot count is gone: nothing of it goes out anyway
    if (left == 0 || flowMode_ != fcNone)
        return static_cast<std::size_t>(left);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WireMs(static_cast<std::size_t>(left)) +
                                                                   kCloseDrainMarginMs);
    // Looked at when it should have gone, then less and less often while it does not go down.
    std::int64_t stepMs = WireMs(static_cast<std::size_t>(left));
    // A timed wait that nothing ends early: MinGW's sleep_for (winpthreads' nanosleep) was seen to hang.
    std::mutex pause;
    std::condition_variable never;
    std::unique_lock paused(pause);
    while (left > 0) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        never.wait_for(paused,
                       std::min<Clock::duration>(std::chrono::milliseconds(std::max<std::int64_t>(stepMs, 1)),
                                                 deadline - now));
        const std::int64_t before = left;
        left = sentLeft();
        stepMs = left < before ? WireMs(static_cast<std::size_t>(left)) : stepMs * 2;
    }
    return static_cast<std::size_t>(left);
}

// Event thread, holding the device: hands the device what it takes now. `accepted` gets each string it
// has taken whole (when someone listens); `waitMs` how long the wait may last before the first string's
// deadline (-1: nothing queued). 0, or the failure (SystemError::TimedOut past the deadline).
int TSerial::WriteQueued(std::vector<std::string>& accepted, int& waitMs) {
    using Clock = std::chrono::steady_clock;
    waitMs = -1;
    std::lock_guard lock(tx_);
    while (!txQueue_.empty()) {
        TOutgoing& first = txQueue_.front();
        if (!txStarted_) {
            txStarted_ = true;
            txDeadline_ = Clock::now() + std::chrono::milliseconds(first.timeoutMs);
        }
        std::size_t written = 0;
        if (const int code =
                device_->Write(first.bytes.data() + txDone_, first.bytes.size() - txDone_, written)) {
            txQueue_.clear(); // what follows a failed write would go out with a hole before it
            txDone_ = 0;
            txStarted_ = false;
            txQueued_ = 0;
            return code;
        }
        txDone_ += written;
        txQueued_ -= written;
        if (txDone_ < first.bytes.size()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(txDeadline_ - Clock::now()).count();
            if (left <= 0) {
                txQueue_.clear();
                txDone_ = 0;
                txStarted_ = false;
                txQueued_ = 0;
                return SystemError::TimedOut;
            }
            waitMs = static_cast<int>(left);
            return 0;
        }
        if (hasSent_)
            accepted.push_back(std::move(first.bytes));
        txQueue_.pop_front();
        txDone_ = 0;
        txStarted_ = false;
    }
    return 0;
}

int TSerial::WriteTimeoutMs(std::size_t bytes) const {
    // A long string takes its time on the wire: the second of grace starts after the bytes could have
    // gone out at the line's rate, so a string of any length is sent whole on a real adapter too.
    return static_cast<int>(std::min<std::int64_t>(kWriteTimeoutMs + WireMs(bytes), INT32_MAX));
}

std::int64_t TSerial::WireMs(std::size_t bytes) const {
    const std::int64_t bitsPerByte =
        1 + (dataBits_ == d8bit ? 8 : 7) + (parity_ == paNone ? 0 : 1) + (stopBits_ == st2bit ? 2 : 1);
    return (static_cast<std::int64_t>(bytes) * bitsPerByte * 1000 + baudrate_ - 1) / baudrate_;
}

int TSerial::ReadByte(char& b) {
    if (!active_)
        return 0;
    std::size_t got = 0;
    if (const int code = device_->Read(&b, 1, kReadByteWaitMs, got)) {
        ReportError(code);
        return 0;
    }
    return static_cast<int>(got);
}

std::int32_t TSerial::RxWaiting() {
    if (!active_)
        return 0;
    std::int32_t rx = 0, tx = 0;
    if (const int code = device_->QueueCounts(rx, tx))
        ReportError(code);
    return rx;
}

std::int32_t TSerial::TxWaiting() {
    if (!active_)
        return 0;
    std::int32_t rx = 0, tx = 0;
    if (const int code = device_->QueueCounts(rx, tx))
        ReportError(code);
    // Queued here but not yet taken by the device is waiting output too.
    return static_cast<std::int32_t>(std::min<std::size_t>(tx + txQueued_, INT32_MAX));
}

void TSerial::ReportError(int code) {
    errorCode_ = code;
    // A send can meet a vanished device before the event thread's report of it arrives: whichever comes
    // first shows the dialog, once for the session. Marked before notifying: a modal dialog lets sends
    // run meanwhile.
    const bool repeat = sessionLost_;
    if (active_ && IsDeviceLoss(code))
        sessionLost_ = true;
    Notify(code, !repeat);
}

void TSerial::Notify(int code, bool showDialog) {
    switch (notifyErrors_) {
    case neDialog:
        if (showDialog)
            TCoreApplication::ShowError(QString::fromLocal8Bit(SystemErrorText(code)));
        break;
    case neEvent:
        if (onError_) {
            const TNotifyEvent handler = onError_; // the handler may replace itself
            handler(this);
        }
        break;
    case neNone:
        break;
    }
}

// TSerial: the event thread ------------------------------------------------------------------------------

std::uint32_t TSerial::WantedEvents() const {
    std::uint32_t wanted = 0;
    if (rxEventMode_ == rxNormal ? hasRxData_.load() : hasMessage_.load())
        wanted |= CommEvent::RxChar;
    if (hasTxEmpty_)
        wanted |= CommEvent::TxEmpty;
    if (hasSignalChange_)
        wanted |= kSignalEvents;
    if (hasBreak_)
        wanted |= CommEvent::Break;
    if (hasRing_)
        wanted |= CommEvent::Ring;
    return wanted;
}

void TSerial::Serve() {
    std::unique_lock lock(ctl_);
    while (!terminate_) {
        if (!active_ || lostGeneration_ == generation_) {
            threadBusy_ = false;
            ctlChanged_.wait(lock,
                             [this] { return terminate_ || (active_ && lostGeneration_ != generation_); });
            continue;
        }
        threadBusy_ = true;
        const std::uint64_t generation = generation_;
        usingDevice_ = true;
        lock.unlock();
        std::vector<std::string> accepted;
        int waitMs = -1;
        int code = WriteQueued(accepted, waitMs);
        const bool writeFailed = code != 0;
        std::uint32_t events = 0;
        if (!writeFailed && accepted.empty()) {
            const std::uint32_t output = waitMs >= 0 ? DeviceEvent::Writable : 0;
            code = device_->WaitEvent(WantedEvents() | output, events, waitMs);
        }
        lock.lock();
        usingDevice_ = false;
        ctlChanged_.notify_all();
        if (terminate_ || !active_ || generation != generation_)
            continue; // being closed: a failure now is no news, and what was written goes with the port
        // A failed wait would fail forever: it is reported once. A failed write loses the device only
        // when the failure says so; the queue is dropped either way.
        const bool lost = code != 0 && (!writeFailed || IsDeviceLoss(code));
        if (lost) {
            lostGeneration_ = generation;
            lostCode_ = code;
        }
        lock.unlock();
        bool goOn = true;
        for (std::string& bytes : accepted) {
            goOn = Deliver(generation, [this, bytes = std::move(bytes)] {
                if (const TSentEvent handler = onSent_)
                    handler(bytes);
            });
            if (!goOn)
                break;
        }
        if (code != 0)
            DeliverFailure(generation, code, lost);
        else if (goOn)
            HandleEvents(events, generation);
        lock.lock();
    }
    threadBusy_ = false;
}

bool TSerial::BeginDeviceUse(std::uint64_t generation) {
    std::lock_guard lock(ctl_);
    if (terminate_ || !active_ || generation != generation_ || lostGeneration_ == generation)
        return false;
    usingDevice_ = true;
    return true;
}

void TSerial::EndDeviceUse() {
    {
        std::lock_guard lock(ctl_);
        usingDevice_ = false;
    }
    ctlChanged_.notify_all();
}

// Runs fn on the user-interface thread and waits for it. False when the session is over afterwards (a
// handler closed or reopened the port, or the component is going).
bool TSerial::Deliver(std::uint64_t generation, std::function<void()> fn) {
    const auto result = sync_.Call([alive = alive_, fn = std::move(fn)] {
        if (*alive && TCoreApplication::Instance())
            TCoreApplication::Guard(fn); // a handler's error is shown; the thread goes on
    });
    if (result == TSyncChannel::Result::Cancelled)
        return false;
    std::lock_guard lock(ctl_);
    return !terminate_ && active_ && generation == generation_;
}

void TSerial::DeliverFailure(std::uint64_t generation, int code, bool lost) {
    Deliver(generation, [this, generation, code, lost] {
        if (!active_ || generation != generation_)
            return; // closed meanwhile: the failure belongs to a session that is gone
        errorCode_ = code;
        const bool repeat = sessionLost_;
        if (lost)
            sessionLost_ = true; // before notifying: a modal dialog lets sends run meanwhile
        Notify(code, !repeat);
    });
}

bool TSerial::HandleSignal(std::uint32_t events, std::uint32_t bit, std::uint32_t onBit, bool& state,
                           eModemInSignal which, std::uint64_t generation) {
    if (!(events & bit))
        return true;
    if (!BeginDeviceUse(generation))
        return false;
    state = (device_->ModemStatus() & onBit) != 0;
    EndDeviceUse();
    const bool now = state;
    return Deliver(generation, [this, which, now] {
        if (const TSignalChangeEvent handler = onSignalChange_)
            handler(this, which, now);
    });
}

void TSerial::HandleEvents(std::uint32_t events, std::uint64_t generation) {
    auto notify = [this, generation](std::uint32_t set, std::uint32_t bit, TNotifyEvent TSerial::*member) {
        if (!(set & bit))
            return true;
        return Deliver(generation, [this, member] {
            if (const TNotifyEvent handler = this->*member)
                handler(this);
        });
    };
    if (txQueued_ != 0)
        events &= ~CommEvent::TxEmpty; // the driver ran empty, but more waits here for it
    if (!HandleSignal(events, CommEvent::Cts, ModemBit::CtsOn, cts_, msCTS, generation) ||
        !HandleSignal(events, CommEvent::Dsr, ModemBit::DsrOn, dsr_, msDSR, generation) ||
        !HandleSignal(events, CommEvent::Rlsd, ModemBit::RlsdOn, rlsd_, msRLSD, generation) ||
        !notify(events, CommEvent::TxEmpty, &TSerial::onTxEmpty_) ||
        !notify(events, CommEvent::Break, &TSerial::onBreak_) ||
        !notify(events, CommEvent::Ring, &TSerial::onRing_))
        return;
    if (!(events & CommEvent::RxChar))
        return;
    if (rxEventMode_ == rxNormal)
        notify(events, CommEvent::RxChar, &TSerial::onRxData_);
    else if (hasMessage_)
        Drain(generation);
}

// Reads everything that has arrived and delivers each complete message before framing the next byte.
bool TSerial::Drain(std::uint64_t generation) {
    char buffer[kReadChunk];
    for (;;) {
        if (!BeginDeviceUse(generation))
            return false;
        std::size_t got = 0;
        const int code = device_->Read(buffer, sizeof buffer, 0, got);
        EndDeviceUse();
        if (code != 0) {
            const bool lost = IsDeviceLoss(code);
            if (lost) {
                std::lock_guard lock(ctl_);
                lostGeneration_ = generation;
                lostCode_ = code;
            }
            DeliverFailure(generation, code, lost);
            return false;
        }
        if (got == 0)
            return true;
        for (std::size_t i = 0; i < got; ++i) {
            const TFraming framing{messageStartChar_, messageEndChar_, messageAppendCount_};
            const bool complete = framer_.Feed(buffer[i], framing);
            overflows_ = framer_.OverflowCount();
            if (!complete)
                continue;
            std::string message = framer_.Message();
            const bool goOn = Deliver(generation, [this, message = std::move(message)] {
                if (const TRxMessageEvent handler = onMessage_)
                    handler(this, message);
            });
            if (!goOn)
                return false; // closed from the handler: what was read after the message goes with the port
        }
    }
}
