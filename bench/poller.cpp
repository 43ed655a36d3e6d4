// The poller against a transponder that answers at once: how long one thirteen-query sequence takes
// next to its 13 x 60 ms floor, and what the panel process costs in CPU while polling at a 1 s period,
// beside the same panel driven by a spinning idle loop.
//
//   bench_poller [--seconds N]     N seconds of polling per variant (default 30)
//
// Each variant runs in a child process of its own (clean CPU accounting); the transponder is a further
// child on the other end of a pseudo-terminal, stamping each query as it arrives.
#include "Application.h"
#include "BenchSupport.h"
#include "KxTypes.h"
#include "MessageFramer.h"
#include "Serial2.h"
#include "Timer.h"
#include "uavMain.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double NowMs() {
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// Answers every frame at once with "<letter>=0"; writes the arrival time of each "e" query (the last of a
// sequence) to `stamps`.
[[noreturn]] void Transponder(int master, int stamps) {
    TMessageFramer framer;
    char buf[512];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, -1) < 0)
            continue;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            // No one has the other end open yet (EIO): wait for the panel to connect.
            usleep(10000);
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (!framer.Feed(buf[i], TFraming{}))
                continue;
            const std::string& m = framer.Message();
            if (m.size() < 3)
                continue;
            if (m[1] == 'e') {
                const double t = NowMs();
                (void)!write(stamps, &t, sizeof t);
            }
            const std::string reply = std::string("\x02") + m[1] + "=0\x03";
            (void)!write(master, reply.data(), reply.size());
        }
    }
}

struct Result {
    double cpuPercent = 0;
    int sequences = 0;
    double medianMs = 0, minMs = 0, maxMs = 0;
};

Result RunPanel(bool spin, int seconds, int argc, char** argv) {
    const uavtest::PortMap ports("bench-poller");
    const uavtest::LinkedPty pty(ports.Dir(), 3);
    if (!pty.Ok())
        std::exit(2);
    const int master = pty.Master();
    int stamps[2];
    if (pipe(stamps) != 0)
        std::exit(2);
    const pid_t responder = fork();
    if (responder == 0) {
        close(stamps[0]);
        Transponder(master, stamps[1]);
    }
    close(stamps[1]);
    fcntl(stamps[0], F_SETFL, O_NONBLOCK);

    QApplication qapp(argc, argv);
    TApplication app(qapp);
    TForm1 form;
    std::vector<double> starts;
    // Stamp the moment each sequence starts (the countdown reaching zero), around the panel's own handler.
    form.autoSequencer->SetOnTimer([&](TObject* sender) {
        form.autoSequencerTimer(sender);
        if (form.seqCount == 0)
            starts.push_back(NowMs());
    });
    if (spin) {
        // The loop as first written: the idle handler asks to be called again at once, forever.
        const TIdleEvent panelIdle = app.OnIdle();
        app.SetOnIdle([panelIdle](TObject* sender, bool& done) {
            panelIdle(sender, done);
            QTimer::singleShot(0, [] {});
        });
    }
    form.edCommPort->setText("3");
    form.BitBtn6->click();
    if (!form.SerialComm->Active())
        std::exit(3);
    form.seqEdit->setText("1");
    const double cpu0 = bench::CpuSeconds();
    const double wall0 = NowMs();
    form.autobtn->click();
    QTimer::singleShot(seconds * 1000, &qapp, &QCoreApplication::quit);
    QApplication::exec();
    const double cpu = bench::CpuSeconds() - cpu0;
    const double wall = (NowMs() - wall0) / 1000.0;
    form.BitBtn6->click();

    kill(responder, SIGTERM);
    waitpid(responder, nullptr, 0);
    std::vector<double> ends;
    double t;
    while (read(stamps[0], &t, sizeof t) == static_cast<ssize_t>(sizeof t))
        ends.push_back(t);

    std::vector<double> durations;
    for (double s : starts) {
        const auto e = std::lower_bound(ends.begin(), ends.end(), s);
        if (e != ends.end())
            durations.push_back(*e - s);
    }
    std::sort(durations.begin(), durations.end());
    Result r;
    r.cpuPercent = 100.0 * cpu / wall;
    r.sequences = static_cast<int>(durations.size());
    if (!durations.empty()) {
        r.medianMs = durations[durations.size() / 2];
        r.minMs = durations.front();
        r.maxMs = durations.back();
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(3, std::atoi(argv[i + 1]));
    uavtest::UseOffscreenUnlessDisplayed();

    std::printf("| idle loop | polling | sequences | sequence median | min | max | vs 13 x 60 ms | CPU of "
                "one core |\n");
    std::printf("| --- | --- | --- | --- | --- | --- | --- | --- |\n");
    for (bool spin : {false, true}) {
        int out[2];
        if (pipe(out) != 0)
            return 2;
        const pid_t child = fork();
        if (child == 0) {
            close(out[0]);
            const Result r = RunPanel(spin, seconds, argc, argv);
            (void)!write(out[1], &r, sizeof r);
            _exit(0);
        }
        close(out[1]);
        Result r;
        const bool got = read(out[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (!got) {
            std::fprintf(stderr, "variant %s failed (status %d)\n", spin ? "spinning" : "waiting", status);
            return 1;
        }
        std::printf("| %s | %d s at a 1 s period | %d | %.1f ms | %.1f ms | %.1f ms | %+.2f %% | %.2f %% |\n",
                    spin ? "spinning (as first written)" : "waits for events", seconds, r.sequences,
                    r.medianMs, r.minMs, r.maxMs, 100.0 * (r.medianMs - 780.0) / 780.0, r.cpuPercent);
        std::fflush(stdout);
    }
    return 0;
}
