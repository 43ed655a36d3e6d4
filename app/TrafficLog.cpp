#include "TrafficLog.h"

#include "Printable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
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

// A descriptor of the log's own for standard error. A pipe or a terminal is opened anew, so the log's
// non-blocking writes are its own and not the shell's or the terminal's, which share standard error's
// open file; a file keeps the shared one (and its offset) and never blocks for long. Where nothing can be
// opened anew (a socket), the log writes to the shared one as it is, and may wait as long as it does.
int OwnStandardError() {
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0)
        return -1;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        const int fd = ::open("/proc/self/fd/2", O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0)
            return fd;
    }
    return ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
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
    // Opened without waiting: a FIFO with no reader refuses at once (ENXIO) where a plain open would wait
    // for one, before any window. Left non-blocking, so the log's thread waits for a pipe or terminal that
    // takes nothing where it can stop waiting (a regular file ignores the flag).
    const int fd =
        path == "-"
            ? OwnStandardError()
            : ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        struct stat st {};
        error = errno == ENXIO && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)
                    ? "it is a FIFO that no process is reading"
                    : std::strerror(errno);
        return nullptr;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TTrafficLog>(new TTrafficLog(fd, path, queueLimit, wake));
}

TTrafficLog::TTrafficLog(int fd, std::string path, std::size_t queueLimit, const int wake[2])
    : fd_(fd), file_(IsRegularFile(fd)), path_(std::move(path)), queueLimit_(queueLimit), wakeRead_(wake[0]),
      wakeWrite_(wake[1]), thread_([this] { Serve(); }) {}

TTrafficLog::~TTrafficLog() {
    Close();
    for (Line* line = queue_.exchange(nullptr); line;)
        delete std::exchange(line, line->next);
    for (const int fd : {fd_, wakeRead_, wakeWrite_})
        ::close(fd);
}

std::size_t TTrafficLog::Close() {
    if (!thread_.joinable())
        return 0;
    ending_ = true;
    Wake();
    thread_.join();
    return notWritten_;
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
        return; // a line queued meanwhile is dropped by the log's thread
    std::string text = FormatLogLine(LogTimeNow(), mark, payload);
    const std::size_t size = text.size();
    // Once one is dropped, all are until the queue is taken: the count stands where they were.
    bool refused = dropped_ != 0;
    if (!refused && queuedBytes_.fetch_add(size) + size > queueLimit_) {
        queuedBytes_ -= size;
        refused = true;
    }
    if (refused) {
        ++dropped_;
        ++submitted_;
        return;
    }
    auto* line = new Line{std::move(text)};
    Line* head = queue_.load(std::memory_order_relaxed);
    do
        line->next = head;
    while (!queue_.compare_exchange_weak(head, line, std::memory_order_release, std::memory_order_relaxed));
    ++submitted_;
    // The thread empties the queue whenever it wakes: only the first line after that needs to wake it.
    if (!head)
        Wake();
}

void TTrafficLog::Wake() {
    const char byte = 1;
    (void)!::write(wakeWrite_, &byte, 1); // a full pipe already holds a wake-up
}

void TTrafficLog::WaitUntilWritten() {
    const std::uint64_t target = submitted_;
    std::unique_lock lock(progressMutex_);
    progress_.wait(lock, [&] { return done_ >= target || finished_ || stopped_; });
}

void TTrafficLog::Progress(std::uint64_t lines, bool finished) {
    {
        std::lock_guard lock(progressMutex_);
        done_ += lines;
        finished_ = finished_ || finished;
    }
    progress_.notify_all();
}

TTrafficLog::Batch TTrafficLog::Take() {
    // The wake-ups first: a line queued after the exchange below leaves one that the next wait sees.
    char bytes[64];
    while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
    }
    Batch batch;
    Line* line = queue_.exchange(nullptr, std::memory_order_acquire);
    batch.dropped = dropped_.exchange(0);
    std::size_t bytesTaken = 0;
    for (; line; delete std::exchange(line, line->next)) {
        bytesTaken += line->text.size();
        batch.lines.push_back(std::move(line->text));
    }
    queuedBytes_ -= bytesTaken;
    std::reverse(batch.lines.begin(), batch.lines.end());
    return batch;
}

void TTrafficLog::Serve() {
    // The lowest ordinary priority: waking it rarely takes the processor from the panel in the middle of a
    // reply, and a busy machine still gives it its share (the idle class would give it none, and once in it
    // an ordinary user's thread can never leave it for the end of the program). Where refused, it runs as
    // any other.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    using Clock = std::chrono::steady_clock;
    // Lines written since the last flush must be on the disk by `syncBy`: one flush per burst of lines.
    bool unsynced = false;
    Clock::time_point syncBy;
    for (;;) {
        Batch batch = Take();
        const std::uint64_t taken = batch.lines.size() + batch.dropped;
        if (taken != 0 && !stopped_) {
            int error = 0;
            Outcome outcome = Outcome::Written;
            std::size_t written = 0;
            while (written < batch.lines.size() &&
                   (outcome = WriteLine(batch.lines[written], error)) == Outcome::Written)
                ++written;
            bool countWritten = batch.dropped == 0;
            if (outcome == Outcome::Written && !countWritten) {
                outcome = WriteLine(
                    FormatLogLine(LogTimeNow(), "!",
                                  std::to_string(batch.dropped) +
                                      " lines not logged: the log could not be written fast enough"),
                    error);
                countWritten = outcome == Outcome::Written;
            }
            if (outcome == Outcome::GaveUp) {
                const Batch rest = Take();
                notWritten_ = batch.lines.size() - written + (countWritten ? 0 : batch.dropped) +
                              rest.lines.size() + rest.dropped;
                Progress(taken, true);
                return;
            }
            if (outcome == Outcome::Failed) {
                unsynced = false;
                Stop(error);
            } else if (file_ && !unsynced) {
                unsynced = true;
                syncBy = Clock::now() + kSyncDelay;
            }
        }
        Progress(taken);
        const bool ending = ending_;
        const bool empty = queue_.load() == nullptr && dropped_ == 0;
        if (unsynced && ((ending && empty) || Clock::now() >= syncBy)) {
            unsynced = false;
            bool ok;
            while (!(ok = ::fdatasync(fd_) == 0) && errno == EINTR) {
            }
            if (!ok)
                Stop(errno);
            continue;
        }
        if (ending && empty) {
            Progress(0, true);
            return;
        }
        if (ending || !empty)
            continue;
        pollfd wake{wakeRead_, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(syncBy - Clock::now()).count();
        (void)::poll(&wake, 1, unsynced ? static_cast<int>(std::max<decltype(left)>(left, 0)) : -1);
    }
}

void TTrafficLog::Stop(int error) {
    // Stopped before the handler runs, so whatever it sets off (a box, another report) logs nothing; what
    // is queued now or later is dropped as the thread takes it.
    stopped_ = true;
    Progress(0);
    std::lock_guard handler(handlerMutex_);
    if (onWriteFailure_)
        onWriteFailure_(error != 0 ? std::strerror(error) : "nothing was written");
}

bool TTrafficLog::WaitWritable() {
    using Clock = std::chrono::steady_clock;
    for (;;) {
        if (ending_ && !giveUpAt_)
            giveUpAt_ = Clock::now() + kExitWait;
        int timeout = -1;
        if (giveUpAt_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*giveUpAt_ - Clock::now()).count();
            if (left <= 0)
                return false;
            timeout = static_cast<int>(left);
        }
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            return true; // the write says what is wrong
        if (fds[1].revents) {
            // New lines or the end: the lines wait on the queue, which is taken after this one.
            char bytes[64];
            while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
            }
        }
        if (fds[0].revents)
            return true;
    }
}

TTrafficLog::Outcome TTrafficLog::WriteLine(const std::string& line, int& error) {
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
        if (n < 0 && errno == EAGAIN) {
            if (!WaitWritable())
                return Outcome::GaveUp;
            continue;
        }
        error = n < 0 ? errno : 0;
        // A line cut short (the disk filled up in the middle of it) is taken back, so the file ends with
        // the last whole line. The offset is just past what this line put there.
        if (done > 0 && file_) {
            const off_t end = ::lseek(fd_, 0, SEEK_CUR);
            if (end >= static_cast<off_t>(done))
                (void)!::ftruncate(fd_, end - static_cast<off_t>(done));
        }
        return Outcome::Failed;
    }
    return Outcome::Written;
}
