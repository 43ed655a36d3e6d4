// The driver rig's checks with the real window, run inside the rig's guest under Xvfb by
// scripts/drivers/guest-suite, once per driver and the same checks on each. The guest suite says which
// apply to a driver (--gtest_filter) and why the others do not. The environment names the line:
//   RIG_DRIVER   the row's name, for the results        RIG_COM      the panel's COM number
//   RIG_SIM_LOG  the simulator's log, when one plays the other end
//   RIG_OTHER    the other end's device, opened here once RIG_SIM_STOP has stopped the simulator
//                ("pty": a pty made here)
//   RIG_UNPLUG, RIG_REPLUG  shell commands that pull and restore the line
//   RIG_IDLE_LIMIT  wake-ups a second allowed for an idle port
//   RIG_RESULTS  file the measured figures are appended to ("driver key=value")
#include "Application.h"
#include "KxLED.h"
#include "Printable.h"
#include "RecordedBoxes.h"
#include "RunUntil.h"
#include "Serial2.h"
#include "TestSupport.h"
#include "TransponderFrames.h"
#include "uavMain.h"

#include <QLabel>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <set>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void Record(const std::string& key, const std::string& value) {
    const std::string line = Env("RIG_DRIVER") + " " + key + "=" + value;
    std::printf("RESULT %s\n", line.c_str());
    std::ofstream(Env("RIG_RESULTS"), std::ios::app) << line << '\n';
}
void Record(const std::string& key, double value) {
    std::ostringstream s;
    s.precision(4);
    s << value;
    Record(key, s.str());
}

std::set<std::string> Tasks() {
    std::set<std::string> ids;
    for (const auto& task : fs::directory_iterator("/proc/self/task"))
        ids.insert(task.path().filename().string());
    return ids;
}

long long VoluntarySwitches(const std::string& task) {
    std::ifstream status("/proc/self/task/" + task + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stoll(line.substr(24));
    return 0;
}

// CPU time so far of the whole process, or of one of its threads, in milliseconds.
double CpuMs(const std::string& task = {}) {
    std::ifstream stat(task.empty() ? "/proc/self/stat" : "/proc/self/task/" + task + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long long user = 0, system = 0;
    fields >> user >> system;
    return 1000.0 * static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The other end of the line, played here: raw 9600 8N1, as the simulator sets it.
class OtherEnd {
public:
    OtherEnd() {
        static const bool stopped = std::system(Env("RIG_SIM_STOP").c_str()) == 0;
        if (!stopped)
            return;
        if (Env("RIG_OTHER") == "pty") {
            pty_ = std::make_unique<uavtest::LinkedPty>(fs::path(Env("UAVCONTROL_PORTS")),
                                                        std::stoi(Env("RIG_COM")));
            fd_ = pty_->Master();
            return;
        }
        fd_ = ::open(Env("RIG_OTHER").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (fd_ < 0 || tcgetattr(fd_, &tio) != 0)
            return;
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&tio, B9600);
        tcsetattr(fd_, TCSANOW, &tio);
        tcflush(fd_, TCIOFLUSH);
    }
    ~OtherEnd() {
        if (!pty_ && fd_ >= 0)
            ::close(fd_);
    }
    int Fd() const { return fd_; }
    bool Write(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }
    // Reads what has arrived, waiting at most `ms` for the first byte.
    std::string Read(int ms) const {
        pollfd p{fd_, POLLIN, 0};
        std::string got;
        if (::poll(&p, 1, ms) <= 0)
            return got;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd_, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }

private:
    std::unique_ptr<uavtest::LinkedPty> pty_;
    int fd_ = -1;
};

class Rig : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<TApplication>(*qApp);
        app->SetMessageBoxService(&boxes);
        form = std::make_unique<TForm1>();
        // The idle hook as the program installs it, noting when each query leaves.
        app->SetOnIdle([this](QObject* sender, bool& done) {
            const bool due = form->queryDue;
            form->AppIdle(sender, done);
            if (due && !form->queryDue)
                queriesSent.push_back(Clock::now());
        });
        form->show();
    }
    void TearDown() override {
        form.reset();
        app->SetMessageBoxService(nullptr);
        app.reset();
    }

    void Connect() {
        beforeConnect = Tasks();
        form->edCommPort->setText(QString::fromStdString(Env("RIG_COM")));
        form->BitBtn6->click();
        ASSERT_TRUE(form->SerialComm->Active())
            << (boxes.boxes.empty() ? "" : boxes.boxes[0].text.toStdString());
        form->SerialComm->SetOnMessage([this](TObject* sender, const std::string& message) {
            replies.push_back({Clock::now(), message});
            form->SerialCommMessage(sender, message);
        });
    }
    // Threads the opening started: the port's event thread (and any helper of its own).
    std::vector<std::string> PortThreads() const {
        std::vector<std::string> started;
        for (const std::string& id : Tasks())
            if (!beforeConnect.count(id))
                started.push_back(id);
        return started;
    }
    bool RepliesFor(const std::string& letters, std::size_t from = 0) const {
        for (char letter : letters) {
            bool seen = false;
            for (std::size_t i = from; i < replies.size() && !seen; ++i)
                seen = replies[i].message.size() > 1 && replies[i].message[1] == letter;
            if (!seen)
                return false;
        }
        return true;
    }
    static std::string SimLog() {
        std::ifstream log(Env("RIG_SIM_LOG"));
        return std::string((std::istreambuf_iterator<char>(log)), {});
    }

    struct Reply {
        Clock::time_point at;
        std::string message;
    };
    std::unique_ptr<TApplication> app;
    RecordedBoxes boxes;
    std::unique_ptr<TForm1> form;
    std::set<std::string> beforeConnect;
    std::vector<Clock::time_point> queriesSent;
    std::vector<Reply> replies;
};

const std::string kQueryLetters = "acirsvounldze";

// A 13-query sequence: from its first query leaving to the answer to its last being delivered. The
// poller waits 60 ms after each answer, so 12 waits plus 13 exchanges of about 15 bytes on the wire.
constexpr double kSequenceFloorMs = 12 * 60 + 13 * 15.6;

TEST_F(Rig, panel_autoShowsAllThirteen_everyButtonsFrameArrives) {
    Connect();
    form->seqEdit->setText(QStringLiteral("1"));
    form->autobtn->click();
    ASSERT_TRUE(RunUntil([&] { return queriesSent.size() >= 13 && RepliesFor(kQueryLetters); }, 30000))
        << queriesSent.size() << " queries sent, " << replies.size() << " replies";
    for (const char* label :
         {"funcDisplay", "lblCode", "ReplyIndi", "lblVoltage", "lblHigh", "lblLow", "lblVersion"})
        EXPECT_FALSE(form->findChild<QLabel*>(label)->text().isEmpty()) << label;
    // A whole second sequence, timed.
    ASSERT_TRUE(RunUntil([&] { return form->Label16->Caption() == "1"; }, 10000));
    const std::size_t first = queriesSent.size() - 1;
    ASSERT_TRUE(RunUntil(
        [&] {
            return queriesSent.size() >= first + 13 && !replies.empty() &&
                   replies.back().at > queriesSent[first + 12];
        },
        20000));
    const double sequenceMs =
        std::chrono::duration<double, std::milli>(replies.back().at - queriesSent[first]).count();
    Record("sequence_ms", sequenceMs);
    Record("sequence_floor_ms", kSequenceFloorMs);
    form->autobtn->click();
    RunFor(500);

    // Every command button, each with a value the simulator takes.
    form->rbStatus->SetItemIndex(2);
    form->Edit1->setText(QStringLiteral("4321"));
    form->rbVoltage->SetItemIndex(1);
    form->lvEdit->setText(QStringLiteral("11.5"));
    form->hvEdit->setText(QStringLiteral("15.0"));
    form->rbEncSource->SetItemIndex(0);
    form->rbInterrogate->SetItemIndex(1);
    form->commStr->setText(QStringLiteral("z=?"));
    const std::vector<std::pair<QAbstractButton*, std::string>> buttons = {
        {form->statusBtn, proto::StatusFrameForIndex(2)},
        {form->BitBtn2, proto::CodeFrame("4321")},
        {form->BitBtn3, proto::IdentFrame()},
        {form->voltsetBtn, proto::VoltageFrameForIndex(1)},
        {form->BitBtn1, proto::LowSetpointFrame("11.5")},
        {form->BitBtn4, proto::HighSetpointFrame("15.0")},
        {form->BitBtn7, proto::EncoderSourceFrameForIndex(0)},
        {form->InterrogateBtn, proto::InterrogateFrameForIndex(1)},
        {form->btnPing, proto::PingFrame()},
        {form->BitBtn5, proto::ConsoleFrame("z=?")},
    };
    for (const auto& [button, frame] : buttons) {
        const std::size_t before = replies.size();
        button->click();
        EXPECT_TRUE(RunUntil([&] { return replies.size() > before; }, 5000))
            << button->objectName().toStdString() << ": no answer";
    }
    const std::string log = SimLog();
    for (const auto& [button, frame] : buttons)
        EXPECT_NE(log.find("in  " + proto::Printable(frame)), std::string::npos)
            << button->objectName().toStdString() << "'s " << proto::Printable(frame)
            << " never reached the simulator";
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text.toStdString();
}

TEST_F(Rig, idleOpenPort_eventThreadWakesNoMoreThanOnAPty) {
    Connect();
    RunFor(1000);
    const std::vector<std::string> threads = PortThreads();
    ASSERT_FALSE(threads.empty()) << "no thread started with the port";
    const std::string limit = Env("RIG_IDLE_LIMIT");
    // Wake-ups a second of the port's threads, and of the whole program, over five seconds.
    auto measure = [&](const std::string& what) {
        auto switches = [](const std::vector<std::string>& tasks) {
            long long sum = 0;
            for (const std::string& t : tasks)
                sum += VoluntarySwitches(t);
            return sum;
        };
        const std::set<std::string> all = Tasks();
        const std::vector<std::string> every(all.begin(), all.end());
        const long long port = switches(PortThreads()), program = switches(every);
        const auto start = Clock::now();
        RunFor(5000);
        const double seconds = MsSince(start) / 1000.0;
        const double perSecond = static_cast<double>(switches(PortThreads()) - port) / seconds;
        Record(what + "_per_s", perSecond);
        Record(what + "_program_per_s", static_cast<double>(switches(every) - program) / seconds);
        if (!limit.empty()) {
            EXPECT_LE(perSecond, std::stod(limit))
                << what << ": wake-ups a second of the idle port's threads";
        }
    };
    measure("idle_wakeups");
    // Asking for line events (break, modem lines) is where a driver that has them could cost more.
    form->SerialComm->SetOnBreak([](TObject*) {});
    form->SerialComm->SetOnSignalChange([](TObject*, eModemInSignal, bool) {});
    RunFor(500);
    measure("idle_wakeups_line_events");
    Record("port_threads", static_cast<double>(PortThreads().size()));
}

TEST_F(Rig, unplugWhilePolling_oneBox_noSpin_replugThenReconnectPollsAgain) {
    Connect();
    form->seqEdit->setText(QStringLiteral("1"));
    form->autobtn->click();
    ASSERT_TRUE(RunUntil([&] { return replies.size() >= 5; }, 30000));
    ASSERT_EQ(std::system(Env("RIG_UNPLUG").c_str()), 0) << "unplug: " << Env("RIG_UNPLUG");
    const auto pulled = Clock::now();
    ASSERT_TRUE(RunUntil([&] { return !boxes.boxes.empty(); }, 5000)) << "no box after the unplug";
    Record("unplug_to_box_ms", MsSince(pulled));
    RunFor(1000);
    auto portCpu = [&] {
        double sum = 0;
        for (const std::string& t : PortThreads())
            sum += CpuMs(t);
        return sum;
    };
    const double cpuBefore = CpuMs(), portBefore = portCpu();
    const auto start = Clock::now();
    RunFor(5000);
    const double cpuPercent = 100.0 * (CpuMs() - cpuBefore) / MsSince(start);
    const double portPercent = 100.0 * (portCpu() - portBefore) / MsSince(start);
    Record("cpu_after_unplug_percent", cpuPercent);
    Record("port_threads_cpu_after_unplug_percent", portPercent);
    EXPECT_LT(portPercent, 1.0) << "the port's thread spins after the unplug";
    // The window's own timers cost a little under emulation; a spinning loop costs a whole core.
    EXPECT_LT(cpuPercent, 5.0) << "something spins after the unplug";
    ASSERT_EQ(boxes.boxes.size(), 1u);
    Record("unplug_box", "\"" + boxes.boxes[0].text.toStdString() + "\"");
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), std::strerror(EIO));

    ASSERT_EQ(std::system(Env("RIG_REPLUG").c_str()), 0) << "replug: " << Env("RIG_REPLUG");
    // The replug step has pointed the COM number at the adapter as it came back.
    const fs::path link = fs::path(Env("UAVCONTROL_PORTS")) / ("com" + Env("RIG_COM"));
    ASSERT_TRUE(fs::exists(link)) << link << " leads nowhere after the replug";
    form->BitBtn6->click();
    form->BitBtn6->click();
    ASSERT_TRUE(form->SerialComm->Active()) << boxes.boxes.back().text.toStdString();
    const std::size_t before = replies.size();
    form->autobtn->click();
    EXPECT_TRUE(RunUntil([&] { return RepliesFor(kQueryLetters, before); }, 30000))
        << "no sequence after the replug";
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

// The simulator stopped: the other end is played here.
TEST_F(Rig, replyToDisplay_lastByteWrittenToLabelSet) {
    OtherEnd other;
    ASSERT_GE(other.Fd(), 0) << "cannot open " << Env("RIG_OTHER");
    Connect();
    RunFor(500);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const std::string value = "9." + std::to_string(10 + i);
        ASSERT_TRUE(other.Write(proto::Frame('z', value)));
        const auto written = Clock::now();
        ASSERT_TRUE(
            RunUntil([&] { return form->lblVersion->Caption() == QString::fromStdString(value); }, 5000))
            << "reply " << value << " never shown";
        ms.push_back(MsSince(written));
        RunFor(30);
    }
    std::sort(ms.begin(), ms.end());
    Record("reply_to_display_median_ms", ms[ms.size() / 2]);
}

TEST_F(Rig, fortyThousandCharacterLine_goesOutWhole_labelKeepsUpdating_disconnectWorksDuringTheSend) {
    OtherEnd other;
    ASSERT_GE(other.Fd(), 0) << "cannot open " << Env("RIG_OTHER");
    Connect();
    // A label driven by a timer, as the operator watches it.
    QLabel beat;
    QTimer timer;
    auto lastBeat = Clock::now();
    double worstGapMs = 0;
    QObject::connect(&timer, &QTimer::timeout, &beat, [&] {
        worstGapMs = std::max(worstGapMs, MsSince(lastBeat));
        lastBeat = Clock::now();
        beat.setText(QString::number(worstGapMs));
    });
    timer.start(50);
    std::string line;
    while (line.size() < 40000)
        line += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    line.resize(40000);
    const std::string frame = proto::ConsoleFrame(line);
    auto receive = [&](std::string& wire, int limitMs) {
        return RunUntil(
            [&] {
                wire += other.Read(0);
                return wire.size() >= frame.size();
            },
            limitMs);
    };

    // Through the console, as the operator sends it: the click also echoes the line into the memo.
    std::string wire;
    form->commStr->setText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    auto sent = Clock::now();
    form->BitBtn5->click();
    Record("long_line_console_click_ms", MsSince(sent));
    ASSERT_TRUE(receive(wire, 180000)) << wire.size() << " of " << frame.size() << " bytes arrived";
    EXPECT_TRUE(wire == frame) << "the line arrived changed";
    RunFor(500);

    // The send itself, timed apart from the echo: the window must keep running while the line goes out.
    wire.clear();
    sent = Clock::now();
    lastBeat = sent;
    worstGapMs = 0;
    form->SerialComm->SendString(frame);
    const double sendMs = MsSince(sent);
    ASSERT_TRUE(receive(wire, 180000)) << wire.size() << " of " << frame.size() << " bytes arrived";
    Record("long_line_ms", MsSince(sent));
    RunFor(200); // the label's timer has its say after the last byte too
    Record("long_line_send_call_ms", sendMs);
    Record("long_line_worst_label_gap_ms", worstGapMs);
    EXPECT_TRUE(wire == frame) << "the line arrived changed";
    EXPECT_LT(sendMs, 1000) << "SendString held the window for the line";
    EXPECT_LT(worstGapMs, 1000) << "the window froze during the send";

    // Again, and Disconnect once the first kilobyte is through: the rest of the line is dropped, not sent
    // on. Started from what arrived, not from a clock: an emulated UART may send the whole line in a second.
    wire.clear();
    form->SerialComm->SendString(frame);
    ASSERT_TRUE(RunUntil(
        [&] {
            wire += other.Read(0);
            return wire.size() >= 1024;
        },
        5000))
        << "the line did not start going out";
    Record("disconnect_after_bytes", static_cast<double>(wire.size()));
    const auto t = Clock::now();
    form->BitBtn6->click();
    const double disconnectMs = MsSince(t);
    Record("disconnect_during_send_ms", disconnectMs);
    EXPECT_LT(disconnectMs, 1000);
    EXPECT_FALSE(form->SerialComm->Active());
    receive(wire, 3000);
    Record("bytes_of_the_disconnected_send", static_cast<double>(wire.size()));
    EXPECT_LT(wire.size(), frame.size()) << "the whole line went out: Disconnect did not stop the send";
}

TEST_F(Rig, breakFromTheOtherEnd_breakEventAndErrorCount_neverAZeroInAFrame) {
    OtherEnd other;
    ASSERT_GE(other.Fd(), 0) << "cannot open " << Env("RIG_OTHER");
    Connect();
    int breaks = 0;
    form->SerialComm->SetOnBreak([&](TObject*) { ++breaks; });
    RunFor(300);
    // A break in the middle of a frame, then a frame after it.
    ASSERT_TRUE(other.Write("\x02z=1"));
    ASSERT_EQ(tcdrain(other.Fd()), 0);
    ASSERT_EQ(tcsendbreak(other.Fd(), 0), 0) << std::strerror(errno);
    ASSERT_TRUE(other.Write(".5\x03" + proto::Frame('z', "2.0")));
    RunUntil([&] { return form->lblVersion->Caption() == "2.0"; }, 5000);
    RunFor(500);
    std::string seen;
    bool zero = false;
    for (const Reply& r : replies) {
        seen += proto::Printable(r.message) + " ";
        zero = zero || r.message.find('\0') != std::string::npos;
    }
    const TLineErrors counted = form->SerialComm->LineErrors();
    Record("break_events", breaks);
    Record("line_errors", std::to_string(counted.Breaks) + " breaks, " + std::to_string(counted.Errors) +
                              " errors, " + std::to_string(counted.Overruns) + " overruns");
    Record("break_messages", "\"" + seen + "\"");
    EXPECT_FALSE(zero) << "a 0x00 inside a frame: " << seen;
    EXPECT_GE(breaks, 1) << "no break event";
    EXPECT_GE(counted.Breaks, 1u) << "no break counted";
    EXPECT_EQ(form->lblVersion->Caption(), "2.0") << "the frame after the break was lost";
}

TEST_F(Rig, modemLinesFromTheOtherEnd_signalChangeEventsFollowThem_andDcdDroppingHangsNothingUp) {
    // The far end raises DSR and DCD while it holds its side open and drops them when it lets go.
    auto other = std::make_unique<OtherEnd>();
    ASSERT_GE(other->Fd(), 0) << "cannot open " << Env("RIG_OTHER");
    Connect();
    std::string seen;
    form->SerialComm->SetOnSignalChange([&](TObject*, eModemInSignal line, bool on) {
        seen += std::string(line == msDSR    ? "DSR"
                            : line == msRLSD ? "DCD"
                            : line == msCTS  ? "CTS"
                                             : "RI") +
                (on ? "+ " : "- ");
    });
    RunFor(300);
    const auto saw = [&](const char* a, const char* b) {
        return RunUntil(
            [&] { return seen.find(a) != std::string::npos && seen.find(b) != std::string::npos; }, 5000);
    };
    other.reset();
    EXPECT_TRUE(saw("DSR-", "DCD-")) << seen;
    other = std::make_unique<OtherEnd>();
    EXPECT_TRUE(saw("DSR+", "DCD+")) << seen;
    Record("modem_events", "\"" + seen + "\"");
    EXPECT_TRUE(form->SerialComm->Active());
    ASSERT_TRUE(other->Write(proto::Frame('z', "2.0")));
    EXPECT_TRUE(RunUntil([&] { return form->lblVersion->Caption() == "2.0"; }, 5000)) << "the line is dead";
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text.toStdString();
}

} // namespace
