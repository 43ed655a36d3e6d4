#pragma once
// The serial device on Linux: a terminal opened non-blocking and exclusively, raw termios, and a wait in
// poll() on the device plus an eventfd, with no time limit unless output is under way. The wait reads
// what arrives into a buffer of its own before announcing it, so unread bytes never keep poll() awake;
// line errors come marked in that input (PARMRK). Modem-line changes come from a small thread blocked in
// TIOCMIWAIT, started only when the mask asks for them and the driver counts them (a pty does not); it
// compares the driver's counters before each wait, and compares them every 100 ms instead on a driver
// that counts but cannot wait.
#include "MarkedInput.h"
#include "PosixTermios.h"
#include "SerialDevice.h"

#include <atomic>
#include <condition_variable>
#include <linux/serial.h>
#include <memory>
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

    // What the modem-line thread shares with the device. It holds descriptors of its own, so a thread that
    // would not stop can be left behind by a closing device and end later on its own.
    struct TModemWatch {
        int fd = -1;   // a duplicate of the device's descriptor
        int wake = -1; // a duplicate of the eventfd
        std::shared_ptr<std::atomic<std::uint32_t>> events;
        std::atomic<bool> stop{false};
        std::mutex mutex;
        std::condition_variable changed; // stop asked, or the thread ended
        bool done = false;
    };

private:
    void Kick();
    bool DrainWake();
    std::uint32_t ReadyEvents(std::uint32_t want, bool& readAhead);
    int OutputLeft(int& out);
    bool HungUp();
    int Pull();
    int WatchModemLines();
    bool StopWatchingModemLines();

    std::atomic<int> fd_{-1};
    int wake_ = -1; // eventfd
    int wakeError_ = 0;
    std::atomic<bool> wakeAsked_{false}; // a Wake (not just a kick) is pending
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<bool> txPending_{false};
    std::atomic<std::uint32_t> baud_{9600};
    // How often the wait looks at an output queue that has not emptied yet (event thread only).
    std::int32_t txLastOut_ = -1;
    int txCheckMs_ = 0;
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

    // The modem-line thread, and the changes it saw that the wait has not announced yet.
    std::thread modemThread_;
    std::shared_ptr<TModemWatch> watch_;
    const std::shared_ptr<std::atomic<std::uint32_t>> modemEvents_ =
        std::make_shared<std::atomic<std::uint32_t>>(0);
};
