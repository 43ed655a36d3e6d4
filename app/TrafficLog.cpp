#include "TrafficLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

TLogTime LogTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    TLogTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    time.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return time;
}

std::string FormatLogTime(const TLogTime& time) {
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second, time.millisecond,
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string EscapeLogBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0x02) {
            out += "<STX>";
        } else if (b == 0x03) {
            out += "<ETX>";
        } else if (b < 0x20 || b > 0x7E) {
            out += '<';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
            out += '>';
        } else {
            out += c;
        }
    }
    return out;
}

std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload) {
    std::string line = FormatLogTime(time);
    line += ' ';
    line += mark;
    line += ' ';
    line += EscapeLogBytes(payload);
    line += '\n';
    return line;
}

std::unique_ptr<TTrafficLog> TTrafficLog::Open(const std::string& path, std::string& error) {
    if (path == "-")
        return std::unique_ptr<TTrafficLog>(new TTrafficLog(STDERR_FILENO, false, path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TTrafficLog>(new TTrafficLog(fd, true, path));
}

TTrafficLog::~TTrafficLog() {
    if (ownsFd_)
        ::close(fd_);
}

void TTrafficLog::Connected(std::string_view port, std::string_view device) {
    Write("connect", std::string(port) + ' ' + std::string(device));
}

void TTrafficLog::Disconnected(std::string_view port, std::string_view device) {
    Write("disconnect", std::string(port) + ' ' + std::string(device));
}

void TTrafficLog::Write(std::string_view mark, std::string_view payload) {
    if (stopped_)
        return;
    // One write() per line and no buffer of our own: each line is in the file when the call returns.
    const std::string line = FormatLogLine(LogTimeNow(), mark, payload);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Stopped before the handler runs: whatever it does (a box, another report) logs nothing more.
        stopped_ = true;
        const std::string reason = n < 0 ? std::strerror(errno) : "nothing was written";
        if (onWriteFailure_)
            onWriteFailure_(reason);
        return;
    }
}
