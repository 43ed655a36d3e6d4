// The program's command line, as a user meets it: the real uavControl run with no display for what must
// need none, and run offscreen with a port, Connect and a log; and the options applied to the real window.
#include "CommandLine.h"
#include "PanelFixture.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// uavControl as a child process: its output kept in files, and no display of any kind in its environment,
// so a program that made its application object here would fail to start instead of answering.
class Program {
public:
    // `out`: where its standard output goes instead of a file of its own; `closedErr`: started as `2>&-`.
    Program(const fs::path& dir, std::vector<std::string> args, fs::path out = {}, bool closedErr = false)
        : out_(out.empty() ? dir / "out" : std::move(out)), err_(dir / "err") {
        args.insert(args.begin(), UAVCONTROL_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0 &&
                std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (closedErr)
            posix_spawn_file_actions_addclose(&actions, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The signals as a program started from a terminal has them, whatever this runner ignores.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit code, or 128 + the signal that ended it; -1 if it still runs after `limitMs`.
    int Wait(int limitMs = 10000) {
        for (int waited = 0; pid_ > 0 && waited <= limitMs; waited += 5) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return code_;
    }
    // Sends `signal` while it runs (never to pid -1, which would reach every process), then waits.
    int Signal(int signal) {
        if (pid_ > 0)
            kill(pid_, signal);
        return Wait();
    }
    pid_t Pid() const { return pid_; }
    std::string Out() const { return FileText(out_); }
    std::string Err() const { return FileText(err_); }

private:
    fs::path out_, err_;
    pid_t pid_ = -1;
    int code_ = -1;
};

class CommandLine : public PanelFixture {
protected:
    // Runs uavControl to its end and checks what it said where.
    void ExpectAnswer(const std::vector<std::string>& args, int code, const std::string& onStdout,
                      const std::string& onStderr) {
        SCOPED_TRACE(testing::PrintToString(args));
        Program program(mapDir, args);
        EXPECT_EQ(program.Wait(), code) << program.Err();
        EXPECT_NE(program.Out().find(onStdout), std::string::npos) << program.Out();
        EXPECT_NE(program.Err().find(onStderr), std::string::npos) << program.Err();
        if (onStdout.empty()) {
            EXPECT_EQ(program.Out(), "");
        }
        if (onStderr.empty()) {
            EXPECT_EQ(program.Err(), "");
        }
    }
};

} // namespace

TEST_F(CommandLine, helpVersionAndMistakes_areAnsweredWithoutADisplay_beforeAnyWindow) {
    ExpectAnswer({"--help"}, 0, "Usage: uavControl [options]", "");
    ExpectAnswer({"--version"}, 0, "uavControl " UAV_VERSION "\n", "");
    // Qt's own options pass this first reading, with their values.
    ExpectAnswer({"-platform", "offscreen", "-style", "fusion", "--version"}, 0, "uavControl " UAV_VERSION,
                 "");
    ExpectAnswer({"--bogus"}, 2, "", "Unknown option 'bogus'.\n\nUsage: uavControl [options]");
    ExpectAnswer({"--port", "256"}, 2, "",
                 "--port wants a COM port number from 1 to 255 in decimal, not '256'.");
    ExpectAnswer({"--port", "7x"}, 2, "", "not '7x'");
    ExpectAnswer({"--port"}, 2, "", "Missing value after '--port'.");
    ExpectAnswer({"--connect", "7"}, 2, "", "unexpected argument '7'");
    // A log that cannot be opened stops the program with the system's reason before Qt starts (which,
    // with no display, would end it otherwise).
    const std::string missing = (mapDir / "no-such-folder" / "log").string();
    ExpectAnswer({"--log", missing, "--connect"}, 2, "",
                 "cannot open the traffic log '" + missing + "': No such file or directory.");
    ExpectAnswer({"--log", mapDir.string()}, 2, "", "Is a directory.");
    const std::string fifo = (mapDir / "unread.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ExpectAnswer({"--log", fifo}, 2, "", "'" + fifo + "': it is a FIFO that no process is reading.");
    for (const char* question : {"--help", "--version"}) {
        Program full(mapDir, {question}, "/dev/full");
        EXPECT_EQ(full.Wait(), 1) << question;
        EXPECT_EQ(full.Err(), "uavControl: cannot write to standard output: No space left on device.\n");
    }
}

TEST_F(CommandLine, startedWithPortConnectAndLog_opensThatPort_logsIt_andAStopSignalClosesItAsFileExitDoes) {
    const fs::path log = mapDir / "traffic.log";
    const std::string device = (mapDir / "com7").string();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        fs::remove(log);
        Program program(mapDir,
                        {"-platform", "offscreen", "--port", "7", "--connect", "--log", log.string()});
        ASSERT_TRUE(RunUntil(
            [&] { return FileText(log).find(" connect COM7 " + device + "\n") != std::string::npos; }, 15000))
            << FileText(log) << program.Err();
        if (signal == SIGTERM) {
            // The device is the panel's now: another opening is refused as busy.
            form->edCommPort->setText("7");
            form->BitBtn6->click();
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].text, "Device or resource busy");
        }
        EXPECT_EQ(program.Signal(signal), 0) << program.Err();
        EXPECT_TRUE(FileText(log).ends_with(" disconnect COM7 " + device + "\n")) << FileText(log);
        // Released by the component: the exclusive claim, which outlives a killed holder, is gone.
        const int fd = open(line->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int exclusive = -1;
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        close(fd);
    }
}

TEST_F(CommandLine, stopSignalWhileABoxIsUp_endsThePanelAsFileExitDoes) {
    const fs::path log = mapDir / "traffic.log";
    // Each with the box it raises: COM9 leads nowhere; COM7's line is pulled while it is connected.
    const struct {
        const char* port;
        int signal;
        std::string box;
        bool connected;
    } cases[] = {
        {"9", SIGTERM, " ! No such file or directory", false},
        {"7", SIGHUP, " ! Input/output error", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        fs::remove(log);
        Program program(mapDir,
                        {"-platform", "offscreen", "--port", c.port, "--connect", "--log", log.string()});
        if (c.connected) {
            ASSERT_TRUE(
                RunUntil([&] { return FileText(log).find(" connect COM7 ") != std::string::npos; }, 15000))
                << FileText(log) << program.Err();
            line->Unplug();
        }
        // The line is logged just before the box goes up.
        ASSERT_TRUE(RunUntil([&] { return FileText(log).find(c.box) != std::string::npos; }, 15000))
            << FileText(log) << program.Err();
        EXPECT_EQ(program.Signal(c.signal), 0) << program.Err();
        EXPECT_EQ(FileText(log).ends_with(" disconnect COM7 " + line->LinkPath().string() + "\n"),
                  c.connected)
            << FileText(log);
    }
}

// `--log -` logs to standard error; closed, the log goes nowhere rather than into what took its number.
TEST_F(CommandLine, startedWithStandardErrorClosed_givesItTheNullDevice_connectsAndEndsOnSigterm) {
    Program program(mapDir, {"-platform", "offscreen", "--port", "7", "--connect", "--log", "-"}, {}, true);
    const fs::path fds = "/proc/" + std::to_string(program.Pid()) + "/fd";
    std::error_code ec;
    const auto holdsTheLine = [&] {
        for (const auto& fd : fs::directory_iterator(fds, ec))
            if (fs::read_symlink(fd.path(), ec) == line->DevicePath())
                return true;
        return false;
    };
    ASSERT_TRUE(RunUntil(holdsTheLine, 15000));
    EXPECT_EQ(fs::read_symlink(fds / "2", ec), "/dev/null");
    EXPECT_EQ(program.Signal(SIGTERM), 0);
}

TEST_F(CommandLine, logFifoWhoseReaderLeaves_isAWriteFailureLikeAnyOther_andThePanelGoesOn) {
    const fs::path fifo = mapDir / "traffic.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Program program(mapDir, {"-platform", "offscreen", "--port", "7", "--connect", "--log", fifo.string()});
    std::string read;
    ASSERT_TRUE(RunUntil(
        [&] {
            char buffer[512];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                read.append(buffer, static_cast<std::size_t>(n));
            return read.find(" connect COM7 ") != std::string::npos;
        },
        15000))
        << program.Err();
    close(reader);
    // Logged as received, into a FIFO nobody reads any more: a box, and the panel goes on.
    ASSERT_TRUE(line->Write(F("z=4.2")));
    EXPECT_EQ(program.Wait(1000), -1) << "the panel ended: " << program.Err();
    EXPECT_EQ(program.Signal(SIGTERM), 0) << program.Err();
}

TEST_F(CommandLine, optionsAppliedToTheWindow_noneKeepTheLayout_connectFailureReportedAsTheButtonDoes) {
    const auto apply = [&](std::vector<const char*> args) {
        auto options = std::make_unique<TCommandLine>();
        args.insert(args.begin(), "uavControl");
        EXPECT_EQ(options->Parse(static_cast<int>(args.size()), const_cast<char**>(args.data())),
                  std::nullopt);
        options->Apply(*form);
        RunFor(50);
        return options;
    };
    auto plain = apply({});
    EXPECT_EQ(form->edCommPort->text(), "1");
    EXPECT_EQ(form->BitBtn6->Tag(), 0);
    EXPECT_TRUE(boxes.boxes.empty());

    auto missing = apply({"--port", "9", "--connect"});
    EXPECT_EQ(form->edCommPort->text(), "9");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "No such file or directory");
    EXPECT_EQ(form->BitBtn6->Tag(), 1);
    EXPECT_EQ(form->BitBtn6->text(), "Disconnect");
    EXPECT_FALSE(form->SerialComm->Active());
}
