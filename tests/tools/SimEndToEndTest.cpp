// The real simulator binary on a pseudo-terminal, driven from here with plain POSIX calls as a
// client of its linked device would.
#include "MessageFramer.h"
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
#include <optional>
#include <poll.h>
#include <string>
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

TEST(SimEndToEnd, answerPendingWhenTheClientLeaves_neverReachesTheNextClient) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--delay", "200"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    {
        Client first(sim.LinkPath());
        ASSERT_TRUE(first.Send(proto::Query('c')));
    }
    std::this_thread::sleep_for(400ms);
    Client second(sim.LinkPath());
    ASSERT_TRUE(second.Send(proto::Query('s')));
    EXPECT_EQ(second.NextFrame(), proto::Frame('s', "t")) << sim.Log();
}

TEST(SimEndToEnd, dropAfterTwoFrames_answersThemThenHangsUpRemovesTheLinkAndExits) {
    const uavtest::PortMap ports("sim-e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 7, {"--drop-after", "2"});
    ASSERT_TRUE(sim.WaitForLink()) << sim.Log();
    Client client(sim.LinkPath());
    ASSERT_TRUE(client.Send(proto::Query('v')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('v', "1"));
    ASSERT_TRUE(client.Send(proto::Query('d')));
    EXPECT_EQ(client.NextFrame(), proto::Frame('d', "g"));
    EXPECT_TRUE(client.WaitForHangup());
    EXPECT_EQ(sim.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.LinkPath())));
}

} // namespace
