#include "LogOutput.h"
#include "SystemError.h"
#include "TrafficLog.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>

namespace {

std::wstring Wide(const std::string& text) {
    // The command line's path in the system's code page, as the C library's own file calls take it.
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

DWORD Milliseconds(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout)
        return INFINITE;
    return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(timeout->count(), 0));
}

// Plain writes, which wait while a pipe's or console's reader takes nothing; the end of the program cuts
// such a wait short with CancelSynchronousIo. A file's writes go to its end whoever else appends to it.
class TWin32LogOutput final : public TLogOutput {
public:
    TWin32LogOutput(HANDLE handle, HANDLE wake)
        : handle_(handle), file_(GetFileType(handle) == FILE_TYPE_DISK), wake_(wake) {}
    ~TWin32LogOutput() override {
        for (const HANDLE h : {handle_, wake_, thread_.load()})
            if (h)
                CloseHandle(h);
    }

    bool IsFile() const override { return file_; }

    Status Write(const char* data, std::size_t size, std::size_t& taken, std::string& error) override {
        if (!thread_) {
            // The thread that writes, for Interrupt to reach.
            HANDLE self = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                            THREAD_TERMINATE, FALSE, 0);
            thread_ = self;
        }
        if (interrupted_)
            return Status::Interrupted;
        OVERLAPPED end{};
        end.Offset = end.OffsetHigh = 0xFFFFFFFF; // at the end of the file
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (WriteFile(handle_, data, chunk, &written, file_ ? &end : nullptr) && written > 0) {
            taken = written;
            return Status::Wrote;
        }
        const DWORD code = GetLastError();
        if (interrupted_ && code == ERROR_OPERATION_ABORTED)
            return Status::Interrupted;
        // A pipe whose reader has gone says so here (ERROR_NO_DATA, ERROR_BROKEN_PIPE): Windows has no signal
        // for it.
        error = written == 0 && code == ERROR_SUCCESS ? "nothing was written"
                                                      : SystemErrorText(static_cast<int>(code));
        return Status::Failed;
    }

    bool WaitWritable(std::optional<std::chrono::milliseconds>) override { return true; }

    void WaitWoken(std::optional<std::chrono::milliseconds> timeout) override {
        WaitForSingleObject(wake_, Milliseconds(timeout));
    }

    void TakeWakes() override { ResetEvent(wake_); }
    void Wake() override { SetEvent(wake_); }

    bool Sync(std::string& error) override {
        if (FlushFileBuffers(handle_))
            return true;
        error = SystemErrorText(LastSystemError());
        return false;
    }

    void TakeBack(std::size_t bytes) override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size) || size.QuadPart < static_cast<LONGLONG>(bytes))
            return;
        size.QuadPart -= static_cast<LONGLONG>(bytes);
        if (SetFilePointerEx(handle_, size, nullptr, FILE_BEGIN))
            SetEndOfFile(handle_);
    }

    void Interrupt() override {
        interrupted_ = true;
        if (const HANDLE thread = thread_)
            CancelSynchronousIo(thread);
    }

private:
    const HANDLE handle_;
    const bool file_;
    const HANDLE wake_; // manual reset: set by Wake, reset by TakeWakes
    std::atomic<HANDLE> thread_{nullptr};
    std::atomic<bool> interrupted_{false};
};

} // namespace

std::unique_ptr<TLogOutput> TLogOutput::Open(const std::string& path, std::string& error) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (path == "-") {
        // The C library's standard error, which is where a stream closed at start was put back (on the null
        // device), duplicated so the log's handle is its own.
        const HANDLE standardError = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
        if (standardError == INVALID_HANDLE_VALUE ||
            !DuplicateHandle(GetCurrentProcess(), standardError, GetCurrentProcess(), &handle, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            error = SystemErrorText(LastSystemError());
            return nullptr;
        }
    } else {
        // Shared for reading, writing and deletion, so an operator can watch, copy or remove it while the
        // panel runs. A pipe by name with no server fails at once.
        handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = SystemErrorText(LastSystemError());
            return nullptr;
        }
    }
    const HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wake) {
        error = SystemErrorText(LastSystemError());
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<TWin32LogOutput>(handle, wake);
}

void LowerThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

namespace {

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

TLogTime LogTimeNow() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    constexpr ULONGLONG kTicksPerSecond = 10'000'000;
    const ULONGLONG ticks = Ticks(now);
    // The calendar fields change once a second: the time zone's rules are consulted only then.
    thread_local ULONGLONG second = ~0ull;
    thread_local SYSTEMTIME local{};
    thread_local int offsetMinutes = 0;
    if (ticks / kTicksPerSecond != second) {
        second = ticks / kTicksPerSecond;
        FILETIME whole{};
        const ULONGLONG start = second * kTicksPerSecond;
        whole.dwLowDateTime = static_cast<DWORD>(start);
        whole.dwHighDateTime = static_cast<DWORD>(start >> 32);
        SYSTEMTIME utc{};
        FileTimeToSystemTime(&whole, &utc);
        SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
        FILETIME localTime{};
        SystemTimeToFileTime(&local, &localTime);
        offsetMinutes =
            static_cast<int>((static_cast<long long>(Ticks(localTime)) - static_cast<long long>(start)) /
                             (60 * static_cast<long long>(kTicksPerSecond)));
    }
    TLogTime time;
    time.year = local.wYear;
    time.month = local.wMonth;
    time.day = local.wDay;
    time.hour = local.wHour;
    time.minute = local.wMinute;
    time.second = local.wSecond;
    time.millisecond = static_cast<int>(ticks % kTicksPerSecond / 10'000);
    time.utcOffsetMinutes = offsetMinutes;
    return time;
}
