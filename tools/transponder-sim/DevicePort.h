#pragma once
// The simulator's end on an existing serial device (a UART, a USB adapter's or a gadget's tty) instead
// of a pseudo-terminal: what is written here goes out on the device's line. Held as the panel holds a
// port, with an exclusive lock (flock and TIOCEXCL), at 9600 baud 8N1 raw; its previous settings are put
// back when it closes. Offers what the simulator's loop asks of a pseudo-terminal's master.
#include <chrono>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace sim {

class DevicePort {
public:
    // Opens and sets up `path`. Throws std::system_error naming the path: missing, busy, not a
    // terminal, or settings the driver did not take.
    explicit DevicePort(std::string path);
    ~DevicePort();
    DevicePort(const DevicePort&) = delete;
    DevicePort& operator=(const DevicePort&) = delete;

    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // A line has no notion of a client: the other end is always there while the device is. A device
    // that went away (an unplug, a hang-up) ends the simulator: throws std::system_error.
    bool ClientPresent() const;
    bool DiscardUnread();
    std::string TakeLeftInput() { return {}; }
    // Writes to the line (as write(2)).
    ssize_t Write(const char* data, std::size_t size) const { return ::write(fd_, data, size); }
    // Waits until the driver has sent everything written, at most `limit`; true when it has.
    bool WaitUntilRead(std::chrono::milliseconds limit) const;
    void Close();

private:
    std::string path_;
    int fd_ = -1;
    termios previous_{};
};

} // namespace sim
