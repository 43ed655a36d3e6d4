#pragma once
// The seam between the serial component's rules and the operating system: the operations the component
// needs of a port. Every operation that can fail returns 0 or the system's error code (errno on Linux,
// GetLastError on Windows; SystemError.h names them).
// The user-interface thread opens, configures, purges and closes, and also reads (ReadByte) and counts the
// queues while the event thread waits, writes, reads and reads the modem status: Read, QueueCounts and
// LineErrors may run on both threads at once. The component guarantees that no call reaches a closed
// device.
#include "SerialTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Beside the port events: the driver can take output (asked of WaitEvent, never masked).
namespace DeviceEvent {
constexpr std::uint32_t Writable = 0x10000;
} // namespace DeviceEvent

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the terminal at `path`, exclusively.
    virtual int Open(const std::string& path) = 0;
    // Puts back the line settings found at open, then closes.
    virtual int Close() = 0;

    virtual int SetupQueues(std::uint16_t rxSize, std::uint16_t txSize) = 0;
    // Applies the record and reads back what the driver took (EINVAL for a setting it did not take).
    virtual int ApplyDcb(const TDcb& dcb) = 0;
    virtual int ApplyTimeouts(const TCommTimeouts& timeouts) = 0;
    // Selects the events WaitEvent may return; any change makes a waiting WaitEvent return with none.
    virtual int SetEventMask(std::uint32_t mask) = 0;
    // Raises or drops RTS (kLineRts) or DTR (kLineDtr); drivers without modem lines ignore it.
    virtual void SetModemLine(int line, bool state) = 0;
    // Drops what waits in the driver's input and output queues.
    virtual int Purge() = 0;
    // Bytes waiting in the driver's input and output queues.
    virtual int QueueCounts(std::int32_t& rx, std::int32_t& tx) = 0;
    // Hands the driver what it takes now of the `size` bytes at `data`, without waiting (`written` of
    // them; 0 when its queue is full).
    virtual int Write(const char* data, std::size_t size, std::size_t& written) = 0;

    // Waits until an event of the mask that is also in `wanted` occurs (its bits in `events`), until the
    // driver can take output when `wanted` holds DeviceEvent::Writable, until Wake() is called or the
    // mask changes (events = 0), or for at most timeoutMs (negative: no limit; events = 0). A lost device
    // fails with EIO.
    virtual int WaitEvent(std::uint32_t wanted, std::uint32_t& events, int timeoutMs) = 0;
    // Makes a waiting (or the next) WaitEvent return with no events.
    virtual void Wake() = 0;
    // Reads up to `size` bytes, waiting at most timeoutMs for the first; got = 0 when none came in time.
    // A lost device fails with EIO.
    virtual int Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) = 0;
    // CTS, DSR, ring and RLSD as ModemBit bits; 0 where the driver has no modem lines.
    virtual std::uint32_t ModemStatus() = 0;
    // Breaks, bytes dropped for errors and overruns since the device was opened (any thread).
    virtual TLineErrors LineErrors() = 0;
};

// The device of the system the program was built for (POSIX or Win32).
std::unique_ptr<ISerialDevice> MakeSystemSerialDevice();
