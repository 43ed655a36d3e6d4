#pragma once
// Where the traffic log's lines go, and the wake-up its thread waits on: the system's half of the log, one
// file per system (LogOutputPosix.cpp, LogOutputWin32.cpp), so the log's rules (TrafficLog.cpp) are the
// same on both. Only the log's own thread uses it, but for Wake() and Interrupt(), which any thread may call.
// No Qt.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class TLogOutput {
public:
    // Opens `path` for appending, creating it if need be; "-" is standard error. A FIFO that no process
    // reads is refused at once, never waited for. On failure returns null with the system's reason.
    static std::unique_ptr<TLogOutput> Open(const std::string& path, std::string& error);
    virtual ~TLogOutput() = default;

    // A regular file: flushed to the disk, and a line cut short can be taken back.
    virtual bool IsFile() const = 0;

    enum class Status {
        Wrote,       // `taken` bytes (at least one) went to the system
        Full,        // a pipe or terminal takes nothing now (WaitWritable says when it may)
        Interrupted, // Interrupt() ended a write that was waiting for its reader
        Failed       // `error` says why; the output is of no further use
    };
    virtual Status Write(const char* data, std::size_t size, std::size_t& taken, std::string& error) = 0;
    // Waits until a write may take something (true), or until Wake() or `timeout` (false; none: no limit).
    virtual bool WaitWritable(std::optional<std::chrono::milliseconds> timeout) = 0;
    // Waits for Wake() at most `timeout` (none: no limit).
    virtual void WaitWoken(std::optional<std::chrono::milliseconds> timeout) = 0;
    // Forgets the wake-ups so far: a Wake() after this is seen by the next wait.
    virtual void TakeWakes() = 0;
    virtual void Wake() = 0;
    // Puts what was written on the disk (a file only).
    virtual bool Sync(std::string& error) = 0;
    // Cuts the last `bytes` bytes off a file: a line that the disk took only part of.
    virtual void TakeBack(std::size_t bytes) = 0;
    // Ends a write that waits for a reader who takes nothing, where the system's writes to a pipe or
    // terminal wait (Windows); where they never wait (Linux: the log writes without waiting), nothing.
    virtual void Interrupt() = 0;
};

// The calling thread at the lowest ordinary priority: it takes the processor rarely from the panel in the
// middle of a reply, and a busy machine still gives it its share. Where refused, it runs as any other.
void LowerThreadPriority();
