#pragma once
// The serial device on Windows: a COM port opened exclusively for overlapped I/O. One read is kept
// pending into a buffer of the device's own, so arriving bytes are announced without a read the caller
// must time; line events come from an overlapped WaitCommEvent; writes are handed to the driver without
// waiting for the wire. The wait is WaitForMultipleObjects on those operations plus an event Wake() sets.
#include "SerialDevice.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

class TWin32SerialDevice final : public ISerialDevice {
public:
    TWin32SerialDevice();
    ~TWin32SerialDevice() override;
    TWin32SerialDevice(const TWin32SerialDevice&) = delete;
    TWin32SerialDevice& operator=(const TWin32SerialDevice&) = delete;

    int Open(const std::string& path) override;
    int Close() override;
    int SetupQueues(std::uint16_t rxSize, std::uint16_t txSize) override;
    int ApplyDcb(const TDcb& dcb) override;
    int ApplyTimeouts(const TCommTimeouts& timeouts) override;
    int SetEventMask(std::uint32_t mask) override;
    void SetModemLine(int line, bool state) override;
    int Purge() override;
    int QueueCounts(std::int32_t& rx, std::int32_t& tx) override;
    int Write(const char* data, std::size_t size, std::size_t& written) override;
    int WaitEvent(std::uint32_t wanted, std::uint32_t& events, int timeoutMs) override;
    void Wake() override;
    int Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) override;
    std::uint32_t ModemStatus() override;
    TLineErrors LineErrors() override;

private:
    // One overlapped operation: its record, its buffer and whether it is under way.
    struct TPending {
        OVERLAPPED ov{};
        bool busy = false;
    };

    int StartRead();
    int Harvest();
    void CountLineErrors();
    int FinishWrite(bool wait);
    int StartEventWait(std::uint32_t want);
    void CancelAndSettle(TPending& op);

    std::atomic<HANDLE> handle_{INVALID_HANDLE_VALUE};
    HANDLE wake_ = nullptr;
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<std::uint32_t> baud_{9600};
    DCB saved_{};
    bool dtr_ = false;
    bool rts_ = false;
    bool hasModemLines_ = false;

    // The read kept pending, what it brought ahead of the reader, and the line's error counts. rx_.
    std::mutex rx_;
    TPending read_;
    char readBuffer_[4096];
    std::string rxBuffer_;
    bool rxNew_ = false;
    bool breakNew_ = false;
    int readError_ = 0;
    TLineErrors errors_;

    // The write under way. tx_.
    std::mutex tx_;
    TPending write_;
    std::string writeBuffer_;
    int writeError_ = 0;
    bool txPending_ = false; // output went out since the last TxEmpty

    // The line-event wait (event thread only). The driver may refuse it (no modem lines, or an emulation
    // that aborts it at once); the session then goes on without those events.
    TPending events_;
    DWORD eventBits_ = 0;
    DWORD eventMaskSet_ = 0;
    int eventAborts_ = 0;
    bool eventsUnsupported_ = false;
};
