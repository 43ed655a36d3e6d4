// The serial component on a pseudo-terminal: how long closing an open port takes, how long a reply takes
// from its last byte written by the other end to the OnMessage handler on the user-interface thread, and
// how much CPU an open, idle port costs. Prints medians and maxima.
#include "BenchSupport.h"
#include "CoreApplication.h"
#include "Serial2.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

} // namespace

int main(int argc, char** argv) {
    // The component needs no window: the program without one, as uavctl runs it.
    QCoreApplication qapp(argc, argv);
    TCoreApplication app(qapp);

    const uavtest::PortMap ports("bench-serial");
    const uavtest::LinkedPty pty(ports.Dir(), 1);
    if (!pty.Ok())
        return 1;
    const int master = pty.Master();

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

    const double cpu0 = bench::CpuSeconds();
    const auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("%-34s %.3f %% of one core over 3 s\n", "open idle port, CPU",
                100.0 * (bench::CpuSeconds() - cpu0) / 3.0);

    serial.SetActive(false);
    return 0;
}
