// uavctl run as a user runs it: a child process on a COM number that leads to the simulator's
// pseudo-terminal, judged by its exit code, its output and the frames the simulator logged.
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCom = 7;
// Generous: a child that needs longer has hung.
constexpr int kPatienceMs = 20000;

struct Finished {
    int exit = -1; // 128 + signal when a signal ended it
    std::string out, err;
    std::chrono::milliseconds took{};
};

// As `>&-` leaves it: no standard output at all.
constexpr const char* kClosedOutput = "";

class Uavctl {
public:
    // `stdoutFile`: where its standard output goes instead of a pipe to us.
    explicit Uavctl(std::vector<std::string> args, const char* stdoutFile = nullptr) {
        args.insert(args.begin(), {UAVCTL_PATH, "--port", std::to_string(kCom)});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutFile == kClosedOutput)
            posix_spawn_file_actions_addclose(&actions, 1);
        else if (stdoutFile)
            posix_spawn_file_actions_addopen(&actions, 1, stdoutFile, O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        start_ = Clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    ~Uavctl() {
        if (pid_ > 0 && !done_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }

    // Reads until standard output holds `lines` lines; false if they did not come in time.
    bool WaitForLines(int lines) {
        return WaitFor([&] { return std::count(result_.out.begin(), result_.out.end(), '\n') >= lines; });
    }
    // Reads until standard output holds `text`; false if it did not come within `patienceMs`.
    bool WaitForOutput(const std::string& text, int patienceMs = kPatienceMs) {
        return WaitFor([&] { return result_.out.find(text) != std::string::npos; }, patienceMs);
    }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    // Whether it sleeps on inotify watches now, as a watch waiting for its device does.
    bool Watching() const {
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec))
            if (fs::read_symlink(fd.path(), ec) == "anon_inode:inotify")
                return true;
        return false;
    }

    void Signal(int signo) const { ::kill(pid_, signo); }
    // What it has printed so far.
    const std::string& Out() const { return result_.out; }
    // Its reader goes away, as `| head -1` does.
    void CloseOutput() {
        ::close(fds_[0]);
        fds_[0] = -1;
    }

    // Everything it printed, and how it ended.
    Finished Finish() {
        const auto until = Clock::now() + std::chrono::milliseconds(kPatienceMs);
        while (ReadSome(until)) {
        }
        int status = 0;
        pid_t ended = pid_ > 0 ? ::waitpid(pid_, &status, WNOHANG) : -1;
        if (ended == 0) { // still running after all that patience: it has hung
            ::kill(pid_, SIGKILL);
            ended = ::waitpid(pid_, &status, 0);
        }
        if (pid_ > 0 && ended == pid_) {
            done_ = true;
            result_.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        result_.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
        return result_;
    }

private:
    template <class Done> bool WaitFor(Done done, int patienceMs = kPatienceMs) {
        const auto until = Clock::now() + std::chrono::milliseconds(patienceMs);
        while (!done())
            if (Clock::now() > until || !ReadSome(until))
                return false;
        return true;
    }

    // False at the end of both outputs or at the deadline.
    bool ReadSome(Clock::time_point until) {
        pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if ((fds_[0] < 0 && fds_[1] < 0) || left <= 0 || ::poll(p, 2, static_cast<int>(left)) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (!p[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds_[i]);
                fds_[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    bool done_ = false;
    Clock::time_point start_;
    Finished result_;
};

Finished RunUavctl(std::vector<std::string> args) {
    return Uavctl(std::move(args)).Finish();
}

class UavctlEndToEnd : public ::testing::Test {
protected:
    // The simulator on COM7 of a private port map, with its switches.
    void StartSimulator(std::vector<std::string> switches = {}) {
        sim_.emplace(ports_.Dir(), kCom, std::move(switches));
        ASSERT_TRUE(sim_->WaitForLink()) << sim_->Log();
    }
    // The frames the simulator read, once it has read `count` of them (a frame sent just before the
    // port closes may be read after uavctl has ended).
    std::vector<std::string> FramesIn(std::size_t count = 0) const {
        const auto until = Clock::now() + std::chrono::milliseconds(kPatienceMs);
        std::vector<std::string> in = sim_->Frames().in;
        for (; in.size() < count && Clock::now() < until; in = sim_->Frames().in)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return in;
    }
    // Whether the simulator's log comes to hold `text`.
    bool SimLogHas(const std::string& text) const {
        const auto until = Clock::now() + std::chrono::milliseconds(kPatienceMs);
        while (sim_->Log().find(text) == std::string::npos && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return sim_->Log().find(text) != std::string::npos;
    }
    // A failure that shows only uavctl's side cannot tell a lost frame from a wrong answer.
    void TearDown() override {
        if (HasFailure() && sim_)
            ADD_FAILURE() << "the simulator's log:\n" << sim_->Log();
    }

    uavtest::PortMap ports_{"uavctl"};
    std::optional<uavtest::SimulatorProcess> sim_;
};

TEST_F(UavctlEndToEnd, getAll_printsTheThirteenValuesInThePollersOrderAsTheSimulatorHoldsThem) {
    StartSimulator();
    const Finished text = RunUavctl({"get", "all"});
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_EQ(text.out, "a\tAltitude\t2500\n"
                        "c\tAssigned Code\t1200\n"
                        "i\tSPI Status\t0\n"
                        "r\tInterrogation Status\tY\n"
                        "s\tOperational Status\tt\n"
                        "v\tA/C Voltage\t1\n"
                        "o\tHigh VoltageSetpoint\t15.5\n"
                        "u\tLow Voltage Setpoint\t11.0\n"
                        "n\tSerial Number\t000117\n"
                        "l\tFault Log\t0\n"
                        "d\tAltitude Encoder\tg\n"
                        "z\tFirmware Version\t1.04\n"
                        "e\tError Status\t0\n");
    const std::vector<std::string> queries = {
        "<STX>a=?<ETX>", "<STX>c=?<ETX>", "<STX>i=?<ETX>", "<STX>r=?<ETX>", "<STX>s=?<ETX>",
        "<STX>v=?<ETX>", "<STX>o=?<ETX>", "<STX>u=?<ETX>", "<STX>n=?<ETX>", "<STX>l=?<ETX>",
        "<STX>d=?<ETX>", "<STX>z=?<ETX>", "<STX>e=?<ETX>"};
    EXPECT_EQ(FramesIn(), queries);

    const Finished json = RunUavctl({"--json", "get", "zc"});
    EXPECT_EQ(json.exit, 0) << json.err;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(root["command"].toString(), "get");
    EXPECT_EQ(root["port"].toInt(), kCom);
    const QJsonArray values = root["values"].toArray();
    ASSERT_EQ(values.size(), 2) << json.out;
    EXPECT_EQ(values[0].toObject()["letter"].toString(), "c");
    EXPECT_EQ(values[1].toObject()["value"].toString(), "1.04");
}

TEST_F(UavctlEndToEnd, setVerify_sendsThePanelsFrameReadsTheNewValueBackAndExits0) {
    StartSimulator();
    const Finished set = RunUavctl({"set", "--verify", "voltage", "28"});
    EXPECT_EQ(set.exit, 0) << set.err;
    EXPECT_EQ(set.out, "voltage\t28\t28\tok\n");
    EXPECT_EQ(FramesIn(2), (std::vector<std::string>{"<STX>v=2<ETX>", "<STX>v=?<ETX>"}));
}

TEST_F(UavctlEndToEnd, setVerify_againstATransponderThatIgnoresTheCommand_exits1WithWantedAndReadBack) {
    StartSimulator({"--ignore", "c"});
    const Finished set = RunUavctl({"set", "--verify", "code", "4567"});
    EXPECT_EQ(set.exit, 1);
    EXPECT_EQ(set.out, "code\t4567\t1200\tdiffers\n");
    EXPECT_NE(set.err.find("code: wanted 4567, read back 1200"), std::string::npos) << set.err;
}

TEST_F(UavctlEndToEnd, applyWithOneSettingIgnored_appliesAllInTheFixedOrderAndExits1) {
    StartSimulator({"--ignore", "s"});
    const std::string profile = (ports_.Dir() / "bench.json").string();
    std::ofstream(profile) << R"({"mode": "a", "code": "0777", "voltage": 28})";
    const Finished apply = RunUavctl({"apply", profile});
    EXPECT_EQ(apply.exit, 1) << apply.err;
    EXPECT_EQ(apply.out, "voltage\t28\t28\tok\n"
                         "code\t0777\t0777\tok\n"
                         "mode\ta\tstandby\tdiffers\n");
    EXPECT_EQ(FramesIn(6), (std::vector<std::string>{"<STX>v=2<ETX>", "<STX>v=?<ETX>", "<STX>c=0777<ETX>",
                                                     "<STX>c=?<ETX>", "<STX>s=a<ETX>", "<STX>s=?<ETX>"}));
}

// Answers carry no sequence number, and a transponder answers a set too, late or with the value it was told:
// only the query's answer may count. "replies" is set as "r=n" and read back as "N", so an echo taken for
// the read-back would differ although the value was applied.
TEST_F(UavctlEndToEnd, verifiedSettings_areOkExactlyWhenTheTransponderHoldsThem_atAnyDelayEchoedOrIgnored) {
    const std::string profile = (ports_.Dir() / "bench.json").string();
    std::ofstream(profile) << R"({"code": "7000", "replies": "off"})";
    // Every row at once, each on a simulator and a COM number of its own: the slow rows take seconds.
    std::vector<std::string> rows;
    std::vector<std::unique_ptr<uavtest::SimulatorProcess>> sims;
    for (const std::string delay : {"0", "150", "250", "400", "700", "1500"})
        for (const bool echo : {false, true})
            for (const bool ignore : {false, true}) {
                std::vector<std::string> switches = {"--delay", delay, "--ignore", ignore ? "c" : ""};
                if (echo)
                    switches.push_back("--echo-sets");
                rows.push_back(testing::PrintToString(switches));
                const int com = 20 + static_cast<int>(sims.size());
                sims.push_back(std::make_unique<uavtest::SimulatorProcess>(ports_.Dir(), com, switches));
            }
    const auto onEveryRow = [&](const std::vector<std::string>& command) {
        std::vector<std::unique_ptr<Uavctl>> runs;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            EXPECT_TRUE(sims[i]->WaitForLink()) << sims[i]->Log();
            std::vector<std::string> args = {"--port", std::to_string(20 + i), "--timeout", "3000"};
            args.insert(args.end(), command.begin(), command.end());
            runs.push_back(std::make_unique<Uavctl>(args));
        }
        std::vector<Finished> ended;
        for (const auto& run : runs)
            ended.push_back(run->Finish());
        return ended;
    };
    const std::vector<Finished> applied = onEveryRow({"apply", profile});
    const std::vector<Finished> held = onEveryRow({"get", "cr"});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool codeHeld = held[i].out == "c\tAssigned Code\t7000\nr\tInterrogation Status\tN\n";
        EXPECT_EQ(applied[i].out, std::string("code\t7000\t") + (codeHeld ? "7000\tok" : "1200\tdiffers") +
                                      "\nreplies\toff\toff\tok\n")
            << rows[i] << held[i].out << applied[i].err;
        EXPECT_EQ(applied[i].exit, codeHeld ? 0 : 1) << rows[i];
    }
}

// A setting that went out may have been taken: it is reported, never left out.
TEST_F(UavctlEndToEnd, applyCutShortByALostLineOrASignal_reportsTheSettingInFlightAsSentNotVerified) {
    const std::string profile = (ports_.Dir() / "bench.json").string();
    std::ofstream(profile) << R"({"voltage": 28, "low": "24.0", "high": "30.5"})";
    StartSimulator({"--drop-after", "3"}); // the line goes after the low set-point's frame, as in an unplug
    // The simulator drops the line once it has seen the client read the last answer, or after 1 s when it
    // missed that (a read that came before it looked): the query's wait outlasts that second.
    const Finished lost = RunUavctl({"--timeout", "3000", "apply", profile});
    EXPECT_EQ(lost.exit, 4) << lost.err;
    EXPECT_EQ(lost.out, "voltage\t28\t28\tok\nlow\t24.0\t-\tsent, not verified\n");
    EXPECT_EQ(sim_->WaitForExit(), 0);
    // Stopped while the set-point waits for its answer: the report's exit is what the process returns. The
    // answer's delay is the time the signal has to land in: a loaded machine took longer than 300 ms.
    StartSimulator({"--delay", "1500"});
    Uavctl apply({"--json", "apply", profile});
    ASSERT_TRUE(SimLogHas("in  <STX>u=24.0<ETX>"));
    apply.Signal(SIGTERM);
    const Finished cut = apply.Finish();
    EXPECT_EQ(cut.exit, 128 + SIGTERM);
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(cut.out)).object();
    EXPECT_EQ(root["exit"].toInt(), 128 + SIGTERM) << cut.out;
    EXPECT_EQ(root["settings"].toArray().last().toObject()["status"].toString(), "sent, not verified");
}

TEST_F(UavctlEndToEnd, bytesWaitingFromBeforeTheOpening_areNoAnswer) {
    uavtest::LinkedPty line(ports_.Dir(), kCom);
    ASSERT_TRUE(line.Ok());
    termios raw{};
    ASSERT_EQ(::tcgetattr(line.Master(), &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(line.Master(), TCSANOW, &raw), 0);
    ASSERT_TRUE(line.Write("\x02"
                           "c=1234\x03")); // the late answer to an earlier run
    Uavctl get({"get", "c"});
    std::string heard;
    for (const auto until = Clock::now() + std::chrono::milliseconds(kPatienceMs);
         heard.find("c=?") == std::string::npos && Clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        heard += line.ReadAvailable();
    ASSERT_TRUE(line.Write("\x02"
                           "c=7000\x03"));
    const Finished end = get.Finish();
    EXPECT_EQ(end.out, "c\tAssigned Code\t7000\n") << end.err;
}

TEST_F(UavctlEndToEnd, outputThatCannotBeWritten_exits5WithTheReason_butAReaderLeavingEndsWatchQuietly) {
    StartSimulator({"--interrogations", "50"});
    ASSERT_EQ(RunUavctl({"set", "mode", "a"}).exit, 0);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"get", "c"}, {"--json", "get", "c"}, {"ports"}, {"--help"}, {"watch"}}) {
        const Finished run = Uavctl(args, "/dev/full").Finish();
        EXPECT_EQ(run.exit, 5) << args.back();
        EXPECT_NE(run.err.find("uavctl: standard output: No space left on device"), std::string::npos)
            << run.err;
    }
    Uavctl watch({"watch"});
    ASSERT_TRUE(watch.WaitForLines(1));
    watch.CloseOutput();
    const Finished end = watch.Finish();
    EXPECT_EQ(end.exit, 0);
    EXPECT_EQ(end.err, "");
    // Closed (`>&-`): said so, and the report goes nowhere else.
    const Finished closed = Uavctl({"get", "c"}, kClosedOutput).Finish();
    EXPECT_EQ(closed.exit, 5);
    EXPECT_EQ(closed.err, "uavctl: standard output: closed\n");
}

TEST_F(UavctlEndToEnd, portMapVariableThatNamesNoFolder_exits4WithTheReason) {
    const std::string file = (ports_.Dir() / "notes").string();
    std::ofstream(file) << "";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/nonexistent", "No such file or directory"},
        {file, "Not a directory"},
        {"ports", "not an absolute path"}};
    for (const auto& [dir, reason] : cases) {
        ::setenv("UAVCONTROL_PORTS", dir.c_str(), 1);
        const Finished run = RunUavctl({"get", "c"});
        EXPECT_EQ(run.exit, 4) << dir;
        EXPECT_NE(run.err.find("UAVCONTROL_PORTS=" + dir + ": " + reason), std::string::npos) << run.err;
    }
    ::setenv("UAVCONTROL_PORTS", ports_.Dir().c_str(), 1);
}

TEST_F(UavctlEndToEnd, mutedQuery_exits3NamingTheQueryAfterItsTimeout) {
    StartSimulator({"--mute", "c"});
    const Finished get = RunUavctl({"--timeout", "300", "get", "ac"});
    EXPECT_EQ(get.exit, 3);
    EXPECT_EQ(get.out, "a\tAltitude\t2500\n");
    EXPECT_NE(get.err.find("no answer to c=? within 300 ms"), std::string::npos) << get.err;
    EXPECT_LT(get.took.count(), 5000);
}

TEST_F(UavctlEndToEnd, badInput_isRefusedWithTheReasonBeforeAnythingIsSent) {
    StartSimulator();
    const std::string profile = (ports_.Dir() / "typo.json").string();
    std::ofstream(profile) << R"({"mode": "a", "volts": 28})";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"set", "voltage", "12"}, "'12' is not one of 14|28"},
        {{"set", "code", "1280"}, "four octal digits"},
        {{"set", "altitude", "100"}, "unknown setting 'altitude'"},
        {{"apply", profile}, "unknown setting 'volts'"},
        {{"get", "q"}, "'q' is not a query letter"},
    };
    for (const auto& [args, reason] : cases) {
        const Finished run = RunUavctl(args);
        EXPECT_EQ(run.exit, 2) << args[0];
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    // The log shows what does arrive.
    EXPECT_EQ(RunUavctl({"get", "s"}).exit, 0);
    EXPECT_EQ(FramesIn(), std::vector<std::string>{"<STX>s=?<ETX>"});
}

TEST_F(UavctlEndToEnd, spiPingAndConsole_actAsThePanelsButtons) {
    StartSimulator();
    EXPECT_EQ(RunUavctl({"spi"}).exit, 0);
    EXPECT_EQ(RunUavctl({"get", "i"}).out, "i\tSPI Status\t1\n");
    const Finished ping = RunUavctl({"ping"});
    EXPECT_EQ(ping.exit, 0) << ping.err;
    EXPECT_TRUE(std::regex_match(ping.out, std::regex("ping\t[0-9]+\\.[0-9]{3} ms\n"))) << ping.out;
    const Finished send = RunUavctl({"send", "z=?"});
    EXPECT_EQ(send.exit, 0) << send.err;
    EXPECT_EQ(send.out, "<STX>z=1.04<ETX>\n");
}

TEST_F(UavctlEndToEnd, clientKilledHoldingTheLine_leavesItOpenToTheNextOne) {
    // The exclusive claim outlives a killed holder on a pty, and only root may pass it.
    StartSimulator();
    Uavctl watch({"watch"});
    ASSERT_TRUE(SimLogHas("client opened the line"));
    watch.Signal(SIGKILL);
    EXPECT_EQ(watch.Finish().exit, 128 + SIGKILL);
    ASSERT_TRUE(SimLogHas("client closed the line"));
    const Finished get = RunUavctl({"get", "c"});
    EXPECT_EQ(get.exit, 0) << get.err;
}

TEST_F(UavctlEndToEnd, watchWithInterrogations_printsTimestampedDecodedIndicationsAndCtrlCEndsItWith0) {
    StartSimulator({"--interrogations", "50"});
    ASSERT_EQ(RunUavctl({"set", "mode", "a"}).exit, 0);
    Uavctl watch({"watch"});
    ASSERT_TRUE(watch.WaitForLines(4));
    watch.Signal(SIGINT);
    const Finished end = watch.Finish();
    EXPECT_EQ(end.exit, 0) << end.err;
    // The answer to the set may come first: the simulator looks for clients every 25 ms, so a client that
    // follows within that time gets what was sent to the one before.
    const std::regex line(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\t(\*\tInterrogation\t|s\tOperational Status\ta))");
    std::istringstream lines(end.out);
    int indications = 0;
    for (std::string text; std::getline(lines, text);) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        indications += text.find("\t*\t") != std::string::npos;
    }
    EXPECT_GE(indications, 3);
}

TEST_F(UavctlEndToEnd, portHeldByAnotherUavctl_isRefusedWithTheSystemsTextTheHolderAndExit4) {
    StartSimulator({"--interrogations", "50"});
    ASSERT_EQ(RunUavctl({"set", "mode", "a"}).exit, 0);
    Uavctl holder({"watch"});
    ASSERT_TRUE(holder.WaitForLines(1)); // it has the port
    const Finished second = RunUavctl({"get", "c"});
    EXPECT_EQ(second.exit, 4);
    EXPECT_EQ(second.out, "");
    // The system's text, then who holds the port.
    EXPECT_NE(second.err.find("COM7 (" + ports_.Link(kCom).string() +
                              "): Device or resource busy (held by uavctl (pid "),
              std::string::npos)
        << second.err;
}

// Bytes that arrive before the port is open are flushed by the open: `message` is said until `watch` shows
// it.
bool Heard(const uavtest::LinkedPty& line, Uavctl& watch, const std::string& message,
           const std::string& shown) {
    for (int i = 0; i < 400; ++i)
        if (line.Write(message) && watch.WaitForOutput(shown, 50))
            return true;
    return false;
}

TEST_F(UavctlEndToEnd, watchReconnect_onAPtyWhoseLinkGoesAndComesBack_saysSoReopensAndGoesOnUntilSignalled) {
    auto line = std::make_unique<uavtest::LinkedPty>(ports_.Dir(), kCom);
    ASSERT_TRUE(line->Ok());
    Uavctl watch({"watch", "--reconnect"});
    const auto heard = [&](const std::string& message, const std::string& shown) {
        return Heard(*line, watch, message, shown);
    };
    ASSERT_TRUE(heard("\x02*\x03", "\t*\tInterrogation\t"));
    std::error_code ignored;
    fs::remove(line->LinkPath(), ignored); // as the simulator or udev takes the name away, then the line
    line->Unplug();
    ASSERT_TRUE(watch.WaitForOutput("\tevent\tlost\t"));
    line->PlugAgain(); // a new pseudo-terminal behind a new link of the same name
    ASSERT_TRUE(watch.WaitForOutput("\tevent\treopened\t"));
    ASSERT_TRUE(heard("\x02s=a\x03", "\ts\tOperational Status\ta\n"));
    watch.Signal(SIGTERM);
    const Finished end = watch.Finish();
    EXPECT_EQ(end.exit, 0) << end.err;
    EXPECT_EQ(end.err, "");
    // Each line after its time stamp; repeats of a message said until heard count once.
    std::vector<std::string> events;
    std::istringstream lines(end.out);
    for (std::string text; std::getline(lines, text);) {
        std::smatch stamped;
        ASSERT_TRUE(std::regex_match(text, stamped, std::regex(R"(\d{4}-\d\d-\d\dT[\d:]{8}\.\d{3}\t(.*))")))
            << text;
        if (events.empty() || events.back() != stamped[1])
            events.push_back(stamped[1]);
    }
    const std::string where = "COM7 (" + ports_.Link(kCom).string() + ")";
    EXPECT_EQ(events, (std::vector<std::string>{"*\tInterrogation\t",
                                                "event\tlost\t" + where + ": Input/output error",
                                                "event\treopened\t" + where, "s\tOperational Status\ta"}));
}

TEST_F(UavctlEndToEnd,
       watchReconnect_onNumbersWithNoDevice_waitsQuietlyOpensWhenOneAppearsAndEndsOnASignalWith0) {
    Uavctl never({"--json", "watch", "--reconnect"});
    Uavctl later({"--json", "--port", "8", "watch", "--reconnect"});
    const auto until = Clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (!(never.Watching() && later.Watching()) && never.Running() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(never.Watching() && later.Watching());
    uavtest::LinkedPty line(ports_.Dir(), 8);
    ASSERT_TRUE(line.Ok());
    ASSERT_TRUE(later.WaitForLines(1));
    for (Uavctl* watch : {&never, &later})
        watch->Signal(SIGTERM);
    const Finished quiet = never.Finish(), opened = later.Finish();
    EXPECT_EQ(quiet.exit, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(opened.exit, 0) << opened.err;
    const QJsonObject event = QJsonDocument::fromJson(QByteArray::fromStdString(opened.out)).object();
    EXPECT_EQ(event["event"].toString(), "opened") << opened.out;
    EXPECT_EQ(event["port"].toInt(), 8);
    EXPECT_EQ(event["device"].toString().toStdString(), ports_.Link(8).string());
}

TEST_F(UavctlEndToEnd, watchReconnect_triesADeviceNotReadyYetAgain_andEndsWith0WhenItsReaderGoesMeanwhile) {
    auto line = std::make_unique<uavtest::LinkedPty>(ports_.Dir(), kCom);
    Uavctl watch({"watch", "--reconnect"});
    ASSERT_TRUE(Heard(*line, watch, "\x02*\x03", "\t*\tInterrogation\t"));
    fs::remove(line->LinkPath());
    line->Unplug();
    ASSERT_TRUE(watch.WaitForOutput("\tevent\tlost\t"));
    // There but not ready: a locked pseudo-terminal fails to open with EIO, as a USB adapter still being
    // set up does, and becomes ready with no change to any folder.
    const int locked = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    ASSERT_EQ(::grantpt(locked) | ::ptsname_r(locked, name, sizeof name), 0);
    fs::create_symlink(name, ports_.Link(kCom));
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // its try meets the lock
    ASSERT_EQ(::unlockpt(locked), 0);
    ASSERT_TRUE(watch.WaitForOutput("\tevent\treopened\t")) << watch.Out();
    // Lost again, and its reader goes while it waits: nobody would see the device come back.
    const auto lines = std::count(watch.Out().begin(), watch.Out().end(), '\n');
    ::close(locked);
    ASSERT_TRUE(watch.WaitForLines(static_cast<int>(lines) + 1));
    watch.CloseOutput();
    EXPECT_EQ(watch.Finish().exit, 0); // not killed as hung, waiting for the device for nobody
}

} // namespace
