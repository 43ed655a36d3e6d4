// Reply to display: the time from the last byte of a transponder's reply written into the line to the
// panel's label holding the new value, and to that label painted. The real window, shown offscreen,
// connected over a pseudo-terminal; a thread of its own plays the transponder, one "z" reply every few
// milliseconds. The traffic log is on for every other reply, so both figures come from the same run under
// the same load.
//
//   bench_reply_display [--replies N] [--gap MS] [--log FILE]     N replies (default 1000), MS apart
//   (default 20; a 9600-baud line needs 10 ms for one); the log appended to FILE (default: a file in a
//   private folder under /tmp, removed afterwards)
#include "Application.h"
#include "BenchSupport.h"
#include "Label.h"
#include "Serial2.h"
#include "TrafficLog.h"
#include "uavMain.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Arrival stamps of the caption each reply carries ("z=<index>"), on the user-interface thread.
class PaintStamps final : public QObject {
public:
    PaintStamps(TLabel* label, std::vector<Clock::time_point>& painted) : label_(label), painted_(painted) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::Paint) {
            bool ok = false;
            const int i = label_->Caption().toInt(&ok);
            if (ok && i >= 0 && static_cast<std::size_t>(i) < painted_.size() &&
                painted_[static_cast<std::size_t>(i)] == Clock::time_point{})
                painted_[static_cast<std::size_t>(i)] = Clock::now();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TLabel* label_;
    std::vector<Clock::time_point>& painted_;
};

// Odd replies are the ones logged.
bool Logged(std::size_t reply) {
    return reply % 2 == 1;
}

void Report(const char* what, bool logged, const std::vector<Clock::time_point>& from,
            const std::vector<Clock::time_point>& to) {
    std::vector<double> ms;
    for (std::size_t i = 0; i < from.size(); ++i)
        if (Logged(i) == logged && to[i] != Clock::time_point{})
            ms.push_back(std::chrono::duration<double, std::milli>(to[i] - from[i]).count());
    const std::size_t of = (from.size() + (logged ? 0 : 1)) / 2;
    char label[64];
    std::snprintf(label, sizeof label, "%s, log %s", what, logged ? "on" : "off");
    if (ms.empty()) {
        std::printf("%-46s no samples\n", label);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-46s median %.3f ms  p99 %.3f ms  max %.3f ms  (n=%zu of %zu)\n", label, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.back(), ms.size(), of);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t replies = 1000;
    int gapMs = 20;
    std::string logPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--replies") == 0)
            replies = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "--gap") == 0)
            gapMs = std::max(0, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--log") == 0)
            logPath = argv[i + 1];
    }
    uavtest::UseOffscreenUnlessDisplayed();
    QApplication qapp(argc, argv);
    TApplication app(qapp);

    const uavtest::PortMap ports("bench-display");
    const uavtest::LinkedPty pty(ports.Dir(), 1);
    if (!pty.Ok())
        return 1;
    const int master = pty.Master();
    if (logPath.empty())
        logPath = (ports.Dir() / "traffic.log").string();
    std::string reason;
    const std::unique_ptr<TTrafficLog> log = TTrafficLog::Open(logPath, reason);
    if (!log) {
        std::fprintf(stderr, "%s: %s\n", logPath.c_str(), reason.c_str());
        return 1;
    }

    std::vector<Clock::time_point> written(replies), decoded(replies), painted(replies);
    {
        TForm1 form;
        form.show();
        form.edCommPort->setText("1");
        form.BitBtn6->click();
        if (!form.SerialComm->Active())
            return 1;
        // The idle hook as the program installs it; the caption is read right after each pass.
        app.SetOnIdle([&](QObject* sender, bool& done) {
            form.AppIdle(sender, done);
            bool ok = false;
            const int i = form.lblVersion->Caption().toInt(&ok);
            if (ok && i >= 0 && static_cast<std::size_t>(i) < replies &&
                decoded[static_cast<std::size_t>(i)] == Clock::time_point{}) {
                decoded[static_cast<std::size_t>(i)] = Clock::now();
                // Switched here, long before the next reply arrives, so the switch costs neither side.
                form.SetTrafficLog(Logged(static_cast<std::size_t>(i) + 1) ? log.get() : nullptr);
            }
        });
        PaintStamps stamps(form.lblVersion, painted);
        form.lblVersion->installEventFilter(&stamps);

        std::atomic<bool> finished{false};
        std::thread transponder([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            for (std::size_t i = 0; i < replies; ++i) {
                const std::string frame = "\x02z=" + std::to_string(i) + "\x03";
                written[i] = Clock::now();
                if (write(master, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            finished = true;
        });
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (finished)
                loop.quit();
        });
        check.start(50);
        loop.exec();
        transponder.join();
        form.SetTrafficLog(nullptr);
        form.BitBtn6->click();
    }
    if (log->Stopped())
        std::fprintf(stderr, "the traffic log could not be written: the figures with it on are void\n");
    // The stamp is taken just before write(), so each figure holds the system call and the kernel's hop.
    for (const bool logged : {false, true})
        Report("reply written to label caption set", logged, written, decoded);
    for (const bool logged : {false, true})
        Report("reply written to label painted", logged, written, painted);
    return log->Stopped() ? 1 : 0;
}
