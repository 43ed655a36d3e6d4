// The real simulator binary on a pseudo-terminal, driven from here with plain POSIX calls as a
// client of its linked device would.
#include "MessageFramer.h"
#include "PortLink.h"
#include "TestSupport.h"
#include "TransponderFrames.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Generous: these wait for events that normally take microseconds, on a machine that may be loaded.
constexpr auto kPatience = 10s;

// A client of the linked device: raw bytes out, framed messages in.
class Client {
public:
    explicit Client(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Client() { Close(); }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool IsOpen() const { return fd_ >= 0; }
    // As the panel and uavctl hold their port: no one else may open it, the simulator included (root may).
    bool HoldExclusively() const { return ::ioctl(fd_, TIOCEXCL) == 0; }

    bool Send(const std::string& bytes) const {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // The next STX..ETX message, or nothing within `wait`.
    std::optional<std::string> NextFrame(std::chrono::milliseconds wait = kPatience) {
        const auto until = std::chrono::steady_clock::now() + wait;
        for (;;) {
            while (pos_ < pending_.size())
                if (framer_.Feed(pending_[pos_++], TFraming{}))
                    return framer_.Message();
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN))
                return std::nullopt;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return std::nullopt;
            pending_.assign(buffer, static_cast<std::size_t>(n));
            pos_ = 0;
        }
    }

    // Waits until the line is gone from under us, as after an unplug.
    bool WaitForHangup() const {
        pollfd p{fd_, POLLIN, 0};
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < until) {
            p.revents = 0;
            if (::poll(&p, 1, 100) > 0 && (p.revents & (POLLHUP | POLLERR)))
                return true;
            char sink[64];
            if (p.revents & POLLIN) {
                [[maybe_unused]] const ssize_t drained = ::read(fd_, sink, sizeof sink);
            }
        }
        return false;
    }

private:
    int fd_;
    TMessageFramer framer_;
    std::string pending_;
    std::size_t pos_ = 0;
};

TEST(SimEndToEnd, pollerQueriesAndSetCommands_areAnsweredOverThePtyAndSigtermRemovesTheLink) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7);
    ASSERT_GT(sim.Pid(), 0);
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.IsOpen()) << std::strerror(errno);

    for (int step = 1; step <= proto::kQueryStepCount; ++step) {
        ASSERT_TRUE(client.Send(proto::QueryFrame(step)));
        const auto reply = client.NextFrame();
        ASSERT_TRUE(reply) << "step " << step << "\n" << sim.Log();
        EXPECT_EQ(reply->at(1), proto::kQueryLetters[static_cast<std::size_t>(step - 1)]);
    }
    ASSERT_TRUE(client.Send(proto::CodeFrame("4567")));
    EXPECT_EQ(client.NextFrame(), proto::Frame('c', "4567"));
    ASSERT_TRUE(client.Send(proto::Query('c')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('c', "4567"));

    client.Close();
    ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.LinkPath())));
    EXPECT_NE(sim.Log().find("in  <STX>c=4567<ETX>"), std::string::npos);
}

TEST(SimEndToEnd, mutedLetterAndNoise_mutedNeverAnsweredOthersFramedThroughTheNoise) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--mute", "z", "--garbage"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Send(proto::Query('z')));
    ASSERT_TRUE(client.Send(proto::Query('s')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('s', "t"));
    EXPECT_EQ(client.NextFrame(300ms), std::nullopt);
    EXPECT_NE(sim.Log().find("(noise)"), std::string::npos);
}

TEST(SimEndToEnd, pacedAnswer_takesAtLeastItsBytesAtTheWireRate) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--pace"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.Send(proto::Query('s'))); // the first exchange also finds the client
    ASSERT_TRUE(client.NextFrame());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Send(proto::Query('c')));
    const auto reply = client.NextFrame();
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(reply, proto::Frame('c', "1200"));
    // Only a lower bound: the first byte may leave at once, each later one a byte time after it.
    EXPECT_GE(took, (reply->size() - 1) * std::chrono::microseconds(1041));
}

TEST(SimEndToEnd, interrogationsWhileInModeA_arriveAsBareStarFrames) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--interrogations", "50"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.Send(proto::StatusFrame(proto::OperatingMode::ModeA)));
    int stars = 0;
    for (int i = 0; i < 10 && stars < 3; ++i)
        if (client.NextFrame() == std::string("\x02*\x03"))
            ++stars;
    EXPECT_EQ(stars, 3) << sim.Log();
}

TEST(SimEndToEnd, answerPendingOrUnreadWhenTheClientLeaves_neverReachesTheNextClient) {
    // The next client here flushes nothing when it opens, as a plain terminal program does not.
    for (const bool sentBeforeTheClose : {false, true}) {
        SCOPED_TRACE(sentBeforeTheClose ? "sent, unread" : "still pending");
        const uavtest::PortMap ports("sim-e2e");
        uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--delay", sentBeforeTheClose ? "0" : "200"});
        ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
        {
            Client first(sim.LinkPath());
            ASSERT_TRUE(first.Send(proto::Query('c')));
            for (int i = 0; sentBeforeTheClose && sim.Frames().out.empty() && i < 1000; ++i)
                std::this_thread::sleep_for(5ms);
            ASSERT_EQ(sim.Frames().out.size(), sentBeforeTheClose ? 1u : 0u) << sim.Log();
        }
        std::this_thread::sleep_for(400ms);
        Client second(sim.LinkPath());
        ASSERT_TRUE(second.Send(proto::Query('s')));
        EXPECT_EQ(second.NextFrame(), proto::Frame('s', "t")) << sim.Log();
    }
}

TEST(SimEndToEnd, dropAfterTwoFrames_answersThemThenHangsUpRemovesTheLinkAndExits) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--drop-after", "2"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.HoldExclusively());
    ASSERT_TRUE(client.Send(proto::Query('v')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('v', "1"));
    ASSERT_TRUE(client.Send(proto::Query('d')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('d', "g"));
    EXPECT_TRUE(client.WaitForHangup());
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.LinkPath())));
}

// Polls `done` until it holds or kPatience has passed.
template <class F> bool Eventually(F done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    return done();
}

TEST(SimEndToEnd,
     secondSimulatorOnALiveLink_isRefusedWithTheReason_replaceTakesItOver_neitherRemovesTheOthers) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess first(ports.Dir(), 7);
    ASSERT_TRUE(first.WaitForLink()) << first.Log();
    const fs::path firstDevice = fs::read_symlink(first.LinkPath());

    uavtest::SimulatorProcess second(ports.Dir(), 7);
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_NE(second.Log().find("leads to " + firstDevice.string() + ", which is live"), std::string::npos)
        << second.Log();
    EXPECT_EQ(fs::read_symlink(first.LinkPath()), firstDevice);

    uavtest::SimulatorProcess third(ports.Dir(), 7, {"--replace"});
    ASSERT_TRUE(Eventually([&] { return fs::read_symlink(third.LinkPath()) != firstDevice; })) << third.Log();
    const fs::path thirdDevice = fs::read_symlink(third.LinkPath());
    EXPECT_EQ(first.Stop(), 0);
    EXPECT_EQ(fs::read_symlink(third.LinkPath()), thirdDevice);
    EXPECT_EQ(third.Stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(third.LinkPath())));
}

TEST(SimEndToEnd, logReaderGone_theTransponderGoesOnAndStopsCleanly_missingLinkFolder_failsMakingNothing) {
    const uavtest::PortMap ports("sim-e2e");
    {
        // As `transponder-sim 2>&1 | head -3` leaves it: stderr a pipe whose reader has gone.
        int log[2];
        ASSERT_EQ(pipe2(log, O_CLOEXEC), 0);
        const std::string program = uavtest::SimulatorProcess::DefaultProgram();
        const std::string folder = "--ports=" + ports.Dir().string();
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(log[1], STDERR_FILENO);
            signal(SIGPIPE, SIG_DFL);
            execl(program.c_str(), program.c_str(), "--com=7", folder.c_str(), nullptr);
            _exit(127);
        }
        close(log[0]);
        close(log[1]);
        const fs::path link = ports.Link(7);
        ASSERT_TRUE(Eventually([&] { return fs::is_symlink(link); }));
        Client client(link.string());
        const bool answered = client.IsOpen() && client.Send(proto::Query('c')) &&
                              client.NextFrame() == proto::Frame('c', "1200");
        client.Close();
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(answered);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
    const fs::path missing = ports.Dir() / "missing";
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--link", (missing / "x" / "com1").string()});
    EXPECT_EQ(sim.WaitForExit(), 1);
    EXPECT_NE(sim.Log().find("the link's folder " + (missing / "x").string() + ": No such file or directory"),
              std::string::npos)
        << sim.Log();
    EXPECT_FALSE(fs::exists(missing));
}

// A serial device stands in for the pty: the far end of a null-modem cable. A pty's slave plays the
// device here; its master is the other end of the cable.
TEST(SimEndToEnd, onADevice_answersThere_holdsItExclusively_putsItsSettingsBackAtExit) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string device = ptsname(master);
    const uavtest::PortMap ports("simdev");
    std::optional<uavtest::SimulatorProcess> sim(std::in_place, ports.Dir(), 5,
                                                 std::vector<std::string>{"--device", device});
    ASSERT_TRUE(sim->WaitForLink()) << sim->Log();
    EXPECT_EQ(fs::read_symlink(ports.Link(5)), device) << "asked for with --com: linked to the device";

    const std::string query = proto::QueryFrame(12); // z=?
    ASSERT_EQ(::write(master, query.data(), query.size()), static_cast<ssize_t>(query.size()));
    std::string answer;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (answer.find('\x03') == std::string::npos && std::chrono::steady_clock::now() < until) {
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 100);
        char buffer[64];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            answer.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(answer.rfind("\x02z=", 0), 0u) << answer << sim->Log();

    // Held: an ordinary user cannot open it at all (TIOCEXCL); root, who can, cannot lock it.
    const int other = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other < 0) {
        EXPECT_EQ(errno, EBUSY);
    } else {
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0) << "the device is not held";
        ::close(other);
    }
    EXPECT_EQ(sim->Stop(), 0) << sim->Log();
    termios after{};
    ASSERT_EQ(tcgetattr(master, &after), 0); // a pty's settings read the same through either end
    EXPECT_TRUE(after.c_lflag & ICANON) << "the device was left raw";
    ::close(master);
}

// A simulator killed with SIGKILL leaves its link, leading to a terminal number that is free again: the next
// simulator may well get that very number.
TEST(SimEndToEnd, aLeftLinkLeadingToTheSimulatorsOwnNewLine_isStaleAndTakenOver) {
    const uavtest::PortMap ports("sim-e2e");
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    char name[128];
    ASSERT_EQ(grantpt(master) | unlockpt(master) | ptsname_r(master, name, sizeof name), 0);
    fs::create_symlink(name, ports.Link(1));
    EXPECT_NO_THROW(sim::PortLink(ports.Link(1).string(), name));
    close(master);
}

TEST(SimEndToEnd, helpThatCannotBeWritten_failsWithTheReason) {
    const uavtest::PortMap ports("sim-e2e");
    const fs::path err = ports.Dir() / "err";
    const std::string command =
        uavtest::SimulatorProcess::DefaultProgram() + " --help >/dev/full 2>" + err.string();
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
    std::ifstream said(err);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(said), {}),
              "transponder-sim: cannot write to standard output: No space left on device\n");
}

} // namespace
