#pragma once
// The serial device on Linux: a terminal opened non-blocking and exclusively, raw termios, and a wait in
// poll() on the device plus an eventfd, with no time limit unless output is under way. The wait reads
// what arrives into a buffer of its own before announcing it, so unread bytes never keep poll() awake;
// line errors come marked in that input (PARMRK). Modem-line changes come from a small thread blocked in
// TIOCMIWAIT, started only when the mask asks for them and the driver counts them (a pty does not).
#include "MarkedInput.h"
#include "PosixTermios.h"
#include "SerialDevice.h"

#include <atomic>
#include <condition_variable>
#include <linux/serial.h>
#include <mutex>
#include <string>
#include <thread>

class TPosixSerialDevice final : public ISerialDevice {
public:
    TPosixSerialDevice();
    ~TPosixSerialDevice() override;
    TPosixSerialDevice(const TPosixSerialDevice&) = delete;
    TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

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

    // The modem-line thread is running (for tests).
    bool WatchingModemLines() const { return modemThread_.joinable(); }

private:
    void Kick();
    bool DrainWake();
    std::uint32_t ReadyEvents(std::uint32_t want, int& timeoutMs, bool& readAhead);
    int Pull();
    void WatchModemLines(int fd);
    void StopWatchingModemLines();

    std::atomic<int> fd_{-1};
    int wake_ = -1; // eventfd
    int wakeError_ = 0;
    std::atomic<bool> wakeAsked_{false}; // a Wake (not just a kick) is pending
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<bool> txPending_{false};
    std::atomic<std::uint32_t> baud_{9600};
    bool hasCounters_ = false;   // TIOCGICOUNT works
    bool hasModemLines_ = false; // TIOCMGET works; without it the driver fixes its own framing (a pty)
    serial_icounter_struct openCounters_{};
    TTerminalSnapshot saved_;

    // Input read ahead of the reader, and what its marks said. Guarded by rx_.
    std::mutex rx_;
    std::string rxBuffer_;
    TMarkedInput marks_;
    TLineErrors errors_;
    bool rxNew_ = false;    // bytes arrived since the last announcement
    bool breakNew_ = false; // a break arrived since the last announcement
    int readError_ = 0;     // the read ahead found the device gone; the next wait reports it

    // The modem-line thread.
    std::thread modemThread_;
    std::atomic<bool> modemStop_{false};
    std::atomic<std::uint32_t> modemEvents_{0};
    std::mutex modemMutex_;
    std::condition_variable modemEnded_;
    bool modemDone_ = false;
};
