#include "LogOutput.h"
#include "TrafficLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

void TakeAll(int fd) {
    char bytes[64];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
}

int Timeout(std::optional<std::chrono::milliseconds> timeout) {
    return timeout ? static_cast<int>(std::max<std::chrono::milliseconds::rep>(timeout->count(), 0)) : -1;
}

// Non-blocking writes and a wake-up pipe, both watched with poll().
class TPosixLogOutput final : public TLogOutput {
public:
    TPosixLogOutput(int fd, const int wake[2])
        : fd_(fd), file_(IsRegularFile(fd)), wakeRead_(wake[0]), wakeWrite_(wake[1]) {}
    ~TPosixLogOutput() override {
        for (const int fd : {fd_, wakeRead_, wakeWrite_})
            ::close(fd);
    }

    bool IsFile() const override { return file_; }

    Status Write(const char* data, std::size_t size, std::size_t& taken, std::string& error) override {
        for (;;) {
            const ssize_t n = ::write(fd_, data, size);
            if (n > 0) {
                taken = static_cast<std::size_t>(n);
                return Status::Wrote;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return Status::Full;
            error = n < 0 ? std::strerror(errno) : "nothing was written";
            return Status::Failed;
        }
    }

    bool WaitWritable(std::optional<std::chrono::milliseconds> timeout) override {
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, Timeout(timeout)) < 0 && errno != EINTR)
            return true; // the write says what is wrong
        if (fds[1].revents)
            TakeAll(wakeRead_);
        return fds[0].revents != 0;
    }

    void WaitWoken(std::optional<std::chrono::milliseconds> timeout) override {
        pollfd wake{wakeRead_, POLLIN, 0};
        (void)::poll(&wake, 1, Timeout(timeout));
    }

    void TakeWakes() override { TakeAll(wakeRead_); }

    void Wake() override {
        const char byte = 1;
        (void)!::write(wakeWrite_, &byte, 1); // a full pipe already holds a wake-up
    }

    bool Sync(std::string& error) override {
        while (::fdatasync(fd_) != 0) {
            if (errno != EINTR) {
                error = std::strerror(errno);
                return false;
            }
        }
        return true;
    }

    void TakeBack(std::size_t bytes) override {
        // The offset is just past what the last write put there.
        const off_t end = ::lseek(fd_, 0, SEEK_CUR);
        if (end >= static_cast<off_t>(bytes))
            (void)!::ftruncate(fd_, end - static_cast<off_t>(bytes));
    }

    void Interrupt() override {}

private:
    const int fd_; // the log's own: its flags are no one else's
    const bool file_;
    const int wakeRead_, wakeWrite_;
};

} // namespace

std::unique_ptr<TLogOutput> TLogOutput::Open(const std::string& path, std::string& error) {
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
    return std::make_unique<TPosixLogOutput>(fd, wake);
}

void LowerThreadPriority() {
    // Nice 19 rather than the idle class: once in it, an ordinary user's thread can never leave it.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

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
