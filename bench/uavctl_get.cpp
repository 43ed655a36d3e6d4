// `uavctl get all` against the simulator: its wall time, process start to exit, next to the floor of
// the thirteen query/answer round trips made by a bare client on the same line (on a line it holds
// open, and from opening the line to closing it, as a fresh process must), and to the cost of starting
// uavctl at all (`uavctl --version`), which is held against a bare Qt Core program's in the same run: the
// budget is 1.3 times that.
//
//   bench_uavctl_get [--runs N]     N runs of each (default 30)
#include "MessageFramer.h"
#include "TestSupport.h"
#include "TransponderFrames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr double kStartBudget = 1.3; // `uavctl --version` against the bare Qt Core program

using Clock = std::chrono::steady_clock;
constexpr int kCom = 9;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    double median = 0, min = 0, max = 0;
};

Stats Summary(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

// One process run to its end, in milliseconds; negative when it failed.
double TimedRun(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return Ms(Clock::now() - start);
}

// The thirteen queries, each sent when the previous answer is in, by a client with nothing else to do.
double BareSequence(int fd) {
    TMessageFramer framer;
    const auto start = Clock::now();
    for (const char letter : proto::kQueryLetters) {
        const std::string query = proto::Query(letter);
        if (write(fd, query.data(), query.size()) != static_cast<ssize_t>(query.size()))
            return -1;
        for (bool answered = false; !answered;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                return -1;
            char buffer[64];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i)
                answered = framer.Feed(buffer[i], TFraming{}) || answered;
        }
    }
    return Ms(Clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 30;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));

    uavtest::PortMap ports("bench-uavctl");
    uavtest::SimulatorProcess sim(ports.Dir(), kCom);
    if (!sim.WaitForLink()) {
        std::fprintf(stderr, "the simulator did not start\n%s", sim.Log().c_str());
        return 1;
    }

    auto openRaw = [&] {
        const int fd = open(sim.LinkPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
        return fd;
    };
    std::vector<double> bare, cold, get, version, qtCore;
    {
        const int fd = openRaw();
        BareSequence(fd); // the first exchange also lets the simulator find its client
        for (int i = 0; i < runs; ++i)
            bare.push_back(BareSequence(fd));
        close(fd);
    }
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const int fd = openRaw();
        const bool answered = BareSequence(fd) >= 0;
        close(fd);
        cold.push_back(answered ? Ms(Clock::now() - start) : -1);
        get.push_back(TimedRun({UAVCTL_PATH, "--port", std::to_string(kCom), "get", "all"}));
        version.push_back(TimedRun({UAVCTL_PATH, "--version"}));
        qtCore.push_back(TimedRun({BARE_QTCORE_PATH}));
    }
    for (const auto* v : {&bare, &cold, &get, &version, &qtCore})
        if (std::any_of(v->begin(), v->end(), [](double ms) { return ms < 0; })) {
            std::fprintf(stderr, "a run failed\n%s", sim.Log().c_str());
            return 1;
        }

    const Stats b = Summary(bare), c = Summary(cold), g = Summary(get), s = Summary(version),
                q = Summary(qtCore);
    auto row = [](const char* what, const Stats& st) {
        std::printf("%-37s median %7.3f ms  (min %7.3f, max %7.3f)\n", what, st.median, st.min, st.max);
    };
    std::printf("%d runs each\n", runs);
    row("13 round trips, bare client:", b);
    row("the same from open to close:", c);
    row("uavctl get all, start to exit:", g);
    row("uavctl --version, start to exit:", s);
    row("bare Qt Core program, start to exit:", q);
    std::printf("get all over the open-to-close floor: %.3f ms, of which starting the program %.3f ms\n",
                g.median - c.median, s.median);
    const double ratio = s.median / q.median;
    std::printf("uavctl --version over the bare Qt Core program: %.2fx (budget %.1fx: %s)\n", ratio,
                kStartBudget, ratio <= kStartBudget ? "met" : "missed");
    return 0;
}
