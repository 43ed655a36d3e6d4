#pragma once
// TSerial: a non-visual component that owns one serial port. It keeps the line settings, opens "COM<n>",
// applies the settings, transmits strings, reports failures as NotifyErrors says, and owns an event
// thread that turns port events into handler calls on the user-interface thread (raw-data notices or
// framed messages).
//
// Threads: every public operation runs on the user-interface thread and none waits for the line:
// SendString queues its bytes, and the event thread hands them to the device as it takes them. The event
// thread waits on the device, writes, reads and frames received bytes, and runs each handler on the
// user-interface thread through a TSyncChannel, waiting until it has returned. Closing never lets a device
// call run after the close: the closer waits for the thread to leave the device, which it does at once when
// woken; a thread parked in a handler call holds no device, so closing from inside a handler does not wait at
// all.
#include "Component.h"
#include "MessageFramer.h"
#include "SerialDevice.h"
#include "SerialTypes.h"
#include "Synchronize.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using TRxMessageEvent = std::function<void(TObject* Sender, const std::string& RxMessage)>;
using TSignalChangeEvent = std::function<void(TObject* Sender, eModemInSignal Signal, bool SignalState)>;
using TWriteCompletedEvent = std::function<void()>;
using TSentEvent = std::function<void(const std::string& bytes)>;
using TDroppedEvent = std::function<void(std::size_t bytes)>;

class TSerial;

// The component's worker: started by the first successful opening, ended and joined by the destructor.
class TEventThread {
public:
    explicit TEventThread(TSerial& serial) : serial_(serial) {}
    ~TEventThread() { Join(); }
    TEventThread(const TEventThread&) = delete;
    TEventThread& operator=(const TEventThread&) = delete;

    // Starts the thread the first time; later calls do nothing. 0, or why it could not start.
    int Resume();
    bool Started() const { return thread_.joinable(); }
    void Join();

private:
    TSerial& serial_;
    std::thread thread_;
};

class TSerial : public TComponent {
    Q_OBJECT

public:
    // Bytes of one SendString that the device must have taken within this time (beyond their time on
    // the wire) once they are first offered to it.
    static constexpr int kWriteTimeoutMs = 1000;
    // How long a closer waits for the event thread to leave the device before closing anyway.
    static constexpr int kCloseWaitMs = 7500;
    // Beyond its time on the wire, how long closing waits for output the device has taken to go out.
    static constexpr int kCloseDrainMarginMs = 100;

    explicit TSerial(QObject* owner = nullptr);
    // For tests and other platforms: the device to drive (owned).
    TSerial(QObject* owner, std::unique_ptr<ISerialDevice> device);
    ~TSerial() override;

    // Published properties ----------------------------------------------------------------------------
    sPorts Port() const { return port_; }
    void SetPort(sPorts value);
    std::int32_t Baudrate() const { return baudrate_; }
    void SetBaudrate(std::int32_t value);
    eParity Parity() const { return parity_; }
    void SetParity(eParity value);
    eDataBits DataBits() const { return dataBits_; }
    void SetDataBits(eDataBits value);
    eStopBits StopBits() const { return stopBits_; }
    void SetStopBits(eStopBits value);
    // Queue sizes re-apply even when unchanged: writing one is how a caller asks for a fresh opening.
    std::uint16_t RxQueueSize() const { return rxQueueSize_; }
    void SetRxQueueSize(std::uint16_t value);
    std::uint16_t TxQueueSize() const { return txQueueSize_; }
    void SetTxQueueSize(std::uint16_t value);
    eFlowControl FlowMode() const { return flowMode_; }
    void SetFlowMode(eFlowControl value);
    bool CheckParity() const { return checkParity_; }
    void SetCheckParity(bool value);
    std::int32_t RxWaiting();
    std::int32_t TxWaiting();
    eOpModes RxEventMode() const { return rxEventMode_; }
    void SetRxEventMode(eOpModes value);
    char MessageStartChar() const { return messageStartChar_; }
    void SetMessageStartChar(char value) { messageStartChar_ = value; }
    char MessageEndChar() const { return messageEndChar_; }
    void SetMessageEndChar(char value) { messageEndChar_ = value; }
    std::uint16_t MessageAppendCount() const { return messageAppendCount_; }
    void SetMessageAppendCount(std::uint16_t value) { messageAppendCount_ = value; }
    eNotifyErr NotifyErrors() const { return notifyErrors_; }
    void SetNotifyErrors(eNotifyErr value) { notifyErrors_ = value; }
    std::int32_t ErrorCode() const { return errorCode_; }

    const TNotifyEvent& OnRxData() const { return onRxData_; }
    void SetOnRxData(TNotifyEvent handler);
    const TNotifyEvent& OnTxEmpty() const { return onTxEmpty_; }
    void SetOnTxEmpty(TNotifyEvent handler);
    const TRxMessageEvent& OnMessage() const { return onMessage_; }
    void SetOnMessage(TRxMessageEvent handler);
    const TNotifyEvent& OnError() const { return onError_; }
    void SetOnError(TNotifyEvent handler) { onError_ = std::move(handler); }
    const TNotifyEvent& OnBreak() const { return onBreak_; }
    void SetOnBreak(TNotifyEvent handler);
    const TNotifyEvent& OnRing() const { return onRing_; }
    void SetOnRing(TNotifyEvent handler);
    const TSignalChangeEvent& OnSignalChange() const { return onSignalChange_; }
    void SetOnSignalChange(TSignalChangeEvent handler);
    // Held for form compatibility; the component never raises it.
    const TWriteCompletedEvent& OnWriteCompleted() const { return onWriteCompleted_; }
    void SetOnWriteCompleted(TWriteCompletedEvent handler) { onWriteCompleted_ = std::move(handler); }

    // Public, not published -----------------------------------------------------------------------------
    bool Active() const { return active_; }
    // Closes an open port, then opens it when `value` is true (so true on an open port reopens it).
    void SetActive(bool value);

    // Queues all of `s` for the open port and returns: the event thread writes it whole, in order, as
    // the device takes it, and reports a failure as it happens. On a closed port nothing is sent and the
    // bad-descriptor failure is recorded and notified at once; its dialog shows once per closed period.
    // On a lost device the loss is recorded and notified again, its dialog rationed as for the session.
    void SendString(const std::string& s);
    // How long the device may take to accept `bytes` of one SendString: a second beyond their time on
    // the wire (else ETIMEDOUT, and what is queued is dropped).
    int WriteTimeoutMs(std::size_t bytes) const;
    // The time `bytes` take on the wire at the line's settings, rounded up.
    std::int64_t WireMs(std::size_t bytes) const;
    // Reads at most one received byte, waiting up to 100 ms; returns how many (0 or 1). For mode rxNormal.
    int ReadByte(char& b);
    // Builds the device-control and time-out records from the settings; applies them if open.
    void ConfigurePort();
    // Raises (true) or drops (false) RTS (kLineRts) or DTR (kLineDtr); the result is not checked.
    void SetModemLine(int line, bool state);
    // Records `code` in ErrorCode and notifies it as NotifyErrors says.
    void ReportError(int code);

    // Observers ---------------------------------------------------------------------------------------
    const TDcb& Dcb() const { return dcb_; }
    const TCommTimeouts& Timeouts() const { return timeouts_; }
    // The event thread is serving the open port.
    bool ThreadBusy() const { return threadBusy_; }
    // Partial messages dropped because they grew past the framing bound.
    std::uint32_t MessageOverflows() const { return overflows_; }
    // The device the port number stood for at the last opening (kept when opening it failed); empty
    // when the number named none.
    const std::string& DevicePath() const { return devicePath_; }
    // Breaks, bytes dropped for parity or framing errors, and overruns of the open port since it opened
    // (where the driver reports them; a pty has none).
    TLineErrors LineErrors();
    // Called on the user-interface thread when the device has taken all the bytes of one SendString.
    void SetOnSent(TSentEvent handler);
    // Called by closing (not by the destructor) with how many bytes of strings reported sent the device
    // still held and closing dropped: with flow control, which may hold the line for good, closing never
    // waits for them; without it, only those that did not go out in their time on the wire.
    void SetOnDropped(TDroppedEvent handler) { onDropped_ = std::move(handler); }

private:
    friend class TEventThread;

    void Open();
    void Close();
    void Reapply() { SetActive(active_); }
    // Calls OnError for every failure; the dialog only when `showDialog` (dialogs are rationed).
    void Notify(int code, bool showDialog);
    void WakeThread();

    // Event-thread side.
    void Serve();
    std::uint32_t WantedEvents() const;
    int WriteQueued(std::vector<std::string>& accepted, int& waitMs);
    std::size_t DropQueued();
    std::size_t DrainSent(std::size_t unsent);
    void HandleEvents(std::uint32_t events, std::uint64_t generation);
    bool HandleSignal(std::uint32_t events, std::uint32_t bit, std::uint32_t onBit, bool& state,
                      eModemInSignal which, std::uint64_t generation);
    bool Drain(std::uint64_t generation);
    bool BeginDeviceUse(std::uint64_t generation);
    void EndDeviceUse();
    bool Deliver(std::uint64_t generation, std::function<void()> fn);
    void DeliverFailure(std::uint64_t generation, int code, bool lost);

    std::unique_ptr<ISerialDevice> device_;

    // Settings (user-interface thread).
    sPorts port_ = 1;
    std::int32_t baudrate_ = 9600;
    eParity parity_ = paNone;
    eDataBits dataBits_ = d7bit;
    eStopBits stopBits_ = st1bit;
    std::uint16_t rxQueueSize_ = 1024;
    std::uint16_t txQueueSize_ = 1024;
    eFlowControl flowMode_ = fcNone;
    bool checkParity_ = true;
    eNotifyErr notifyErrors_ = neDialog;
    std::int32_t errorCode_ = 0;
    TDcb dcb_;
    TCommTimeouts timeouts_;
    std::string devicePath_;
    // Dialogs are rationed; ErrorCode and OnError see every failure.
    bool sessionLost_ = false;        // the open device went away: no further dialog until it is closed
    bool closedSendReported_ = false; // a send on the closed port has been shown since the port closed

    // Read by the event thread on each event or byte, so changes take effect at once.
    std::atomic<eOpModes> rxEventMode_{rxNormal};
    std::atomic<char> messageStartChar_{0x02};
    std::atomic<char> messageEndChar_{0x03};
    std::atomic<std::uint16_t> messageAppendCount_{0};

    TNotifyEvent onRxData_, onTxEmpty_, onError_, onBreak_, onRing_;
    TRxMessageEvent onMessage_;
    TSignalChangeEvent onSignalChange_;
    TWriteCompletedEvent onWriteCompleted_;
    TSentEvent onSent_;
    TDroppedEvent onDropped_;
    // Whether a handler is assigned, as the event thread may ask; the handlers themselves are only
    // touched on the user-interface thread.
    std::atomic<bool> hasRxData_{false}, hasTxEmpty_{false}, hasMessage_{false}, hasBreak_{false},
        hasRing_{false}, hasSignalChange_{false}, hasSent_{false};

    // Output queued by SendString, one entry per call, written by the event thread. Guarded by tx_; the
    // event thread holds it across its (non-blocking) write, so a closer never drops bytes mid-write.
    struct TOutgoing {
        std::string bytes;
        int timeoutMs = 0;
    };
    std::mutex tx_;
    std::deque<TOutgoing> txQueue_;
    std::size_t txDone_ = 0; // bytes of the first entry the device has taken
    bool txStarted_ = false; // the first entry has been offered; its deadline runs
    std::chrono::steady_clock::time_point txDeadline_;
    std::atomic<std::size_t> txQueued_{0}; // bytes not yet taken by the device

    // Event-thread state; handlers see it unchanged because the thread waits while they run.
    TMessageFramer framer_;
    std::atomic<std::uint32_t> overflows_{0};
    bool cts_ = false, dsr_ = false, rlsd_ = false;

    // The closing handshake. Guarded by ctl_: active_ (written only on the user-interface thread, which
    // may read it unlocked), generation_ (one per opening), lostGeneration_, usingDevice_, terminate_.
    std::mutex ctl_;
    std::condition_variable ctlChanged_;
    bool active_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t lostGeneration_ = 0;
    int lostCode_ = 0; // the failure that lost lostGeneration_
    bool usingDevice_ = false;
    bool terminate_ = false;
    std::atomic<bool> threadBusy_{false};

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    TSyncChannel sync_;
    TEventThread thread_{*this};
};
