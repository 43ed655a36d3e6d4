// Soak: the panel (offscreen, shown) polls the bundled transponder simulator at a 1 s period for a long
// while, with the transponder's "*" indications every 200 ms and a ping request every few seconds.
// Afterwards it compares what each side sent with what the other side took in, and reports resident
// memory at start, after warm-up and at the end, the CPU share of the panel and of the simulator, and the
// error boxes shown.
//
//   bench_soak [--seconds N] [--ping-every S] [--sim PATH] [--max-growth-kib K]
//
// N defaults to 1800 (30 minutes). Exit status 0 only when nothing was lost, no box was shown and the
// resident memory after warm-up grew by at most K KiB (default 4096; not judged under AddressSanitizer,
// whose quarantine holds freed memory on purpose).
#include "Application.h"
#include "BenchSupport.h"
#include "KxTypes.h"
#include "MessageBox.h"
#include "Serial2.h"
#include "Timer.h"
#include "uavMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// User plus system time of another process, from /proc.
double CpuSecondsOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) // state .. cmajflt: fields 3 to 13
        fields >> skip;
    unsigned long long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class CountedBoxes final : public IMessageBoxService {
public:
    int Show(const QString& text, const QString& caption, unsigned) override {
        ++shown;
        std::fprintf(stderr, "box: [%s] %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        return IDOK;
    }
    int shown = 0;
};

struct Wire {
    long long in = 0, out = 0, interrogations = 0;
};

// Frames the simulator read and frames it put on the line, counted.
Wire Count(const uavtest::SimulatorProcess& sim) {
    const uavtest::SimulatorProcess::Wire frames = sim.Frames();
    Wire wire;
    wire.in = static_cast<long long>(frames.in.size());
    wire.out = static_cast<long long>(frames.out.size());
    for (const std::string& frame : frames.out)
        if (frame == "<STX>*<ETX>")
            ++wire.interrogations;
    return wire;
}

// Runs the event loop (one that really waits, so the idle hook runs as in the program) for `ms`, or
// until `done`.
void Wait(int ms, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer check;
    if (done) {
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        check.start(50);
    }
    limit.start(ms);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 1800;
    double pingEvery = 5;
    long long maxGrowthKiB = 4096;
    std::string simPath = uavtest::SimulatorProcess::DefaultProgram();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--ping-every" && i + 1 < argc)
            pingEvery = std::atof(argv[++i]);
        else if (a == "--sim" && i + 1 < argc)
            simPath = argv[++i];
        else if (a == "--max-growth-kib" && i + 1 < argc)
            maxGrowthKiB = std::atoll(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--ping-every S] [--sim PATH] [--max-growth-kib K]\n",
                         argv[0]);
            return 2;
        }
    }
    uavtest::UseOffscreenUnlessDisplayed();

    const uavtest::PortMap ports("soak");
    // The transponder: answers at once, interrogated five times a second.
    uavtest::SimulatorProcess sim(ports.Dir(), 1, {"--interrogations", "5"}, simPath);

    int status = 1;
    {
        QApplication qapp(argc, argv);
        TApplication app(qapp);
        CountedBoxes boxes;
        app.SetMessageBoxService(&boxes);
        Wait(5000, [&] { return sim.HasLink(); });
        if (!sim.HasLink()) {
            std::fprintf(stderr, "the simulator did not start (%s)\n%s", simPath.c_str(), sim.Log().c_str());
            return 1;
        }

        TForm1 form;
        long long queriesSent = 0, pingsSent = 0, commandsSent = 0, delivered = 0, sequences = 0,
                  watchdogs = 0;
        app.SetOnIdle([&](QObject* sender, bool& done) {
            const bool due = form.queryDue;
            const int step = form.queryStep;
            form.AppIdle(sender, done);
            if (due && !form.queryDue) {
                ++queriesSent;
                if (step == 12)
                    ++sequences;
            }
        });
        form.SerialComm->SetOnMessage([&](TObject* sender, const std::string& message) {
            ++delivered;
            form.SerialCommMessage(sender, message);
        });
        const TNotifyEvent watchdog = form.wdt->OnTimer();
        form.wdt->SetOnTimer([&, watchdog](TObject* sender) {
            ++watchdogs;
            watchdog(sender);
        });
        form.show();
        form.edCommPort->setText("1");
        form.BitBtn6->click();
        if (!form.SerialComm->Active()) {
            std::fprintf(stderr, "could not open COM1\n");
            return 1;
        }
        // Mode A and replies on: the transponder sends its indications.
        form.rbStatus->SetItemIndex(1);
        form.statusBtn->click();
        form.rbInterrogate->SetItemIndex(0);
        form.InterrogateBtn->click();
        commandsSent += 2;
        form.seqEdit->setText("1");
        form.autobtn->click();

        QTimer ping;
        QObject::connect(&ping, &QTimer::timeout, &form, [&] {
            form.btnPing->click();
            ++pingsSent;
        });
        ping.start(static_cast<int>(pingEvery * 1000));

        const auto t0 = Clock::now();
        const double cpu0 = bench::CpuSeconds();
        const double simCpu0 = CpuSecondsOf(sim.Pid());
        const long long rssStart = uavtest::ResidentKiB();
        const double warmUp = std::min(60.0, seconds / 4);
        long long rssWarm = rssStart;
        bool warmTaken = false;
        long long lastReport = 0;
        while (Seconds(Clock::now() - t0) < seconds) {
            Wait(200);
            const double elapsed = Seconds(Clock::now() - t0);
            if (!warmTaken && elapsed >= warmUp) {
                rssWarm = uavtest::ResidentKiB();
                warmTaken = true;
            }
            if (static_cast<long long>(elapsed) / 60 > lastReport) {
                lastReport = static_cast<long long>(elapsed) / 60;
                std::fprintf(stderr, "%4.0f s: %lld queries, %lld sequences, %lld messages, RSS %lld KiB\n",
                             elapsed, queriesSent, sequences, delivered, uavtest::ResidentKiB());
            }
        }
        const double wall = Seconds(Clock::now() - t0);
        const double cpu = bench::CpuSeconds() - cpu0;
        const double simCpu = CpuSecondsOf(sim.Pid()) - simCpu0;
        const long long rssEnd = uavtest::ResidentKiB();

        // Quiet the line before counting: no more pings or sequences, and replies off ends the indications.
        ping.stop();
        form.autobtn->click();
        form.rbInterrogate->SetItemIndex(1);
        form.InterrogateBtn->click();
        ++commandsSent;
        Wire wire;
        Wait(5000, [&] {
            wire = Count(sim);
            return wire.in == queriesSent + pingsSent + commandsSent && wire.out == delivered &&
                   form.rxMsg.empty();
        });
        wire = Count(sim);
        const long long panelSent = queriesSent + pingsSent + commandsSent;
        const long long decoded =
            delivered - static_cast<long long>(form.rxMsg.size()) - static_cast<long long>(form.rxMsgDropped);
        form.BitBtn6->click();

        std::printf(
            "soak: %.0f s of polling at a 1 s period, indications every 200 ms, a ping every %.0f s\n", wall,
            pingEvery);
        std::printf("  frames sent by the panel        %lld (%lld queries, %lld pings, %lld commands)\n",
                    panelSent, queriesSent, pingsSent, commandsSent);
        std::printf("  frames read by the transponder  %lld\n", wire.in);
        std::printf("  frames sent by the transponder  %lld (%lld answers, %lld indications)\n", wire.out,
                    wire.out - wire.interrogations, wire.interrogations);
        std::printf("  messages delivered to the panel %lld, decoded %lld, dropped %llu\n", delivered,
                    decoded, static_cast<unsigned long long>(form.rxMsgDropped));
        std::printf("  sequences completed %lld, watchdog restarts %lld\n", sequences, watchdogs);
        std::printf(
            "  RSS start %lld KiB, after %.0f s warm-up %lld KiB, end %lld KiB (growth after warm-up %lld "
            "KiB)\n",
            rssStart, warmUp, rssWarm, rssEnd, rssEnd - rssWarm);
        std::printf("  CPU panel %.2f %% of one core (%.2f s), simulator %.2f %% (%.2f s)\n",
                    100 * cpu / wall, cpu, 100 * simCpu / wall, simCpu);
        std::printf("  error boxes %d\n", boxes.shown);

        bool ok = wire.in == panelSent && wire.out == delivered && decoded == delivered && boxes.shown == 0 &&
                  queriesSent > 0 && wire.interrogations > 0;
        if (uavtest::kUnderAddressSanitizer) {
            std::printf("  resident memory not judged under AddressSanitizer\n");
        } else if (rssEnd - rssWarm > maxGrowthKiB) {
            std::printf("  resident memory grew by more than %lld KiB\n", maxGrowthKiB);
            ok = false;
        }
        std::printf("  %s\n", ok ? "PASS: nothing lost, no box" : "FAIL");
        std::fflush(stdout);
        status = ok ? 0 : 1;
        app.SetMessageBoxService(nullptr);
    }
    return status;
}
