// A transponder behind a network serial server: the simulator's line carried over a local TCP connection by
// two socat processes, started with the README's commands (the server end offering the line on a TCP
// port, the bench end linking a pseudo-terminal as a COM number), and the real window polling through them.
#include "KxTypes.h"
#include "PanelFixture.h"

#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A TCP port on the loopback that nobody listens on right now.
int FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// One socat, in a process group of its own, so killing it takes the children it forked for connections
// too, as a server switched off would.
class Socat {
public:
    explicit Socat(std::vector<std::string> args) {
        args.insert(args.begin(), "socat");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawnp(&pid_, argv[0], nullptr, &attributes, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
    }
    ~Socat() { Kill(); }
    void Kill() {
        if (pid_ <= 0)
            return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    bool Running() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ > 0;
    }

private:
    pid_t pid_ = -1;
};

constexpr int kServerCom = 21; // the simulator's line, where the serial server's adapter would be
constexpr int kBenchCom = 5;   // the line as the bench sees it

class OverNetworkSerialServer : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        sim = std::make_unique<uavtest::SimulatorProcess>(mapDir, kServerCom);
        ASSERT_TRUE(sim->WaitForLink()) << sim->Log();
        port = FreeTcpPort();
        ASSERT_GT(port, 0);
        CountDeliveries();
    }
    void TearDown() override {
        bench.reset();
        server.reset();
        sim.reset();
        PanelFixture::TearDown();
    }

    // The two ends of the bridge; true once the bench end's COM link is there.
    bool StartBridge() {
        const std::string tcp = std::to_string(port);
        server = std::make_unique<Socat>(std::vector<std::string>{
            "TCP-LISTEN:" + tcp + ",bind=127.0.0.1,reuseaddr,fork,max-children=1",
            (mapDir / ("com" + std::to_string(kServerCom))).string() + ",rawer,b9600,cs8,parenb=0,cstopb=0"});
        bench = std::make_unique<Socat>(std::vector<std::string>{
            "PTY,link=" + (mapDir / ("com" + std::to_string(kBenchCom))).string() + ",rawer",
            // retry: the server end may not be listening yet.
            "TCP:127.0.0.1:" + tcp +
                ",keepalive,keepidle=10,keepintvl=5,keepcnt=3,setsockopt-int=6:18:20000,retry=100,interval=0."
                "1"});
        return RunUntil([&] { return fs::is_symlink(mapDir / ("com" + std::to_string(kBenchCom))); }, 10000);
    }

    // Auto, until the thirteenth query has gone out and every answer has arrived: the last thirteen
    // frames the simulator read are the whole sequence in order, and each answer reached the window.
    void ExpectOneFullSequence() {
        const std::size_t deliveredBefore = Delivered();
        form->Label16->SetCaption(QString());
        form->seqEdit->setText("1");
        form->autobtn->click();
        ASSERT_TRUE(form->autoIndi->Checked());
        ASSERT_TRUE(RunUntil(
            [&] {
                const auto in = sim->Frames().in;
                return form->Label16->Caption() == "13" && !in.empty() && in.back() == "<STX>e=?<ETX>" &&
                       Delivered() >= deliveredBefore + 13 && form->rxMsg.empty();
            },
            20000))
            << sim->Log();
        form->autobtn->click(); // Auto off again
        const std::vector<std::string> in = sim->Frames().in;
        ASSERT_GE(in.size(), 13u);
        std::vector<std::string> expected;
        for (const char letter : std::string("acirsvounldze"))
            expected.push_back(std::string("<STX>") + letter + "=?<ETX>");
        EXPECT_EQ(std::vector<std::string>(in.end() - 13, in.end()), expected);
        EXPECT_EQ(form->lblCode->Caption().size(), 4);
        EXPECT_FALSE(form->lblVersion->Caption().isEmpty());
    }

    std::unique_ptr<uavtest::SimulatorProcess> sim;
    std::unique_ptr<Socat> server, bench;
    int port = 0;
};

} // namespace

TEST_F(OverNetworkSerialServer,
       pollsAFullSequence_andALostNetworkIsReportedOnce_thenDisconnectConnectRecovers) {
    ASSERT_TRUE(StartBridge());
    Connect(QString::number(kBenchCom));
    ASSERT_TRUE(form->SerialComm->Active());
    ExpectOneFullSequence();
    EXPECT_TRUE(boxes.boxes.empty());

    // The serial server goes: the bench end sees the connection close, ends and takes its line with it.
    server->Kill();
    ASSERT_TRUE(RunUntil([&] { return !bench->Running() && !boxes.boxes.empty(); }, 10000));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Input/output error");
    // The panel goes on writing to the dead line: nothing more is said.
    for (int i = 0; i < 3; ++i)
        form->btnPing->click();
    RunFor(200);
    EXPECT_EQ(boxes.boxes.size(), 1u);

    // The bridge is back: Disconnect and Connect take up the new line behind the same COM number.
    ASSERT_TRUE(StartBridge());
    form->BitBtn6->click();
    form->BitBtn6->click();
    ASSERT_TRUE(form->SerialComm->Active());
    ExpectOneFullSequence();
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(sim->Running()) << "the simulator behind the server outlived the network";
}
