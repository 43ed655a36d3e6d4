#include "TrafficLog.h"

#include "Printable.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

bool IsRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
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

std::unique_ptr<TTrafficLog> TTrafficLog::Open(const std::string& path, std::string& error,
                                               std::size_t queueLimit) {
    if (path == "-")
        return std::unique_ptr<TTrafficLog>(new TTrafficLog(STDERR_FILENO, false, path, queueLimit));
    // Opened without waiting: a FIFO with no reader refuses at once (ENXIO) where a plain open would wait
    // for one, before any window. The log's own writes wait as usual.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        struct stat st {};
        error = errno == ENXIO && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)
                    ? "it is a FIFO that no process is reading"
                    : std::strerror(errno);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<TTrafficLog>(new TTrafficLog(fd, true, path, queueLimit));
}

TTrafficLog::TTrafficLog(int fd, bool ownsFd, std::string path, std::size_t queueLimit)
    : fd_(fd), ownsFd_(ownsFd), file_(IsRegularFile(fd)), path_(std::move(path)), queueLimit_(queueLimit),
      thread_([this] { Serve(); }) {}

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
        return; // spares the formatting; the check that counts is the one below
    std::string line = FormatLogLine(LogTimeNow(), mark, payload);
    {
        std::lock_guard lock(mutex_);
        if (stopped_)
            return;
        // Once one is dropped, all are until the queue is taken: the count stands where they were.
        if (dropped_ || queuedBytes_ + line.size() > queueLimit_) {
            ++dropped_;
            return;
        }
        queuedBytes_ += line.size();
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
    using Clock = std::chrono::steady_clock;
    // Lines written since the last flush must be on the disk by `syncBy`: one flush per burst of lines.
    bool unsynced = false;
    Clock::time_point syncBy;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto due = [this] { return ending_ || !queue_.empty(); };
        if (unsynced)
            queued_.wait_until(lock, syncBy, due);
        else
            queued_.wait(lock, due);
        int error = 0;
        bool ok = true;
        if (!queue_.empty()) {
            std::deque<std::string> lines;
            lines.swap(queue_);
            queuedBytes_ = 0;
            const std::size_t dropped = std::exchange(dropped_, 0);
            writing_ = true;
            lock.unlock();
            if (dropped)
                lines.push_back(FormatLogLine(
                    LogTimeNow(), "!",
                    std::to_string(dropped) + " lines not logged: the log could not be written fast enough"));
            for (const std::string& line : lines)
                if (!(ok = WriteLine(line, error)))
                    break;
            if (ok && file_ && !unsynced) {
                unsynced = true;
                syncBy = Clock::now() + kSyncDelay;
            }
            lock.lock();
            writing_ = false;
        }
        if (ok && unsynced && ((ending_ && queue_.empty()) || Clock::now() >= syncBy)) {
            unsynced = false;
            lock.unlock();
            while (!(ok = ::fdatasync(fd_) == 0) && errno == EINTR) {
            }
            error = ok ? 0 : errno;
            lock.lock();
        }
        if (!ok) {
            unsynced = false;
            Stop(error, lock);
        }
        written_.notify_all();
        if (ending_ && queue_.empty() && !unsynced)
            return;
    }
}

void TTrafficLog::Stop(int error, std::unique_lock<std::mutex>& lock) {
    // Stopped, with the queue emptied, in one step under the lock, so no line is queued or written after;
    // and before the handler runs, so whatever it sets off (a box, another report) logs nothing.
    stopped_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    lock.unlock();
    {
        std::lock_guard handler(handlerMutex_);
        if (onWriteFailure_)
            onWriteFailure_(error != 0 ? std::strerror(error) : "nothing was written");
    }
    lock.lock();
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
        // A line cut short (the disk filled up in the middle of it) is taken back, so the file ends with
        // the last whole line. The offset is just past what this line put there.
        if (done > 0 && file_) {
            const off_t end = ::lseek(fd_, 0, SEEK_CUR);
            if (end >= static_cast<off_t>(done))
                (void)!::ftruncate(fd_, end - static_cast<off_t>(done));
        }
        return false;
    }
    return true;
}
