// The part of the test support that Windows has: the platform choice, memory and thread figures and a
// port-map folder (which Windows itself never reads: COM numbers are its own names). Pseudo-terminals and the
// simulator stay on Linux; the end-to-end runs reach the Linux simulator through Wine's COM mapping instead.
#include "TestSupport.h"

// clang-format off
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
// clang-format on

#include <atomic>
#include <cstdlib>

namespace fs = std::filesystem;

namespace uavtest {

long long ResidentKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return static_cast<long long>(counters.WorkingSetSize / 1024);
}

int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

void UseOffscreenUnlessDisplayed() {
    // A test run under Wine with no display of its own draws offscreen, as on a Linux machine without one.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("UAV_TEST_DISPLAY"))
        _putenv_s("QT_QPA_PLATFORM", "offscreen");
}

PortMap::PortMap(const std::string& tag) {
    static std::atomic<int> serial{0};
    dir_ = fs::temp_directory_path() /
           ("uav-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
    std::error_code ignored;
    fs::create_directories(dir_, ignored);
}

PortMap::~PortMap() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

fs::path PortMap::Link(int com) const {
    return dir_ / ("com" + std::to_string(com));
}

std::string PortMap::StandIn(int com) const {
    return "\\\\.\\COM" + std::to_string(com);
}

} // namespace uavtest
