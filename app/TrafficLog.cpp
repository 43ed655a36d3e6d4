#include "TrafficLog.h"

#include "Printable.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

// Written by hand rather than with snprintf: a line costs well under a microsecond even when the caches
// are cold after a pause, which is how the panel meets it.
void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

void AppendTime(std::string& out, const TLogTime& time) {
    // 2026-12-08T17:06:45.123+01:00: each field with its width and the character after it.
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    const struct {
        int value;
        int width;
        char after;
    } fields[] = {{time.year, 4, '-'},
                  {time.month, 2, '-'},
                  {time.day, 2, 'T'},
                  {time.hour, 2, ':'},
                  {time.minute, 2, ':'},
                  {time.second, 2, '.'},
                  {time.millisecond, 3, time.utcOffsetMinutes < 0 ? '-' : '+'},
                  {offset / 60, 2, ':'},
                  {offset % 60, 2, '\0'}};
    for (const auto& field : fields) {
        AppendDigits(out, field.value, field.width);
        if (field.after != '\0')
            out += field.after;
    }
}

} // namespace

TLogTime LogTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The calendar fields change once a second: the time zone's rules are consulted only then.
    thread_local time_t second = -1;
    thread_local tm local{};
    if (now.tv_sec != second) {
        localtime_r(&now.tv_sec, &local);
        second = now.tv_sec;
    }
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

std::string FormatLogLine(const TLogTime& time, std::string_view mark, std::string_view payload) {
    std::string line;
    // The time, two blanks, the line feed, and room for a few escapes.
    line.reserve(32 + mark.size() + payload.size() + 16);
    AppendTime(line, time);
    line += ' ';
    line += mark;
    line += ' ';
    proto::AppendPrintable(line, payload);
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

TTrafficLog::TTrafficLog(int fd, bool ownsFd, std::string path)
    : fd_(fd), ownsFd_(ownsFd), path_(std::move(path)), thread_([this] { Serve(); }) {}

TTrafficLog::~TTrafficLog() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    queued_.notify_one();
    thread_.join();
    if (ownsFd_)
        ::close(fd_);
}

void TTrafficLog::SetOnWriteFailure(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(handlerMutex_);
    onWriteFailure_ = std::move(handler);
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
    std::string line = FormatLogLine(LogTimeNow(), mark, payload);
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(line));
    }
    queued_.notify_one();
}

void TTrafficLog::WaitUntilWritten() {
    std::unique_lock lock(mutex_);
    written_.wait(lock, [this] { return (queue_.empty() && !writing_) || stopped_; });
}

void TTrafficLog::Serve() {
    // Below every ordinary thread: waking it never takes the processor from the panel in the middle of
    // a reply, and a line still goes out within microseconds on any machine that is not saturated. (Where
    // the policy is refused the thread runs as any other.)
    sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty())
            return; // ending, and everything is written
        std::deque<std::string> lines;
        lines.swap(queue_);
        writing_ = true;
        lock.unlock();
        int error = 0;
        bool ok = true;
        for (const std::string& line : lines)
            if (!(ok = WriteLine(line, error)))
                break;
        if (!ok) {
            // Stopped before the handler runs: whatever it sets off (a box, another report) logs nothing.
            stopped_ = true;
            std::lock_guard handler(handlerMutex_);
            if (onWriteFailure_)
                onWriteFailure_(error != 0 ? std::strerror(error) : "nothing was written");
        }
        lock.lock();
        writing_ = false;
        if (!ok)
            queue_.clear();
        written_.notify_all();
    }
}

bool TTrafficLog::WriteLine(const std::string& line, int& error) {
    // One write() per line and no buffer of our own: each line is in the file as soon as it is written.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        error = n < 0 ? errno : 0;
        return false;
    }
    return true;
}
