// The serial component on a pseudo-terminal: how long closing an open port takes, how long a reply takes
// from its last byte written by the other end to the OnMessage handler on the user-interface thread, and
// how much CPU an open, idle port costs. Prints medians and maxima.
#include "Application.h"
#include "Serial2.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %.3f ms  p99 %.3f ms  max %.3f ms  (n=%zu)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.back(), ms.size());
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        static const std::string runtime = "/tmp/uav-bench-runtime-" + std::to_string(getuid());
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    QApplication qapp(argc, argv);
    TApplication app(qapp);

    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    close(slave);
    const auto dir = std::filesystem::temp_directory_path() / ("uav-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(name, dir / "com1");
    setenv("UAVCONTROL_PORTS", dir.c_str(), 1);

    TSerial serial;
    serial.SetDataBits(d8bit);
    serial.SetRxEventMode(rxMessage);
    Clock::time_point arrived;
    int received = 0;
    serial.SetOnMessage([&](TObject*, const std::string&) {
        arrived = Clock::now();
        ++received;
    });

    std::vector<double> closing;
    for (int i = 0; i < 200; ++i) {
        serial.SetActive(true);
        // Let the event thread settle in its wait, so the close goes through the whole handshake.
        while (!serial.ThreadBusy())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto t0 = Clock::now();
        serial.SetActive(false);
        closing.push_back(Ms(Clock::now() - t0));
    }
    Report("close an open port", closing);

    serial.SetActive(true);
    const std::string reply = "\x02"
                              "A=0123\x03";
    std::vector<double> latency;
    for (int i = 0; i < 1000; ++i) {
        const int before = received;
        const auto sent = Clock::now();
        if (write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
            return 1;
        while (received == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        latency.push_back(Ms(arrived - sent));
    }
    Report("reply last byte -> OnMessage", latency);

    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("%-34s %.3f %% of one core over 3 s\n", "open idle port, CPU",
                100.0 * (CpuSeconds() - cpu0) / 3.0);

    serial.SetActive(false);
    std::filesystem::remove_all(dir);
    return 0;
}
