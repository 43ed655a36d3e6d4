#pragma once
// The traffic log for field records: one line per event, appended and written out at once, so a record
// survives a crash or a pulled plug up to its last event. The caller stamps and formats the line; a thread
// of the log's own hands each line to the system in a write() of its own as soon as it is queued, so the
// panel never waits on the file system (a write after a pause costs it some 20 microseconds, most of the
// time from a reply to its display). No Qt.
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
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

struct TLogTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0; // east of Greenwich is positive
};

// The local time now, read from the system clock and the time zone.
TLogTime LogTimeNow();
// One whole line, with its line feed: the time ("2026-12-08T17:06:45.123+01:00"), the mark and the
// payload escaped as above, blank-separated.
std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload);

class TTrafficLog {
public:
    // Opens `path` for appending, creating it if need be; "-" is standard error. On failure returns null
    // and puts the system's reason ("No such file or directory") in `error`.
    static std::unique_ptr<TTrafficLog> Open(const std::string& path, std::string& error);
    // Writes what is still queued, then closes.
    ~TTrafficLog();
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    void Sent(std::string_view frame) { Write(">", frame); }
    void Received(std::string_view message) { Write("<", message); }
    void Error(std::string_view text) { Write("!", text); }
    void Connected(std::string_view port, std::string_view device);
    void Disconnected(std::string_view port, std::string_view device);

    // The first write that fails stops the log for good (what is queued is dropped) and calls this once,
    // on the log's thread, with the system's reason. Replacing it waits for a call in progress to end.
    void SetOnWriteFailure(std::function<void(const std::string& reason)> handler);
    bool Stopped() const { return stopped_; }
    const std::string& Path() const { return path_; }
    // Waits until every line queued so far has been written (or the log has stopped).
    void WaitUntilWritten();

private:
    TTrafficLog(int fd, bool ownsFd, std::string path);
    void Write(std::string_view mark, std::string_view payload);
    void Serve();
    bool WriteLine(const std::string& line, int& error);

    const int fd_;
    const bool ownsFd_;
    const std::string path_;
    std::atomic<bool> stopped_{false};

    std::mutex mutex_; // guards the queue and the two flags
    std::condition_variable queued_, written_;
    std::deque<std::string> queue_;
    bool writing_ = false; // the thread holds lines taken off the queue
    bool ending_ = false;
    std::mutex handlerMutex_;
    std::function<void(const std::string&)> onWriteFailure_;
    std::thread thread_; // last: started once everything above exists
};
