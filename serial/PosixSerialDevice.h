#pragma once
// The serial device on Linux: a terminal opened non-blocking and exclusively, raw termios, and a wait in
// poll() on the device plus an eventfd. The event thread sleeps until one of them wakes it, except that it
// looks again every 20 ms while received bytes lie unread, when queued output should have gone out, and
// every 50 ms for the modem and break counters of UARTs that keep them.
#include "SerialDevice.h"

#include <atomic>
#include <linux/serial.h>

class TPosixSerialDevice final : public ISerialDevice {
public:
    TPosixSerialDevice();
    ~TPosixSerialDevice() override;
    TPosixSerialDevice(const TPosixSerialDevice&) = delete;
    TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

    int Open(const std::string& name) override;
    int Close() override;
    int SetupQueues(std::uint16_t rxSize, std::uint16_t txSize) override;
    int ApplyDcb(const TDcb& dcb) override;
    int ApplyTimeouts(const TCommTimeouts& timeouts) override;
    int SetEventMask(std::uint32_t mask) override;
    void SetModemLine(int line, bool state) override;
    int Purge() override;
    int QueueCounts(std::int32_t& rx, std::int32_t& tx) override;
    int Write(const std::string& bytes, int timeoutMs) override;
    int WaitEvent(std::uint32_t wanted, std::uint32_t& events) override;
    void Wake() override;
    int Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) override;
    std::uint32_t ModemStatus() override;

    // The path the last Open resolved its name to (for diagnostics and tests).
    const std::string& Path() const { return path_; }

private:
    void Kick();
    bool DrainWake();
    std::uint32_t ReadyEvents(std::uint32_t want, int& timeoutMs, bool& pollIn);
    std::uint32_t CounterEvents(std::uint32_t want);

    std::atomic<int> fd_{-1};
    int wake_ = -1;                      // eventfd
    std::atomic<bool> wakeAsked_{false}; // a Wake (not just a kick) is pending
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<std::int32_t> announced_{0}; // input bytes already announced as received
    std::atomic<bool> txPending_{false};
    std::atomic<std::uint32_t> baud_{9600};
    bool hasCounters_ = false;
    serial_icounter_struct counters_{};
    std::string path_;
};
