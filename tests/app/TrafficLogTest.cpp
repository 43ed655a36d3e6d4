// The traffic log: its lines as a reader of a field record meets them, the panel's events in the order they
// happened on a real pseudo-terminal, a log that can no longer be written (a full disk: /dev/full, and one
// that fills up in the middle of a line), and readers of its pipe that stop reading.
#include "TrafficLog.h"
#include "LoggedBoxes.h"
#include "PanelFixture.h"

#include <QDateTime>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimeZone>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A line without its time stamp, after checking the stamp's form.
std::string Event(const std::string& line) {
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d "));
    const QString text = QString::fromStdString(line);
    const QRegularExpressionMatch match = stamp.match(text);
    EXPECT_TRUE(match.hasMatch()) << line;
    return match.hasMatch() ? text.mid(match.capturedLength()).toStdString() : line;
}

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

// Files of this process may grow to `bytes` and no further while it lives: a write that would cross the
// limit is cut short there and the next one fails (EFBIG), as on a disk that has just filled up.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) : sizeAction_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        const rlimit limit{bytes, previous_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, sizeAction_);
    }

private:
    rlimit previous_{};
    void (*sizeAction_)(int);
};

class TrafficLogged : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        logFile = mapDir / "traffic.log";
    }
    void TearDown() override {
        form->SetTrafficLog(nullptr);
        app->SetMessageBoxService(&boxes);
        logged.reset();
        log.reset();
        PanelFixture::TearDown();
    }
    // The log as the program wires it: the window's traffic and every error box, shown by the recorder.
    void StartLog(const std::string& path) {
        std::string reason;
        log = TTrafficLog::Open(path, reason);
        ASSERT_TRUE(log) << reason;
        logged = std::make_unique<TLoggedBoxes>(*log, &boxes);
        logged->SetNote([this] { return form->OpenFailureNote(); });
        logged->ShowLogFailureIn(form->StatusBar1);
        app->SetMessageBoxService(logged.get());
        form->SetTrafficLog(log.get());
    }

    std::filesystem::path logFile;
    std::unique_ptr<TTrafficLog> log;
    std::unique_ptr<TLoggedBoxes> logged;
};

} // namespace

TEST(TrafficLogLine, stampsLocalTimeWithMillisecondsAndOffset_andEscapesEveryByteThatIsNotPlainText) {
    TLogTime time;
    time.year = 2026, time.month = 1, time.day = 2, time.hour = 3, time.minute = 4, time.second = 5;
    time.millisecond = 7;
    time.utcOffsetMinutes = -(3 * 60 + 30);
    EXPECT_EQ(FormatLogLine(time, ">",
                            std::string("\x02"
                                        "c=\x00\x01\x1f\x7f\x80\xff <ok\x03\x02",
                                        15)),
              "2026-01-02T03:04:05.007-03:30 > <STX>c=<00><01><1f><7f><80><ff> <3c>ok<ETX><STX>\n");
    time.utcOffsetMinutes = 5 * 60 + 45;
    time.millisecond = 999;
    EXPECT_EQ(FormatLogLine(time, "!", "line one\nline two"),
              "2026-01-02T03:04:05.999+05:45 ! line one<0a>line two\n");

    // The clock read in a zone east of Greenwich by a fraction of an hour: the offset and the wall time
    // are that zone's.
    ScopedTimeZone zone("XYZ-5:45");
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(5 * 3600 + 45 * 60);
    const TLogTime now = LogTimeNow();
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(5 * 3600 + 45 * 60);
    EXPECT_EQ(now.utcOffsetMinutes, 5 * 60 + 45);
    const QDateTime read(QDate(now.year, now.month, now.day),
                         QTime(now.hour, now.minute, now.second, now.millisecond), QTimeZone::utc());
    EXPECT_GE(read, before.addMSecs(-1));
    EXPECT_LE(read, after);
}

TEST_F(TrafficLogged, panelEvents_appendOneLineEachInTheOrderTheyHappened) {
    std::ofstream(logFile) << "an earlier run\n";
    StartLog(logFile.string());
    CountDeliveries();
    const std::string device = (mapDir / "com7").string();

    // A number with nothing behind it: connected in name, the port closed, a send refused.
    Connect(QStringLiteral("8"));
    form->btnPing->click();
    form->BitBtn6->click();

    Connect();
    form->BitBtn3->click();
    EXPECT_EQ(Sent(5), F("i=s"));
    Reply(F("I=1\x80"));
    form->seqEdit->setText("1x"); // Auto reads the period: the error report
    form->autobtn->click();
    form->autobtn->click();
    form->BitBtn6->click(); // disconnect
    form->BitBtn5->setEnabled(true);
    form->BitBtn5->click(); // the console's question box is no error
    ASSERT_EQ(boxes.boxes.size(), 4u);

    log->WaitUntilWritten();
    const std::vector<std::string> lines = Lines(logFile);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "an earlier run");
    std::vector<std::string> events;
    for (std::size_t i = 1; i < lines.size(); ++i)
        events.push_back(Event(lines[i]));
    // The failed open's line adds what the box leaves out: where the numbers do lead.
    const std::string opened = "! No such file or directory (COM numbers that lead somewhere now: ";
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0].substr(0, opened.size()), opened);
    EXPECT_NE(events[0].find("7 (/dev/pts/"), std::string::npos) << events[0];
    EXPECT_EQ(boxes.boxes[0].text, "No such file or directory");
    events[0] = "! No such file or directory";
    EXPECT_EQ(events, (std::vector<std::string>{
                          "! No such file or directory",
                          "! Bad file descriptor",
                          "connect COM7 " + device,
                          "> <STX>i=s<ETX>",
                          "< <STX>I=1<80><ETX>",
                          "! '1x' is not a valid integer value.",
                          "disconnect COM7 " + device,
                      }));
}

TEST_F(TrafficLogged, logOnAFullDisk_isShownOnTheStatusBarNotInABox_thenStops_andPollingGoesOn) {
    StartLog("/dev/full");
    CountDeliveries();
    Connect();
    QLabel* shown = nullptr;
    ASSERT_TRUE(
        RunUntil([&] { return (shown = form->StatusBar1->findChild<QLabel*>("logFailure")) != nullptr; }));
    EXPECT_EQ(shown->text(), "The traffic log /dev/full could not be written: No space left on device. "
                             "Logging has stopped; the panel goes on.");
    EXPECT_TRUE(log->Stopped());

    // A box would hold the idle hook, which sends the poller's queries, for as long as it stood.
    form->seqEdit->setText("1");
    form->autobtn->click();
    EXPECT_EQ(Sent(5, 5000), F("a=?"));
    Reply(F("A=1200"));
    EXPECT_EQ(Sent(5, 3000), F("c=?"));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(form->StatusBar1->findChildren<QLabel*>("logFailure").size(), 1);
}

TEST(TrafficLogFile, diskFillingUpInTheMiddleOfALine_leavesTheLastWholeLine_andNothingAfter) {
    const uavtest::PortMap folder("log");
    const std::filesystem::path logFile = folder.Dir() / "traffic.log";
    std::ofstream(logFile) << "an earlier run\n";
    std::string reason;
    std::unique_ptr<TTrafficLog> file = TTrafficLog::Open(logFile.string(), reason);
    ASSERT_TRUE(file) << reason;
    std::string failure;
    file->SetOnWriteFailure([&](const std::string& why) { failure = why; });
    {
        const ScopedFileSizeLimit limit(std::filesystem::file_size(logFile) + 100);
        file->Received("whole");
        file->Received(std::string(200, 'x'));
        file->WaitUntilWritten();
    }
    file->Received("after the stop");
    file.reset();
    EXPECT_EQ(failure, "File too large");
    const std::vector<std::string> lines = Lines(logFile);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Event(lines[1]), "< whole");
}

TEST(TrafficLogFile,
     readerThatStopsReading_linesBeyondTheQueueAreCounted_andTheCountIsLoggedWhenItReadsAgain) {
    const uavtest::PortMap folder("log");
    const std::string fifo = (folder.Dir() / "traffic.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string reason;
    std::unique_ptr<TTrafficLog> log = TTrafficLog::Open(fifo, reason, 4096);
    ASSERT_TRUE(log) << reason;
    // Far more than the pipe and the queue hold together.
    constexpr int kQueued = 5000;
    for (int i = 0; i < kQueued; ++i)
        log->Sent(std::to_string(i));
    std::string read;
    const auto drain = [&] {
        char buffer[65536];
        for (pollfd p{reader, POLLIN, 0}; poll(&p, 1, 500) > 0;)
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                read.append(buffer, static_cast<std::size_t>(n));
    };
    drain();
    log->Sent("after");
    drain();
    log.reset();
    close(reader);

    // Every line is there or counted, in order: each count stands where its lines would have been.
    std::istringstream lines(read);
    const std::string note = " lines not logged: the log could not be written fast enough";
    int next = 0, counted = 0;
    std::string line;
    while (next < kQueued && std::getline(lines, line)) {
        const std::string event = Event(line);
        if (event == "> " + std::to_string(next)) {
            ++next;
        } else {
            ASSERT_TRUE(event.starts_with("! ") && event.ends_with(note))
                << event << " where " << next << " was due";
            const int skipped = std::stoi(event.substr(2));
            next += skipped;
            counted += skipped;
        }
    }
    EXPECT_EQ(next, kQueued);
    EXPECT_GT(counted, 0);
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(Event(line), "> after");
    EXPECT_FALSE(std::getline(lines, line));
}

TEST(TrafficLogFile, readerThatTakesNothing_theEndWaitsABoundedTime_thenCountsTheLinesLeft) {
    const uavtest::PortMap folder("log");
    const std::string fifo = (folder.Dir() / "traffic.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO by its name, and the same FIFO as standard error (`--log -` into a pager nobody scrolls).
    for (const bool onStandardError : {false, true}) {
        SCOPED_TRACE(onStandardError ? "-" : fifo);
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        std::string reason;
        std::unique_ptr<TTrafficLog> log;
        if (onStandardError) {
            const int saved = dup(STDERR_FILENO);
            const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            dup2(writer, STDERR_FILENO);
            log = TTrafficLog::Open("-", reason);
            dup2(saved, STDERR_FILENO);
            close(writer);
            close(saved);
        } else {
            log = TTrafficLog::Open(fifo, reason);
        }
        ASSERT_TRUE(log) << reason;
        // Far more than the pipe holds.
        constexpr std::size_t kLines = 3000;
        for (std::size_t i = 0; i < kLines; ++i)
            log->Sent(std::string(100, 'x'));
        auto closing = std::async(std::launch::async, [&] { return log->Close(); });
        const bool ended =
            closing.wait_for(TTrafficLog::kExitWait + std::chrono::seconds(8)) == std::future_status::ready;
        // Read from here on, so a log that waits for ever lets the test go on to report it.
        std::string read;
        const auto drain = [&] {
            char buffer[65536];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                read.append(buffer, static_cast<std::size_t>(n));
        };
        while (closing.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            drain();
        drain();
        close(reader);
        EXPECT_TRUE(ended);
        const std::size_t left = closing.get();
        // What the pipe took is whole lines; the rest is counted.
        ASSERT_FALSE(read.empty());
        EXPECT_EQ(read.back(), '\n');
        EXPECT_GT(left, 0u);
        EXPECT_EQ(static_cast<std::size_t>(std::count(read.begin(), read.end(), '\n')) + left, kLines);
        EXPECT_EQ(log->Close(), 0u);
    }
}
