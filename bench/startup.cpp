// Start-up: how long from starting the program to its main window painted on screen, and how much memory
// the running panel keeps resident. Each run is a fresh process (this program again, in child mode), so
// loading the libraries, creating the window and its first paint all count, as for uavControl.
//
//   bench_startup [--runs N]      N runs (default 20); prints the median and the slowest
//
// The child starts up as uavControl's main() does, reports when the window first paints, idles a second,
// reports its resident and peak memory, and quits.
#include "Application.h"
#include "BenchSupport.h"
#include "uavMain.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Phases of one start, as CLOCK_MONOTONIC instants (the same clock in parent and child).
enum Phase { kMain, kQApplication, kForm, kPhases };

struct Report {
    long long residentKiB = 0;
    long long peakKiB = 0;
    Clock::rep phase[kPhases] = {};
};

Clock::rep Stamp() {
    return Clock::now().time_since_epoch().count();
}

// Tells the parent once, on the window's first paint.
class FirstPaint final : public QObject {
public:
    explicit FirstPaint(int fd) : fd_(fd) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !told_) {
            told_ = true;
            const char shown = 's';
            [[maybe_unused]] const ssize_t n = write(fd_, &shown, 1);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int fd_;
    bool told_ = false;
};

int Child(int argc, char** argv, int fd) {
    Report report;
    report.phase[kMain] = Stamp();
    QApplication qapp(argc, argv);
    report.phase[kQApplication] = Stamp();
    TApplication app(qapp);
    Application->Initialize();
    Application->CreateForm(Form1);
    report.phase[kForm] = Stamp();
    FirstPaint watch(fd);
    Form1->installEventFilter(&watch);
    QTimer::singleShot(1000, &qapp, [fd, &report] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        report.residentKiB = uavtest::ResidentKiB();
        // The kernel raises its high-water mark lazily; the figure read just now may be higher still.
        report.peakKiB = std::max<long long>(u.ru_maxrss, report.residentKiB);
        [[maybe_unused]] const ssize_t n = write(fd, &report, sizeof report);
        Application->Terminate();
    });
    return Application->Run();
}

} // namespace

int main(int argc, char** argv) {
    uavtest::UseOffscreenUnlessDisplayed();
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return Child(1, argv, std::atoi(argv[2]));
    int runs = 20;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));
    else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
        return 2;
    }

    std::vector<double> shownMs;
    std::vector<long long> resident, peak;
    std::vector<double> phaseMs[kPhases];
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (int i = 0; i < runs; ++i) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return 1;
        const std::string fdText = std::to_string(pipeFds[1]);
        const auto t0 = Clock::now();
        const pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            execl(self.c_str(), self.c_str(), "--child", fdText.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        char shown = 0;
        if (read(pipeFds[0], &shown, 1) != 1) {
            std::fprintf(stderr, "run %d: the window never painted\n", i);
            return 1;
        }
        shownMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        Report report;
        if (read(pipeFds[0], &report, sizeof report) != static_cast<ssize_t>(sizeof report))
            return 1;
        resident.push_back(report.residentKiB);
        for (int p = 0; p < kPhases; ++p)
            phaseMs[p].push_back(std::chrono::duration<double, std::milli>(Clock::duration(report.phase[p]) -
                                                                           t0.time_since_epoch())
                                     .count());
        peak.push_back(report.peakKiB);
        close(pipeFds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d: exit status %d\n", i, status);
            return 1;
        }
    }
    std::sort(shownMs.begin(), shownMs.end());
    std::sort(resident.begin(), resident.end());
    std::sort(peak.begin(), peak.end());
    const auto mid = static_cast<std::size_t>(runs) / 2;
    std::printf("start to window painted (%d runs, platform %s): median %.1f ms, slowest %.1f ms\n", runs,
                std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "default", shownMs[mid],
                shownMs.back());
    for (auto& p : phaseMs)
        std::sort(p.begin(), p.end());
    std::printf("  median from start: main() %.1f ms, QApplication made %.1f ms, window created %.1f ms\n",
                phaseMs[kMain][mid], phaseMs[kQApplication][mid], phaseMs[kForm][mid]);
    std::printf(
        "resident after 1 s idle: median %lld KiB (%.1f MB), largest %lld KiB; peak RSS median %lld KiB\n",
        resident[mid], static_cast<double>(resident[mid]) / 1024, resident.back(), peak[mid]);
    return 0;
}
