#pragma once
// The simulator's end of a pseudo-terminal pair. The client opens the slave side as its serial port.
#include <chrono>
#include <cstddef>
#include <string>

namespace sim {

class PtyPort {
public:
    // Opens a master (non-blocking), sets the pair to raw 8N1 at 9600 baud, and opens and closes the
    // slave once so the master starts in the "no client" (hung-up) state. Throws std::system_error.
    PtyPort();
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    int Fd() const { return fd_; }
    const std::string& SlavePath() const { return slavePath_; }

    // True while some process holds the slave open. The master reports a hang-up otherwise.
    bool ClientPresent() const;
    // Discards what was written to the client but not read by it, so the next client starts clean.
    void DiscardUnread();
    // Reads what a client that has gone wrote before it closed.
    std::string TakeLeftInput();
    // Waits until the client has read everything written to it, at most `limit`; true when it has.
    bool WaitUntilRead(std::chrono::milliseconds limit) const;
    // Closes the master: the slave device disappears, as on an unplug.
    void Close();

private:
    int fd_ = -1;
    std::string slavePath_;
};

} // namespace sim
