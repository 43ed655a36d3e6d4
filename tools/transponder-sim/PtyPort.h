#pragma once
// The simulator's end of a pseudo-terminal pair. The client opens the slave side as its serial port.
#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>

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
    // Called once the client has gone: discards what was written to it and not read, so the next client
    // starts clean, and lifts an exclusive claim it left behind (a client killed before it let go).
    // False when such a claim cannot be lifted: an ordinary user may not, and no other user could open
    // the line again; Renew() then makes a new one.
    bool DiscardUnread();
    // A new pair in place of this one: a new slave path, no client.
    void Renew();
    // Reads what a client that has gone wrote before it closed.
    std::string TakeLeftInput();
    // Writes to the client (as write(2) on the master) and starts watching for it to read.
    ssize_t Write(const char* data, std::size_t size);
    // Waits, at most `limit`, until the client has read since the last Write or has let go of the line;
    // false when it did neither. A client that reads in pieces counts as having read at its first piece.
    bool WaitUntilRead(std::chrono::milliseconds limit) const;
    // Closes the master: the slave device disappears, as on an unplug.
    void Close();

private:
    int fd_ = -1;
    // The master, edge-triggered for output: woken each time the client reads.
    int readWatch_ = -1;
    std::string slavePath_;
};

} // namespace sim
