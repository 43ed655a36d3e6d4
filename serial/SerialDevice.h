#pragma once
// The seam between the serial component's rules and the operating system: the operations the component
// needs of a port. Every operation that can fail returns 0 or the system's error code (errno).
// The user-interface thread opens, configures, writes and closes; the event thread waits, reads and
// reads the modem status. The component guarantees that no call reaches a closed device.
#include "SerialTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the port by its "COM<n>" name, exclusively.
    virtual int Open(const std::string& name) = 0;
    virtual int Close() = 0;

    virtual int SetupQueues(std::uint16_t rxSize, std::uint16_t txSize) = 0;
    virtual int ApplyDcb(const TDcb& dcb) = 0;
    virtual int ApplyTimeouts(const TCommTimeouts& timeouts) = 0;
    // Selects the events WaitEvent may return; any change makes a waiting WaitEvent return with none.
    virtual int SetEventMask(std::uint32_t mask) = 0;
    // Raises or drops RTS (kLineRts) or DTR (kLineDtr); drivers without modem lines ignore it.
    virtual void SetModemLine(int line, bool state) = 0;
    // Abandons transfers in progress; the queues keep their bytes.
    virtual int Purge() = 0;
    // Bytes waiting in the driver's input and output queues.
    virtual int QueueCounts(std::int32_t& rx, std::int32_t& tx) = 0;
    // Writes all of `bytes`, waiting at most timeoutMs for room in the output queue (ETIMEDOUT then).
    virtual int Write(const std::string& bytes, int timeoutMs) = 0;

    // Waits, without a time limit, until an event of the mask that is also in `wanted` occurs (its bits
    // in `events`), or Wake() is called or the mask changes (events = 0). A lost device fails with EIO.
    virtual int WaitEvent(std::uint32_t wanted, std::uint32_t& events) = 0;
    // Makes a waiting (or the next) WaitEvent return with no events.
    virtual void Wake() = 0;
    // Reads up to `size` bytes, waiting at most timeoutMs for the first; got = 0 when none came in time.
    // A lost device fails with EIO.
    virtual int Read(char* buffer, std::size_t size, int timeoutMs, std::size_t& got) = 0;
    // CTS, DSR, ring and RLSD as ModemBit bits; 0 where the driver has no modem lines.
    virtual std::uint32_t ModemStatus() = 0;
};
