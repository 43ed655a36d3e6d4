// The panel under faults and bad input: a line unplugged in the middle of a sequence and plugged back, a
// flood of random bytes, letters never answered, a very long console command, a port held by another
// process, a COM link to something that is not a terminal, and operator fields holding text no number
// reader expects. Each checks that nothing is lost on the way and that the window goes on serving its
// event loop: a short timer keeps beating and the idle hook keeps running.
#include "KxTypes.h"
#include "MessageFramer.h"
#include "PanelFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A frozen window: longer than any stall a loaded two-core machine gives a live one.
constexpr long long kFrozenMs = 5000;

// A short periodic timer on the user-interface thread; the longest gap between its beats shows whether
// anything held the event loop.
class Heartbeat {
public:
    Heartbeat() {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            const auto now = Clock::now();
            maxGapMs_ = std::max<long long>(
                maxGapMs_, std::chrono::duration_cast<std::chrono::milliseconds>(now - last_).count());
            last_ = now;
            ++beats_;
        });
        timer_.start(10);
    }
    long long MaxGapMs() const { return maxGapMs_; }
    long long Beats() const { return beats_; }

private:
    QTimer timer_;
    Clock::time_point last_ = Clock::now();
    long long maxGapMs_ = 0;
    long long beats_ = 0;
};

QString FromLatin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The memo keeps every character as it came, except that a line feed or carriage return starts a new line.
QString AsMemoLine(QString text) {
    text.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
    text.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
    return text;
}

QString MemoText(TForm1& form) {
    return form.RxData->document()->toRawText();
}

// Writes bytes into the transponder's end from a thread of its own, as a device would, whatever the
// user-interface thread is doing.
class Writer {
public:
    Writer(int fd, std::string bytes) : bytes_(std::move(bytes)) {
        thread_ = std::thread([this, fd] {
            std::size_t done = 0;
            while (done < bytes_.size() && !stop_) {
                const ssize_t n =
                    write(fd, bytes_.data() + done, std::min<std::size_t>(65536, bytes_.size() - done));
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    break;
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
            }
            written_ = done;
        });
    }
    ~Writer() {
        stop_ = true;
        thread_.join();
    }
    bool Finished() {
        if (thread_.joinable() && written_ == bytes_.size()) {
            thread_.join();
            thread_ = std::thread([] {});
        }
        return written_ == bytes_.size();
    }

private:
    std::string bytes_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

using Simulator = uavtest::SimulatorProcess;

class Faults : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        // The idle hook as the program installs it, counted, and the queries it sends counted too.
        app->SetOnIdle([this](QObject* sender, bool& done) {
            ++idleRuns;
            const bool due = form->queryDue;
            form->AppIdle(sender, done);
            if (due && !form->queryDue)
                ++queriesSent;
        });
    }
    void TearDown() override {
        sims.clear();
        PanelFixture::TearDown();
    }

    // Counts and keeps every message the port hands to the window, before the window's own handler.
    void Watch() {
        form->SerialComm->SetOnMessage([this](TObject* sender, const std::string& message) {
            ++delivered;
            largestMessage = std::max(largestMessage, message.size());
            if (keepMessages)
                messages += message;
            form->SerialCommMessage(sender, message);
            mostPending = std::max(mostPending, form->rxMsg.size());
        });
    }

    // The window still answers: a zero-delay timer fires, the idle hook runs again, and no beat of the
    // heartbeat waited as long as a frozen window would make it.
    void ExpectResponsive(const Heartbeat& heart) {
        bool fired = false;
        QTimer::singleShot(0, qApp, [&] { fired = true; });
        const long long idleBefore = idleRuns;
        const long long beatsBefore = heart.Beats();
        EXPECT_TRUE(
            RunUntil([&] { return fired && idleRuns > idleBefore && heart.Beats() > beatsBefore; }, 10000));
        EXPECT_LT(heart.MaxGapMs(), kFrozenMs);
    }

    // An altitude timer tick as the program runs it: an error ends the handler and is reported.
    void AltitudeTick() {
        app->Guard([this] { form->altTimerTimer(form->altTimer); });
    }

    Simulator& StartSimulator(int com, const std::vector<std::string>& extra) {
        sims.push_back(std::make_unique<Simulator>(mapDir, com, extra));
        EXPECT_TRUE(RunUntil([&] { return sims.back()->HasLink(); }, 5000)) << sims.back()->Log();
        return *sims.back();
    }

    std::vector<std::unique_ptr<Simulator>> sims;
    long long idleRuns = 0;
    long long queriesSent = 0;
    std::size_t largestMessage = 0;
    std::size_t mostPending = 0;
    bool keepMessages = false;
    std::string messages;
};

class FaultsWithSimulator : public Faults {};

} // namespace

// ---- Against the simulator ---------------------------------------------------------------------------

TEST_F(FaultsWithSimulator, unplugDuringASequence_reportedOnce_connectWhileMissingReported_replugPollsAgain) {
    Simulator& first = StartSimulator(4, {"--drop-after", "5"});
    Heartbeat heart;
    Connect(QStringLiteral("4"));
    ASSERT_TRUE(form->SerialComm->Active());
    Watch();
    form->autobtn->click();

    // The line goes after the fifth answer, as a pulled cable takes it.
    ASSERT_TRUE(RunUntil([&] { return !first.Running() && !boxes.boxes.empty(); }, 20000));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Input/output error");
    const Simulator::Wire before = first.Frames();
    ASSERT_EQ(before.in.size(), 5u);
    EXPECT_EQ(before.in[0], "<STX>a=?<ETX>");
    EXPECT_EQ(before.in[4], "<STX>s=?<ETX>");
    EXPECT_EQ(before.out.size(), 5u);
    // The simulator holds the line until its last answer has been read, which it checks through the device
    // itself; the panel's exclusive hold lets only root do that, so for anyone else the last answer may
    // go down with the line, as it can with a real cable.
    const std::size_t certain = geteuid() == 0 ? 5 : 4;
    EXPECT_GE(delivered, certain) << "every answer sent before the unplug reaches the window";
    EXPECT_LE(delivered, 5u);
    EXPECT_TRUE(form->rxMsg.empty());

    // The poller and the buttons go on writing to the dead line: no second report, no spin.
    for (int i = 0; i < 5; ++i) {
        form->btnPing->click();
        form->BitBtn3->click();
    }
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    ExpectResponsive(heart);

    // Disconnect ends the lost connection quietly; Connect while the adapter is still out tells why it
    // fails, once (the panel enters its connected state all the same, as after any failed open).
    form->BitBtn6->click();
    EXPECT_FALSE(form->SerialComm->Active());
    EXPECT_EQ(boxes.boxes.size(), 1u);
    form->BitBtn6->click();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].caption, "Error");
    EXPECT_EQ(boxes.boxes[1].text, "No such file or directory");
    EXPECT_FALSE(form->SerialComm->Active());

    // Plugged back: the same COM number leads to a new line; Disconnect and Connect take it up.
    Simulator& second = StartSimulator(4, {});
    form->BitBtn6->click();
    EXPECT_EQ(boxes.boxes.size(), 2u) << "disconnecting a port that never opened says nothing";
    form->BitBtn6->click();
    ASSERT_TRUE(form->SerialComm->Active());
    EXPECT_EQ(form->BitBtn6->text(), "Disconnect");
    delivered = 0;
    queriesSent = 0;
    form->autobtn->click();
    ASSERT_TRUE(RunUntil(
        [&] { return form->autoIndi->LED()->ColorOn() == clGreen && form->Label16->Caption() == "13"; },
        20000));
    EXPECT_EQ(form->lblCode->Caption().size(), 4);
    EXPECT_FALSE(form->lblVersion->Caption().isEmpty());
    // Nothing lost either way: what the window sent the simulator read, what it answered the window got.
    EXPECT_TRUE(RunUntil(
        [&] {
            const Simulator::Wire after = second.Frames();
            return static_cast<long long>(after.in.size()) == queriesSent && after.out.size() == delivered &&
                   form->rxMsg.empty();
        },
        5000))
        << "sent " << queriesSent << " read " << second.Frames().in.size() << "; answered "
        << second.Frames().out.size() << " delivered " << delivered;
    EXPECT_GE(queriesSent, 13);
    // Disconnecting leaves the stalled sequence's watchdog running: if the line stayed out long enough, it
    // restarted the poller into the closed port, which says so once, as any send on a closed port does.
    ASSERT_LE(boxes.boxes.size(), 3u);
    if (boxes.boxes.size() == 3) {
        EXPECT_EQ(boxes.boxes[2].text, "Bad file descriptor");
    }
    ExpectResponsive(heart);
}

TEST_F(FaultsWithSimulator, letterNeverAnswered_stallsTheSequence_untilTheWatchdogStartsItAgain) {
    Simulator& sim = StartSimulator(4, {"--mute", "r"});
    Heartbeat heart;
    Connect(QStringLiteral("4"));
    Watch();
    form->autobtn->click();

    // a, c and i are answered; r never is, so the sequence waits at step 4 until the watchdog fires.
    int highestStep = 0;
    bool greenWhileStalled = false;
    auto queriesOfA = [&] {
        const Simulator::Wire wire = sim.Frames();
        return std::count(wire.in.begin(), wire.in.end(), "<STX>a=?<ETX>");
    };
    ASSERT_TRUE(RunUntil(
        [&] {
            highestStep = std::max(highestStep, form->Label16->Caption().toInt());
            if (form->Label16->Caption() == "4" && form->autoIndi->LED()->ColorOn() == clGreen)
                greenWhileStalled = true;
            return queriesOfA() >= 2;
        },
        20000));
    EXPECT_EQ(highestStep, 4);
    EXPECT_TRUE(greenWhileStalled) << "the watchdog, not the sequence's end, turned the lamp green";
    const Simulator::Wire wire = sim.Frames();
    const std::vector<std::string> firstRound(wire.in.begin(), wire.in.begin() + 5);
    EXPECT_EQ(firstRound, (std::vector<std::string>{"<STX>a=?<ETX>", "<STX>c=?<ETX>", "<STX>i=?<ETX>",
                                                    "<STX>r=?<ETX>", "<STX>a=?<ETX>"}));
    EXPECT_TRUE(RunUntil([&] { return sim.Frames().out.size() == delivered && form->rxMsg.empty(); }, 5000));
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectResponsive(heart);
}

// The program's whole life in a process of its own (tests/app/PanelRun.cpp): connected to a transponder
// that talks a thousand times a second, closed by File > Exit.
TEST_F(FaultsWithSimulator, closingTheWindowWhileFramesPourIn_exitsAtOnce_portReleasedFirst_noThreadLeft) {
    Simulator& sim = StartSimulator(5, {"--interrogations", "1000"});
    const std::string device = fs::canonical(mapDir / "com5").string();
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    std::string path = PANEL_RUN_PATH, com = "5", closeAfterMs = "500";
    char* argv[] = {path.data(), com.data(), closeAfterMs.data(), nullptr};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv);
        _exit(127);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::string said;
    int status = -1;
    auto exited = [&] {
        char buf[256];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0)
            said.append(buf, static_cast<std::size_t>(n));
        return status != -1 || waitpid(child, &status, WNOHANG) == child;
    };
    auto waitFor = [&](const std::function<bool()>& done, int limitMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!done() && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    };
    const bool closing =
        waitFor([&] { return exited() || said.find("closing") != std::string::npos; }, 20000);
    const auto closedAt = Clock::now();
    const bool gone = closing && waitFor(exited, 10000);
    const auto exitMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closedAt).count();
    if (!gone) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    exited();
    close(out[0]);
    ASSERT_TRUE(gone) << "the program did not end; it said: " << said;
    ASSERT_NE(said.find("closing"), std::string::npos) << said;
    const Simulator::Wire wire = sim.Frames();
    ASSERT_GE(std::count(wire.out.begin(), wire.out.end(), "<STX>*<ETX>"), 100)
        << "the transponder was to be talking when the window closed";

    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LT(exitMs, 1000);
    std::cout << "[ shutdown ] ended " << exitMs << " ms after File > Exit\n";
    EXPECT_EQ(said, "closing\ndone\n") << "threads left or the port still open when the run was over";
    // Closed as the component closes it: the exclusive claim, which a pseudo-terminal keeps past its
    // holder's end unless released, is gone.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << strerror(errno);
    int exclusive = -1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
}

// ---- Against a raw pseudo-terminal -------------------------------------------------------------------

TEST_F(Faults, floodOfTenMegabytesOfRandomBytes_everyFrameInItArrives_boundsHold_windowStaysLive) {
    Connect();
    Watch();
    keepMessages = true;
    std::mt19937 random(8);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string flood;
    flood.reserve(10u << 20);
    // Six megabytes of anything: thousands of accidental frames with random letters and values.
    while (flood.size() < (6u << 20))
        flood += static_cast<char>(byte(random));
    // Then messages that never end: each opens with STX and runs past the framing bound without an ETX.
    std::uniform_int_distribution<int> runLength(4096, 9000);
    while (flood.size() < (10u << 20)) {
        flood += '\x02';
        for (int n = runLength(random); n > 0; --n) {
            char c;
            do
                c = static_cast<char>(byte(random));
            while (c == 0x02 || c == 0x03);
            flood += c;
        }
    }
    // The longest message the bound lets through, one byte more that it does not, then two real replies.
    flood += F(std::string(TMessageFramer::kMaxMessage - 2, 'q'));
    flood += F(std::string(TMessageFramer::kMaxMessage - 1, 'w'));
    flood += F("z=after the flood") + F("c=7654");

    // What a framer of the same rules makes of it: the window must be handed exactly this.
    TMessageFramer reference;
    std::string expected;
    std::size_t expectedCount = 0;
    for (char c : flood)
        if (reference.Feed(c, TFraming{})) {
            expected += reference.Message();
            ++expectedCount;
        }
    ASSERT_GT(reference.OverflowCount(), 400u);

    Heartbeat heart;
    const long long rssBefore = uavtest::ResidentKiB();
    const auto started = Clock::now();
    {
        Writer writer(master, flood);
        EXPECT_TRUE(RunUntil(
            [&] { return writer.Finished() && delivered >= expectedCount && form->rxMsg.empty(); }, 180000))
            << delivered << " of " << expectedCount << " delivered";
    }
    const auto seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(delivered, expectedCount);
    EXPECT_TRUE(messages == expected) << "the delivered messages differ from the framed input";
    EXPECT_EQ(form->SerialComm->MessageOverflows(), reference.OverflowCount());
    EXPECT_EQ(largestMessage, TMessageFramer::kMaxMessage);
    EXPECT_LE(mostPending, TForm1::kMaxPendingMessages);
    EXPECT_EQ(form->rxMsgDropped, 0u);
    EXPECT_EQ(Caption("lblVersion"), "after the flood");
    EXPECT_EQ(Caption("lblCode"), "7654");
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectResponsive(heart);
    // A safety net against growth with the input, not a measurement: the flood itself is 10 MB.
    if (!uavtest::kUnderAddressSanitizer) {
        EXPECT_LT(uavtest::ResidentKiB() - rssBefore, 64 * 1024);
    }
    std::cout << "[ flood    ] " << flood.size() << " bytes, " << delivered << " messages, "
              << form->SerialComm->MessageOverflows() << " overflows in " << seconds
              << " s; heartbeat gap max " << heart.MaxGapMs() << " ms; RSS " << rssBefore << " -> "
              << uavtest::ResidentKiB() << " KiB\n";
}

TEST_F(Faults, lineLostWhileTheWindowIsBusy_aSendMeetsTheLossFirst_stillReportedOnce) {
    Connect();
    Watch();
    // The event thread sees the hang-up at once, but its report waits for the user-interface thread, which
    // first sends into the dead line itself.
    line->Unplug();
    master = -1;
    form->BitBtn3->click();
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 1; })) << "the send is queued or refused at once";
    EXPECT_EQ(boxes.boxes[0].text, "Input/output error");
    ASSERT_TRUE(RunUntil([&] { return !form->SerialComm->ThreadBusy(); }));
    RunUntil([] { return false; }, 200);
    form->btnPing->click();
    EXPECT_EQ(boxes.boxes.size(), 1u) << "one loss, one report";
    EXPECT_EQ(form->SerialComm->ErrorCode(), EIO);
}

namespace {

// A message box that behaves like a real modal one: it runs its own event loop (which still delivers
// received messages while the idle hook is held off) until the test lets it close.
class HoldingBox final : public IMessageBoxService {
public:
    std::function<bool()> closeWhen;
    int Show(const QString&, const QString&, unsigned) override {
        RunUntil(closeWhen, 60000);
        return IDOK;
    }
};

} // namespace

TEST_F(Faults, messagesWhileAModalBoxHoldsTheIdleHook_pendingQueueStaysBounded_newestDecodedInOrder) {
    Connect();
    Watch();
    const std::size_t extra = 1000;
    const std::size_t total = TForm1::kMaxPendingMessages + extra;
    std::string bytes;
    for (std::size_t i = 0; i < total; ++i)
        bytes += F("z=" + std::to_string(i));
    HoldingBox holding;
    holding.closeWhen = [&] { return delivered >= total; };
    app->SetMessageBoxService(&holding);
    Heartbeat heart;
    Writer writer(master, bytes);
    const long long idleBefore = idleRuns;
    app->MessageBox(QStringLiteral("held"), QStringLiteral("Test"), MB_OK);
    app->SetMessageBoxService(&boxes);
    ASSERT_EQ(delivered, total);
    EXPECT_EQ(idleRuns, idleBefore) << "the idle hook must not run under a modal box";
    // The oldest gave way; the newest wait in arrival order.
    ASSERT_EQ(form->rxMsg.size(), TForm1::kMaxPendingMessages);
    EXPECT_EQ(form->rxMsgDropped, extra);
    EXPECT_EQ(form->rxMsg.front(), F("z=" + std::to_string(extra)));
    EXPECT_EQ(form->rxMsg.back(), F("z=" + std::to_string(total - 1)));
    EXPECT_TRUE(RunUntil([&] { return form->rxMsg.empty(); }));
    EXPECT_EQ(Caption("lblVersion"), QString::number(total - 1));
    ExpectResponsive(heart);
}

TEST_F(Faults, fortyThousandCharacterConsoleCommand_goesOutWholeByteForByte_andItsAnswerIsEchoed) {
    Connect();
    Watch();
    Heartbeat heart;
    // Every byte value but the two that frame it, over and over.
    std::string command;
    for (int i = 0; command.size() < 40000; ++i)
        if (const char c = static_cast<char>(i % 256); c != 0x02 && c != 0x03)
            command += c;
    form->commStr->setText(FromLatin1(command));
    ASSERT_EQ(form->commStr->text().size(), static_cast<qsizetype>(command.size())) << "the field cut it";
    // The other end reads as the send goes, as a line draining at its rate would.
    std::string wire;
    std::thread reader([&] {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (wire.size() < command.size() + 2 && Clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            poll(&p, 1, 100);
            char buf[4096];
            ssize_t n;
            while ((n = read(master, buf, sizeof buf)) > 0)
                wire.append(buf, static_cast<std::size_t>(n));
        }
    });
    form->BitBtn5->click();
    reader.join();
    EXPECT_TRUE(wire == F(command)) << wire.size() << " bytes arrived for a frame of " << command.size() + 2;
    EXPECT_TRUE(form->manualPending);
    Reply(F("z=done"));
    // The echo pair: the command as sent (line breaks inside it start new lines), then the answer.
    EXPECT_TRUE(MemoText(*form).endsWith(
        AsMemoLine(QStringLiteral("<02>") + FromLatin1(command) + QStringLiteral("<03>\n<STX>z=done<ETX>"))));
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectResponsive(heart);
}

TEST_F(Faults, portHeldByAnotherProcessOrComponent_showsBusy_staysClosed_writesNothing) {
    const std::string device = fs::read_symlink(mapDir / "com7").string();
    // Another process holds the device as the panel itself would: an exclusive lock on an open descriptor.
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // Its own copies of the parent's ends would keep it from seeing the release.
        close(ready[0]);
        close(release[1]);
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
        [[maybe_unused]] ssize_t r = read(release[0], &ok, 1);
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    Connect();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Device or resource busy");
    EXPECT_FALSE(form->SerialComm->Active());
    EXPECT_EQ(form->SerialComm->ErrorCode(), EBUSY);
    EXPECT_EQ(form->BitBtn6->Tag(), 1);
    form->BitBtn2->click(); // guarded: silent
    form->BitBtn3->click(); // unguarded: the closed port reports once
    form->btnPing->click();
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(Sent(0, 100), "");

    close(release[1]);
    int status = 0;
    waitpid(holder, &status, 0);
    close(ready[0]);

    // The same from a second component in this process; once it lets go, the panel gets the port.
    {
        TSerial other;
        other.SetNotifyErrors(neNone);
        other.SetPort(7);
        other.SetActive(true);
        ASSERT_TRUE(other.Active());
        boxes.boxes.clear();
        form->BitBtn6->click();
        form->BitBtn6->click();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "Device or resource busy");
        EXPECT_FALSE(form->SerialComm->Active());
    }
    boxes.boxes.clear();
    form->BitBtn6->click();
    form->BitBtn6->click();
    ASSERT_TRUE(form->SerialComm->Active());
    form->BitBtn3->click();
    EXPECT_EQ(Sent(5), F("i=s"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Faults, comLinkToSomethingNotATerminal_isRefused_andNothingIsWrittenToIt) {
    const fs::path file = mapDir / "plain.bin";
    std::string content(300, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    std::ofstream(file, std::ios::binary) << content;
    const fs::path fifo = mapDir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fifoReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifoReader, 0);
    const fs::path folder = mapDir / "folder";
    fs::create_directories(folder);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    struct Case {
        const char* what;
        fs::path target;
        const char* text;
    };
    const Case cases[] = {{"regular file", file, "Inappropriate ioctl for device"},
                          {"named pipe", fifo, "Inappropriate ioctl for device"},
                          {"device that is no terminal", "/dev/null", "Inappropriate ioctl for device"},
                          {"folder", folder, "Is a directory"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(mapDir / "com8");
        fs::create_symlink(c.target, mapDir / "com8");
        boxes.boxes.clear();
        Connect(QStringLiteral("8"));
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "Error");
        EXPECT_EQ(boxes.boxes[0].text, c.text);
        EXPECT_FALSE(form->SerialComm->Active());
        // Every button that sends, and the console: nothing may reach the file.
        form->commStr->setText("s=?");
        for (QAbstractButton* b :
             {form->statusBtn, form->BitBtn2, form->BitBtn3, form->voltsetBtn, form->BitBtn1, form->BitBtn4,
              form->InterrogateBtn, form->btnPing, form->BitBtn5, form->BitBtn7})
            b->click();
        form->BitBtn6->click(); // disconnect
    }
    std::ifstream in(file, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(after == content) << "the file's bytes changed";
    struct stat now {};
    ASSERT_EQ(stat(file.c_str(), &now), 0);
    EXPECT_EQ(now.st_size, before.st_size);
    EXPECT_EQ(now.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(now.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    char sink[16];
    EXPECT_LE(read(fifoReader, sink, sizeof sink), 0) << "bytes reached the pipe";
    close(fifoReader);
}

namespace {

// Text an operator can type or paste that no number reader expects.
const std::vector<std::string> kNotNumbers = {"abc",         "",
                                              " ",           "7 ",
                                              "1\t",         "99999999999",
                                              "-2147483649", "$100000000",
                                              "12\x01",      std::string("4\0", 2),
                                              "\x1b[A",      "0x",
                                              "1e3",         "\xe9"};

} // namespace

TEST_F(Faults, numberFields_givenLettersBlanksHugeNumbersOrControlCharacters_reportAndSendNothing) {
    Connect();
    Watch();
    // A number field's text as the conversion error quotes it.
    auto expectOneConversionBox = [&](const std::string& text) {
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text,
                  QStringLiteral("'") + FromLatin1(text) + QStringLiteral("' is not a valid integer value."));
        EXPECT_EQ(boxes.boxes[0].caption, app->Title());
        boxes.boxes.clear();
    };
    form->mnuAltitudeSequencer->trigger();
    form->rbEncSource->SetItemIndex(1);
    for (const std::string& text : kNotNumbers) {
        SCOPED_TRACE(testing::PrintToString(text));
        // The period, read by "Auto": reported; the lamp is lit and the countdown runs, with nothing sent.
        form->seqCount = 5;
        form->seqEdit->setText(FromLatin1(text));
        form->autobtn->click();
        expectOneConversionBox(text);
        EXPECT_TRUE(form->autoIndi->Checked());
        EXPECT_EQ(form->seqCount, 5);
        form->autobtn->click();
        EXPECT_TRUE(boxes.boxes.empty());

        // The altitude ramp's ceiling, read on every tick: reported, the altitude left as it was.
        form->lblAltActual->SetCaption("100");
        form->edMaxAlt->setText(FromLatin1(text));
        AltitudeTick();
        expectOneConversionBox(text);
        EXPECT_EQ(form->lblAltActual->Caption(), "100");
        form->edMaxAlt->setText("200");

        // The floor, read when the ramp restarts from it.
        form->lblAltActual->SetCaption("300");
        form->edMinAlt->blockSignals(true);
        form->edMinAlt->setText(FromLatin1(text));
        form->edMinAlt->blockSignals(false);
        AltitudeTick();
        expectOneConversionBox(text);
        EXPECT_EQ(form->lblAltActual->Caption(), "300");

        // The altitude itself, copied from the floor as it is typed, then read by the next tick.
        form->edMinAlt->setText(FromLatin1(text) + QStringLiteral("x"));
        EXPECT_EQ(form->lblAltActual->Caption(), FromLatin1(text) + QStringLiteral("x"));
        boxes.boxes.clear();
        AltitudeTick();
        expectOneConversionBox(text + "x");
        form->edMinAlt->setText("100");

        EXPECT_EQ(Sent(0, 20), "") << "a conversion failure sent something";
    }
    // The port number: blanks alone do nothing; the rest are reported with the panel left disconnected.
    form->BitBtn6->click();
    for (const std::string& text : kNotNumbers) {
        SCOPED_TRACE(testing::PrintToString(text));
        Connect(FromLatin1(text));
        if (text.find_first_not_of(' ') == std::string::npos) {
            EXPECT_TRUE(boxes.boxes.empty());
        } else {
            expectOneConversionBox(text);
        }
        EXPECT_EQ(form->BitBtn6->Tag(), 0);
        EXPECT_FALSE(form->SerialComm->Active());
    }
    EXPECT_EQ(delivered, 0u);
}

TEST_F(Faults, textFields_givenLettersBlanksHugeNumbersOrControlCharacters_goOutByteForByte) {
    Connect();
    Watch();
    std::string controls;
    for (int c = 0; c < 0x20; ++c)
        controls += static_cast<char>(c);
    controls += "\x7f\x80\x9f\xa0\xff";
    const std::vector<std::string> values = {
        "abc", " ", "  7 ", "99999999999999999999999999999999", controls, std::string(3000, '9')};
    for (const std::string& value : values) {
        SCOPED_TRACE(testing::PrintToString(value.substr(0, 40)));
        const QString text = FromLatin1(value);
        form->Edit1->setText(text);
        form->BitBtn2->click();
        EXPECT_EQ(Sent(value.size() + 4), F("c=" + value));
        form->lvEdit->setText(text);
        form->BitBtn1->click();
        EXPECT_EQ(Sent(value.size() + 4), F("u=" + value));
        form->hvEdit->setText(text);
        form->BitBtn4->click();
        EXPECT_EQ(Sent(value.size() + 4), F("o=" + value));
        form->commStr->setText(text);
        form->BitBtn5->click();
        EXPECT_EQ(Sent(value.size() + 2), F(value));
        EXPECT_TRUE(
            MemoText(*form).endsWith(AsMemoLine(QStringLiteral("<02>") + text + QStringLiteral("<03>"))))
            << "the console echo";
        form->manualPending = false;
    }
    // Pasted rather than set: the clipboard's text goes out unchanged as well.
    QGuiApplication::clipboard()->setText(FromLatin1(controls));
    form->commStr->clear();
    form->commStr->paste();
    form->BitBtn5->click();
    EXPECT_EQ(Sent(controls.size() + 2), F(controls));
    // Empty set-point fields send nothing; an empty code field sends an empty code.
    form->lvEdit->clear();
    form->hvEdit->clear();
    form->BitBtn1->click();
    form->BitBtn4->click();
    EXPECT_EQ(Sent(0, 50), "");
    form->Edit1->clear();
    form->BitBtn2->click();
    EXPECT_EQ(Sent(4), std::string("\x02"
                                   "c=\x03",
                                   4));
    // The simulated altitude goes out as its caption holds it, control characters and all.
    form->edMinAlt->setText(FromLatin1(controls));
    form->indiAlt->SetChecked(true);
    form->queryTimerTimer(form->queryTimer);
    app->DoIdle();
    EXPECT_EQ(Sent(controls.size() + 4), F("a=" + controls));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(delivered, 0u);
}
