// The traffic log on Windows' own calls: a file appended at its end, the local time with its offset, a
// pipe whose reader has gone (Windows has no SIGPIPE: a write error, reported once), and a reader who takes
// nothing at the program's end (the wait is cut short with CancelSynchronousIo).
#include "SystemError.h"
#include "TrafficLog.h"

#include <windows.h>

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The server end of a named pipe with a small buffer, which reads only when told to.
struct TPipeReader {
    explicit TPipeReader(const std::string& tag)
        : name("\\\\.\\pipe\\uav-log-" + tag + "-" + std::to_string(GetCurrentProcessId())),
          handle(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                  4096, 0, nullptr)) {}
    ~TPipeReader() { Close(); }
    void Close() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE));
    }
    std::string name;
    HANDLE handle;
};

} // namespace

TEST(TrafficLogWindows, fileLog_appendsAfterWhatIsThere_inLocalTimeWithItsOffset) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("uav-log-" + std::to_string(GetCurrentProcessId()) + ".log");
    std::ofstream(file, std::ios::binary) << "an earlier run\n";
    const QDateTime before = QDateTime::currentDateTime();
    std::string reason;
    auto log = TTrafficLog::Open(file.string(), reason);
    ASSERT_TRUE(log) << reason;
    log->Connected("COM3", "\\\\.\\COM3");
    log->Sent("\x02"
              "a=?\x03");
    EXPECT_EQ(log->Close(), 0u);
    // A second run appends after the first.
    log = TTrafficLog::Open(file.string(), reason);
    ASSERT_TRUE(log) << reason;
    log->Disconnected("COM3", "\\\\.\\COM3");
    log.reset();

    const std::string text = ReadAll(file);
    std::filesystem::remove(file);
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> got;
    while (std::getline(lines, line))
        got.push_back(line);
    ASSERT_EQ(got.size(), 4u) << text;
    EXPECT_EQ(got[0], "an earlier run");
    EXPECT_NE(got[1].find(" connect COM3 \\\\.\\COM3"), std::string::npos) << got[1];
    EXPECT_NE(got[2].find(" > <STX>a=?<ETX>"), std::string::npos) << got[2];
    EXPECT_NE(got[3].find(" disconnect COM3"), std::string::npos) << got[3];
    // The stamp is the wall clock's, with the zone's offset as the system states it.
    const QDateTime stamped =
        QDateTime::fromString(QString::fromStdString(got[1].substr(0, 29)), Qt::ISODateWithMs);
    ASSERT_TRUE(stamped.isValid()) << got[1];
    EXPECT_EQ(stamped.offsetFromUtc(), before.offsetFromUtc());
    EXPECT_GE(stamped, before.addMSecs(-1));
    EXPECT_LE(stamped, QDateTime::currentDateTime());
}

TEST(TrafficLogWindows, pipeWhoseReaderHasGone_isAWriteFailureReportedOnce) {
    std::string reason;
    EXPECT_FALSE(TTrafficLog::Open("\\\\.\\pipe\\uav-log-nobody-there", reason)) << "a pipe with no server";
    EXPECT_EQ(reason, SystemErrorText(ERROR_FILE_NOT_FOUND));

    TPipeReader reader("gone");
    ASSERT_NE(reader.handle, INVALID_HANDLE_VALUE);
    auto log = TTrafficLog::Open(reader.name, reason);
    ASSERT_TRUE(log) << reason;
    std::atomic<int> failures{0};
    std::string said;
    log->SetOnWriteFailure([&](const std::string& why) {
        said = why;
        ++failures;
    });
    reader.Close();
    for (int i = 0; i < 20; ++i)
        log->Sent("\x02"
                  "a=?\x03");
    log->WaitUntilWritten();
    EXPECT_TRUE(log->Stopped());
    EXPECT_EQ(log->Close(), 0u);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(said.empty());
    EXPECT_EQ(said.find_first_of(".\r\n"), std::string::npos)
        << "trimmed as the system's other texts: " << said;
}

TEST(TrafficLogWindows, readerThatTakesNothing_theEndWaitsABoundedTime_thenCountsTheLinesLeft) {
    TPipeReader reader("stalled");
    ASSERT_NE(reader.handle, INVALID_HANDLE_VALUE);
    std::string reason;
    auto log = TTrafficLog::Open(reader.name, reason);
    ASSERT_TRUE(log) << reason;
    // Far more than the pipe holds: the log's thread waits in a write.
    for (int i = 0; i < 2000; ++i)
        log->Received("\x02"
                      "A=1200 and some more text to fill the pipe sooner\x03");
    const auto start = std::chrono::steady_clock::now();
    std::promise<std::size_t> left;
    std::future<std::size_t> closed = left.get_future();
    std::thread([&log, &left] { left.set_value(log->Close()); }).detach();
    if (closed.wait_for(TTrafficLog::kExitWait + std::chrono::seconds(10)) != std::future_status::ready) {
        (void)log.release(); // its thread still waits: leaving it is all that is safe now
        FAIL() << "the end still waits for the reader";
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, TTrafficLog::kExitWait);
    EXPECT_GT(closed.get(), 0u) << "lines the reader did not take are counted";
}
