#pragma once
// The traffic log for field records: one line per event, appended. The caller stamps and formats the line;
// a thread of the log's own hands each line to the system in a write() of its own as soon as it is queued,
// so the panel never waits on the file system (a write after a pause costs it some 20 microseconds, most
// of the time from a reply to its display). Lines reach that thread through a lock-free list and a wake-up
// call: no lock is shared with it, so a writer held up by a busy machine never holds up the caller.
// What a record survives:
// - the program's crash: every line written, which is every event but those of the last microseconds;
// - a pulled plug or a system crash: a log on a file is flushed to the disk (fdatasync, FlushFileBuffers) at
// most
//   kSyncDelay after a line was written, so about the last quarter second is lost, more only on a
//   saturated machine (the thread runs at the lowest ordinary priority) or a stalled disk;
// - a full disk: a line is in the file whole or not at all; the log stops at the last whole line;
// - a stalled disk or a reader that stops reading: lines wait in memory up to kQueueLimit bytes, about an
//   hour of polling; beyond it they are dropped and counted, and the count is logged when writing resumes;
// - the program's end while a reader of its pipe or terminal takes nothing: the log waits kExitWait for
//   it, then gives up and says how many lines were left (Close).
// No Qt.
//
//   2026-12-08T17:06:45.123+01:00 connect COM1 /home/op/.config/uavcontrol/ports/com1
//   2026-12-08T17:06:46.204+01:00 > <STX>a=?<ETX>
//   2026-12-08T17:06:46.219+01:00 < <STX>A=1200<ETX>
//   2026-12-08T17:06:51.730+01:00 ! Input/output error
//   2026-12-08T17:06:53.002+01:00 disconnect COM1 /home/op/.config/uavcontrol/ports/com1
//
// Time is local with its offset from UTC. Payloads are bytes: STX and ETX are written <STX> and <ETX>,
// every other control byte, every byte above 0x7E and "<" itself as <hh> (lower-case hex), as the simulator
// and uavctl print them, so one event is one line of plain ASCII whatever the line carried.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TLogOutput;

struct TLogTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0; // east of Greenwich is positive
};

// The local time now, read from the system clock and the time zone (with the log's system calls).
TLogTime LogTimeNow();
// One whole line, with its line feed: the time ("2026-12-08T17:06:45.123+01:00"), the mark and the
// payload escaped as above, blank-separated.
std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload);

class TTrafficLog {
public:
    // How long a line written to a file waits at most before it is flushed to the disk.
    static constexpr std::chrono::milliseconds kSyncDelay{250};
    // How many bytes of lines may wait for the system to take them.
    static constexpr std::size_t kQueueLimit = 4u << 20;
    // How long the end of the program waits for a pipe or terminal that takes nothing.
    static constexpr std::chrono::milliseconds kExitWait{2000};

    // Opens `path` for appending, creating it if need be; "-" is standard error. On failure returns null
    // and puts the system's reason ("No such file or directory") in `error`; a FIFO that no process reads
    // is such a failure too, never a wait.
    static std::unique_ptr<TTrafficLog> Open(const std::string& path, std::string& error,
                                             std::size_t queueLimit = kQueueLimit);
    // Writes what is still queued and flushes a file to the disk, waiting at most kExitWait for a pipe or
    // terminal to take lines; returns how many lines it did not take (and were dropped). Nothing is logged
    // after. Later calls return 0.
    std::size_t Close();
    // Closes (see Close) if that was not done.
    ~TTrafficLog();
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    void Sent(std::string_view frame) { Write(">", frame); }
    void Received(std::string_view message) { Write("<", message); }
    void Error(std::string_view text) { Write("!", text); }
    void Connected(std::string_view port, std::string_view device);
    void Disconnected(std::string_view port, std::string_view device);

    // The first write (or flush to the disk) that fails stops the log for good: what is queued is dropped,
    // nothing is written after, and this is called once, on the log's thread, with the system's reason.
    // Replacing it waits for a call in progress to end.
    void SetOnWriteFailure(std::function<void(const std::string& reason)> handler);
    bool Stopped() const { return stopped_; }
    const std::string& Path() const { return path_; }
    // Waits until every line queued so far has been written (or the log has stopped).
    void WaitUntilWritten();

private:
    struct Line {
        std::string text;
        Line* next = nullptr;
    };
    // Lines taken off the queue, oldest first, and how many were refused after them.
    struct Batch {
        std::vector<std::string> lines;
        std::size_t dropped = 0;
    };
    enum class Outcome { Written, Failed, GaveUp };

    TTrafficLog(std::unique_ptr<TLogOutput> output, std::string path, std::size_t queueLimit);
    void Write(std::string_view mark, std::string_view payload);
    // The log's thread only, from here on.
    void Serve();
    Batch Take();
    Outcome WriteLine(const std::string& line, std::string& error);
    bool WaitWritable();
    void Stop(const std::string& reason);
    void Progress(std::uint64_t lines, bool finished = false);

    const std::unique_ptr<TLogOutput> output_;
    const bool file_; // a regular file: flushed to the disk, and a torn line can be taken back
    const std::string path_;
    const std::size_t queueLimit_;

    std::atomic<Line*> queue_{nullptr}; // newest first
    std::atomic<std::size_t> queuedBytes_{0};
    std::atomic<std::size_t> dropped_{0};     // lines refused since the queue was last taken, all after it
    std::atomic<std::uint64_t> submitted_{0}; // lines queued or refused
    std::atomic<bool> stopped_{false};
    std::atomic<bool> ending_{false};

    std::optional<std::chrono::steady_clock::time_point> giveUpAt_; // the log's thread's own
    std::size_t notWritten_ = 0;                                    // read after the thread ended

    // How far the thread has got, for those who wait on it (never the caller of Sent or Received).
    std::mutex progressMutex_;
    std::condition_variable progress_;
    std::uint64_t done_ = 0;
    bool finished_ = false;

    std::mutex handlerMutex_;
    std::function<void(const std::string&)> onWriteFailure_;
    std::thread thread_; // last: started once everything above exists
};
