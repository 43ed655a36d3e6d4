#include "Win32SerialDevice.h"

#include "SystemError.h"
#include "Win32Dcb.h"

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Input held for a reader that does not read: past this no read is kept pending, and the bytes wait in
// the driver (whose flow control, if any, then holds the other end).
constexpr std::size_t kReadAheadLimit = 64 * 1024;
constexpr std::size_t kWriteChunk = 64 * 1024;

// The pending read waits for its first byte without limit and returns once the line has been quiet this
// long after it, or when its buffer is full. Windows' drivers and Wine's emulation agree on this one form;
// "return at once with what is queued" ({MAXDWORD, 0, 0}) would spin on Windows and hang under Wine.
constexpr DWORD kReadGapMs = 2;

// A line-event wait that the driver ends at once, again and again, without an event or a mask change is
// one it cannot hold (Wine's emulation): after these many the session goes on without line events.
constexpr int kEventAbortLimit = 3;

constexpr std::uint32_t kLineEvents =
    CommEvent::Cts | CommEvent::Dsr | CommEvent::Rlsd | CommEvent::Ring | CommEvent::Break;

int MinTimeout(int a, int b) {
    return a < 0 ? b : (b < 0 ? a : std::min(a, b));
}

int Error() {
    return static_cast<int>(GetLastError());
}

DWORD CommMaskFor(std::uint32_t want) {
    DWORD mask = 0;
    if (want & CommEvent::Cts)
        mask |= EV_CTS;
    if (want & CommEvent::Dsr)
        mask |= EV_DSR;
    if (want & CommEvent::Rlsd)
        mask |= EV_RLSD;
    if (want & CommEvent::Ring)
        mask |= EV_RING;
    if (want & CommEvent::Break)
        mask |= EV_BREAK | EV_ERR;
    return mask;
}

std::uint32_t EventsOf(DWORD bits) {
    std::uint32_t events = 0;
    if (bits & EV_CTS)
        events |= CommEvent::Cts;
    if (bits & EV_DSR)
        events |= CommEvent::Dsr;
    if (bits & EV_RLSD)
        events |= CommEvent::Rlsd;
    if (bits & EV_RING)
        events |= CommEvent::Ring;
    if (bits & EV_BREAK)
        events |= CommEvent::Break;
    return events;
}

} // namespace

std::unique_ptr<ISerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<TWin32SerialDevice>();
}

TWin32SerialDevice::TWin32SerialDevice() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    // Manual-reset: a completion stays visible to whichever thread looks at it first.
    read_.ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    write_.ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    events_.ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TWin32SerialDevice::~TWin32SerialDevice() {
    if (handle_ != INVALID_HANDLE_VALUE)
        Close();
    for (HANDLE h : {wake_, read_.ov.hEvent, write_.ov.hEvent, events_.ov.hEvent})
        if (h)
            CloseHandle(h);
}

int TWin32SerialDevice::Open(const std::string& path) {
    if (handle_ != INVALID_HANDLE_VALUE)
        return ERROR_BUSY;
    if (!wake_ || !read_.ov.hEvent || !write_.ov.hEvent || !events_.ov.hEvent)
        return ERROR_NOT_ENOUGH_MEMORY;
    // No sharing: Windows itself refuses a second opener with ERROR_ACCESS_DENIED.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Error();
    saved_ = DCB{};
    saved_.DCBlength = sizeof saved_;
    // Anything that is not a serial port has no line settings: refused before anything is written.
    if (!GetCommState(h, &saved_)) {
        const int code = Error();
        CloseHandle(h);
        return code;
    }
    DWORD status = 0;
    hasModemLines_ = GetCommModemStatus(h, &status) != 0;
    dtr_ = saved_.fDtrControl == DTR_CONTROL_ENABLE;
    rts_ = saved_.fRtsControl == RTS_CONTROL_ENABLE;
    {
        std::lock_guard lock(rx_);
        read_.busy = false;
        rxBuffer_.clear();
        rxNew_ = breakNew_ = false;
        readError_ = 0;
        errors_ = {};
    }
    {
        std::lock_guard lock(tx_);
        write_.busy = false;
        writeError_ = 0;
        txPending_ = false;
    }
    events_.busy = false;
    eventMaskSet_ = 0;
    eventAborts_ = 0;
    eventsUnsupported_ = false;
    ResetEvent(wake_);
    handle_ = h;
    return 0;
}

void TWin32SerialDevice::CancelAndSettle(TPending& op) {
    if (!op.busy)
        return;
    CancelIoEx(handle_, &op.ov);
    DWORD n = 0;
    GetOverlappedResult(handle_, &op.ov, &n, TRUE); // the record must not be reused while the driver holds it
    op.busy = false;
}

int TWin32SerialDevice::Close() {
    if (handle_ == INVALID_HANDLE_VALUE)
        return SystemError::BadHandle;
    {
        std::lock_guard lock(rx_);
        CancelAndSettle(read_);
    }
    {
        std::lock_guard lock(tx_);
        CancelAndSettle(write_);
    }
    CancelAndSettle(events_);
    SetCommState(handle_, &saved_); // fails on a lost device, which has no settings to keep
    const HANDLE h = handle_.exchange(INVALID_HANDLE_VALUE);
    return CloseHandle(h) ? 0 : Error();
}

int TWin32SerialDevice::SetupQueues(std::uint16_t rxSize, std::uint16_t txSize) {
    if (handle_ == INVALID_HANDLE_VALUE)
        return SystemError::BadHandle;
    return SetupComm(handle_, rxSize, txSize) ? 0 : Error();
}

int TWin32SerialDevice::ApplyDcb(const TDcb& record) {
    if (handle_ == INVALID_HANDLE_VALUE)
        return SystemError::BadHandle;
    baud_ = std::max<std::uint32_t>(record.BaudRate, 1);
    DCB dcb = DcbOfRecord(record, {dtr_, rts_});
    if (!SetCommState(handle_, &dcb))
        return Error();
    DCB took{};
    took.DCBlength = sizeof took;
    if (!GetCommState(handle_, &took))
        return Error();
    // As on Linux, a driver without modem lines (a pseudo-terminal behind Wine's COM mapping, say) keeps its
    // own data bits and parity and says nothing: only there are those two left out of the read-back.
    return DriverTookDcb(record, RecordOfDcb(took), !hasModemLines_) ? 0 : SystemError::Invalid;
}

int TWin32SerialDevice::ApplyTimeouts(const TCommTimeouts&) {
    // The record's own read form cannot keep a read pending (see kReadGapMs), and the component times its
    // writes itself (TSerial::WriteTimeoutMs): the driver is given the one form that serves both.
    if (handle_ == INVALID_HANDLE_VALUE)
        return SystemError::BadHandle;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = kReadGapMs;
    return SetCommTimeouts(handle_, &t) ? 0 : Error();
}

int TWin32SerialDevice::SetEventMask(std::uint32_t mask) {
    mask_ = mask;
    SetEvent(wake_);
    return handle_ == INVALID_HANDLE_VALUE ? SystemError::BadHandle : 0;
}

void TWin32SerialDevice::SetModemLine(int line, bool state) {
    (line == kLineDtr ? dtr_ : rts_) = state;
    const DWORD function = line == kLineDtr ? (state ? SETDTR : CLRDTR) : (state ? SETRTS : CLRRTS);
    EscapeCommFunction(handle_, function); // a driver without modem lines refuses; nothing to do then
}

// Counts what the driver reports of the line since it was last asked (rx_ held).
void TWin32SerialDevice::CountLineErrors() {
    DWORD flags = 0;
    if (!ClearCommError(handle_, &flags, nullptr))
        return;
    if (flags & CE_BREAK) {
        ++errors_.Breaks;
        breakNew_ = true;
    }
    if (flags & (CE_FRAME | CE_RXPARITY))
        ++errors_.Errors;
    if (flags & (CE_OVERRUN | CE_RXOVER))
        ++errors_.Overruns;
}

// Starts the read that waits for the next bytes (rx_ held).
int TWin32SerialDevice::StartRead() {
    if (read_.busy || rxBuffer_.size() >= kReadAheadLimit)
        return 0;
    ResetEvent(read_.ov.hEvent);
    DWORD n = 0;
    // Done at once or later, the result is collected the same way, by Harvest.
    if (ReadFile(handle_, readBuffer_, sizeof readBuffer_, &n, &read_.ov) ||
        GetLastError() == ERROR_IO_PENDING) {
        read_.busy = true;
        return 0;
    }
    return Error();
}

// Collects finished reads into the buffer and keeps the next one pending (rx_ held). 0, or the failure
// that ended the device.
int TWin32SerialDevice::Harvest() {
    for (;;) {
        if (readError_)
            return readError_;
        if (!read_.busy) {
            if (const int code = StartRead()) {
                readError_ = code;
                return code;
            }
            if (!read_.busy)
                return 0; // the buffer is full
        }
        DWORD n = 0;
        if (!GetOverlappedResult(handle_, &read_.ov, &n, FALSE)) {
            const int code = Error();
            if (code == ERROR_IO_INCOMPLETE)
                return 0;
            read_.busy = false;
            // Cancelled by a purge, or a time-out of an emulation that reports one: neither ends the line.
            if (code == ERROR_OPERATION_ABORTED || code == ERROR_TIMEOUT) {
                CountLineErrors();
                continue;
            }
            readError_ = code;
            return code;
        }
        read_.busy = false;
        if (n > 0) {
            rxBuffer_.append(readBuffer_, n);
            rxNew_ = true;
        }
        CountLineErrors();
    }
}

int TWin32SerialDevice::FinishWrite(bool wait) {
    if (!write_.busy)
        return 0;
    DWORD n = 0;
    if (GetOverlappedResult(handle_, &write_.ov, &n, wait ? TRUE : FALSE)) {
        write_.busy = false;
        return 0;
    }
    const int code = Error();
    if (code == ERROR_IO_INCOMPLETE)
        return 0;
    write_.busy = false;
    if (code != ERROR_OPERATION_ABORTED)
        writeError_ = code;
    return writeError_;
}

int TWin32SerialDevice::Purge() {
    if (handle_ == INVALID_HANDLE_VALUE)
        return SystemError::BadHandle;
    {
        std::lock_guard lock(rx_);
        CancelAndSettle(read_);
        rxBuffer_.clear();
        rxNew_ = false;
        if (!PurgeComm(handle_, PURGE_RXCLEAR))
            return Error();
    }
    std::lock_guard lock(tx_);
    // As on Linux, output is dropped only while the driver still counts some: bytes it no longer counts
    // have left it, and cancelling their write would only report them lost.
    COMSTAT stat{};
    DWORD flags = 0;
    if (!ClearCommError(handle_, &flags, &stat))
        return Error();
    if (stat.cbOutQue > 0) {
        CancelAndSettle(write_);
        txPending_ = false;
        if (!PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR))
            return Error();
    }
    return 0;
}

int TWin32SerialDevice::QueueCounts(std::int32_t& rx, std::int32_t& tx) {
    COMSTAT stat{};
    DWORD flags = 0;
    if (!ClearCommError(handle_, &flags, &stat))
        return Error();
    std::lock_guard lock(rx_);
    rx = static_cast<std::int32_t>(std::min<std::size_t>(stat.cbInQue + rxBuffer_.size(), INT32_MAX));
    tx = static_cast<std::int32_t>(std::min<DWORD>(stat.cbOutQue, INT32_MAX));
    return 0;
}

int TWin32SerialDevice::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    std::lock_guard lock(tx_);
    if (const int code = FinishWrite(false)) {
        writeError_ = 0;
        return code;
    }
    if (write_.busy || size == 0)
        return 0; // the driver still holds the last one: the caller waits for Writable
    writeBuffer_.assign(data, std::min(size, kWriteChunk));
    ResetEvent(write_.ov.hEvent);
    DWORD n = 0;
    if (!WriteFile(handle_, writeBuffer_.data(), static_cast<DWORD>(writeBuffer_.size()), &n, &write_.ov) &&
        GetLastError() != ERROR_IO_PENDING)
        return Error();
    write_.busy = true;
    written = writeBuffer_.size();
    txPending_ = true;
    return 0;
}

void TWin32SerialDevice::Wake() {
    SetEvent(wake_);
}

// Starts or retargets the line-event wait for what `want` asks (event thread only). 0, or a loss.
int TWin32SerialDevice::StartEventWait(std::uint32_t want) {
    if (eventsUnsupported_)
        return 0;
    const DWORD mask = CommMaskFor(want);
    if (mask != eventMaskSet_) {
        // A pending wait ends at once with no events when the mask changes.
        if (!SetCommMask(handle_, mask)) {
            const int code = Error();
            if (IsDeviceLoss(code))
                return code;
            eventsUnsupported_ = true;
            return 0;
        }
        eventMaskSet_ = mask;
        eventAborts_ = 0;
    }
    if (mask == 0 || events_.busy)
        return 0;
    ResetEvent(events_.ov.hEvent);
    eventBits_ = 0;
    if (WaitCommEvent(handle_, &eventBits_, &events_.ov) || GetLastError() == ERROR_IO_PENDING) {
        events_.busy = true;
        return 0;
    }
    const int code = Error();
    if (IsDeviceLoss(code))
        return code;
    eventsUnsupported_ = true; // no modem lines (ERROR_NOT_SUPPORTED): those events never fire
    return 0;
}

int TWin32SerialDevice::WaitEvent(std::uint32_t wanted, std::uint32_t& events, int timeoutMs) {
    events = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (handle_ == INVALID_HANDLE_VALUE)
            return SystemError::BadHandle;
        const std::uint32_t want = (mask_ & wanted) | (wanted & DeviceEvent::Writable);
        int left = -1;
        if (timeoutMs >= 0)
            left = static_cast<int>(
                std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              deadline - Clock::now() + std::chrono::microseconds(999))
                                              .count()));
        std::uint32_t ready = 0;
        int failure = 0;
        bool reading = false;
        {
            std::lock_guard lock(rx_);
            failure = Harvest();
            if ((want & CommEvent::RxChar) && rxNew_) {
                rxNew_ = false;
                ready |= CommEvent::RxChar;
            }
            if (breakNew_) {
                breakNew_ = false;
                ready |= want & CommEvent::Break;
            }
            reading = read_.busy;
        }
        bool writing = false;
        {
            std::lock_guard lock(tx_);
            if (const int code = FinishWrite(false)) {
                writeError_ = 0;
                failure = failure ? failure : code;
            }
            writing = write_.busy;
            if ((want & DeviceEvent::Writable) && !writing)
                ready |= DeviceEvent::Writable;
            if ((want & CommEvent::TxEmpty) && txPending_ && !writing) {
                // A port that cannot say how much it holds is gone: never "empty".
                COMSTAT stat{};
                DWORD flags = 0;
                if (!ClearCommError(handle_, &flags, &stat)) {
                    failure = failure ? failure : Error();
                } else if (stat.cbOutQue == 0) {
                    txPending_ = false;
                    ready |= CommEvent::TxEmpty;
                } else {
                    // Nothing tells when the driver's queue runs empty: look again about when it should
                    // have gone out on the wire (10 bits a byte).
                    const auto ms =
                        static_cast<int>(static_cast<std::uint64_t>(stat.cbOutQue) * 10000u / baud_) + 1;
                    left = MinTimeout(left, std::max(ms, 5));
                }
            }
        }
        if (events_.busy) {
            DWORD n = 0;
            if (GetOverlappedResult(handle_, &events_.ov, &n, FALSE)) {
                events_.busy = false;
                eventAborts_ = eventBits_ ? 0 : eventAborts_;
                if (eventBits_ & EV_ERR) {
                    std::lock_guard lock(rx_);
                    CountLineErrors();
                    breakNew_ = false;
                }
                ready |= EventsOf(eventBits_) & want;
            } else if (const int code = Error(); code != ERROR_IO_INCOMPLETE) {
                events_.busy = false;
                if (IsDeviceLoss(code))
                    failure = failure ? failure : code;
                else if (++eventAborts_ >= kEventAbortLimit)
                    eventsUnsupported_ = true;
            }
        }
        // Bytes that came before a failure are announced first; the failure is reported by the next wait.
        if (ready) {
            events = ready;
            return 0;
        }
        if (failure)
            return failure;
        if (const int code = StartEventWait(want & kLineEvents))
            return code;
        HANDLE handles[4];
        DWORD count = 0;
        handles[count++] = wake_;
        if (reading)
            handles[count++] = read_.ov.hEvent;
        if (writing && (want & (DeviceEvent::Writable | CommEvent::TxEmpty)))
            handles[count++] = write_.ov.hEvent;
        if (events_.busy)
            handles[count++] = events_.ov.hEvent;
        const DWORD r =
            WaitForMultipleObjects(count, handles, FALSE, left < 0 ? INFINITE : static_cast<DWORD>(left));
        if (r == WAIT_OBJECT_0)
            return 0; // woken (auto-reset: consumed)
        if (r == WAIT_FAILED)
            return Error();
        if (r == WAIT_TIMEOUT && timeoutMs >= 0 && Clock::now() >= deadline)
            return 0;
    }
}

int TWin32SerialDevice::Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) {
    got = 0;
    std::unique_lock lock(rx_);
    for (bool waited = false;;) {
        const bool wasFull = rxBuffer_.size() >= kReadAheadLimit;
        const int code = Harvest();
        if (!rxBuffer_.empty()) {
            got = std::min(size, rxBuffer_.size());
            rxBuffer_.copy(buffer, got);
            rxBuffer_.erase(0, got);
            if (rxBuffer_.empty())
                rxNew_ = false; // everything announced has been read
            if (wasFull)
                SetEvent(wake_); // room again: the wait starts reading ahead once more
            return 0;
        }
        if (code) {
            SetEvent(wake_); // the wait reports it too
            return code;
        }
        if (waited || timeoutMs <= 0 || !read_.busy)
            return 0;
        const HANDLE done = read_.ov.hEvent;
        lock.unlock();
        WaitForSingleObject(done, static_cast<DWORD>(timeoutMs));
        lock.lock();
        waited = true;
    }
}

std::uint32_t TWin32SerialDevice::ModemStatus() {
    DWORD status = 0;
    if (!GetCommModemStatus(handle_, &status))
        return 0;
    // MS_CTS_ON, MS_DSR_ON, MS_RING_ON and MS_RLSD_ON are the ModemBit values.
    return status & (ModemBit::CtsOn | ModemBit::DsrOn | ModemBit::RingOn | ModemBit::RlsdOn);
}

TLineErrors TWin32SerialDevice::LineErrors() {
    std::lock_guard lock(rx_);
    if (handle_ != INVALID_HANDLE_VALUE)
        CountLineErrors();
    return errors_;
}
