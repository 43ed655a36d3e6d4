#pragma once
// The traffic log for field records: one line per event, appended and written out at once, so a record
// survives a crash or a pulled plug up to its last event. No Qt.
//
//   2026-12-08T17:06:45.123+01:00 connect COM1 /home/op/.config/uavcontrol/ports/com1
//   2026-12-08T17:06:46.204+01:00 > <STX>a=?<ETX>
//   2026-12-08T17:06:46.219+01:00 < <STX>A=1200<ETX>
//   2026-12-08T17:06:51.730+01:00 ! Input/output error
//   2026-12-08T17:06:53.002+01:00 disconnect COM1 /home/op/.config/uavcontrol/ports/com1
//
// Time is local with its offset from UTC. Payloads are bytes: STX and ETX are written <STX> and <ETX>,
// every other control byte and every byte above 0x7E as <hh> (upper-case hex), so one event is one line of
// plain ASCII whatever the line carried.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct TLogTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0; // east of Greenwich is positive
};

// The local time now, read from the system clock and the time zone.
TLogTime LogTimeNow();
// "2026-12-08T17:06:45.123+01:00"
std::string FormatLogTime(const TLogTime& time);
// Bytes as the log writes them (see above).
std::string EscapeLogBytes(std::string_view bytes);
// One whole line, with its line feed: the time, the mark and the escaped payload, blank-separated.
std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload);

class TTrafficLog {
public:
    // Opens `path` for appending, creating it if need be; "-" is standard error. On failure returns null
    // and puts the system's reason ("No such file or directory") in `error`.
    static std::unique_ptr<TTrafficLog> Open(const std::string& path, std::string& error);
    ~TTrafficLog();
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    void Sent(std::string_view frame) { Write(">", frame); }
    void Received(std::string_view message) { Write("<", message); }
    void Error(std::string_view text) { Write("!", text); }
    void Connected(std::string_view port, std::string_view device);
    void Disconnected(std::string_view port, std::string_view device);

    // The first write that fails stops the log for good and calls this once with the system's reason.
    void SetOnWriteFailure(std::function<void(const std::string& reason)> handler) {
        onWriteFailure_ = std::move(handler);
    }
    bool Stopped() const { return stopped_; }
    const std::string& Path() const { return path_; }

private:
    TTrafficLog(int fd, bool ownsFd, std::string path) : fd_(fd), ownsFd_(ownsFd), path_(std::move(path)) {}
    void Write(std::string_view mark, std::string_view payload);

    int fd_;
    bool ownsFd_;
    std::string path_;
    bool stopped_ = false;
    std::function<void(const std::string&)> onWriteFailure_;
};
