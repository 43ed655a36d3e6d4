#pragma once
// What the benchmarks share: Qt's platform and runtime folder set as the tests set them, the process's
// CPU time, and a pseudo-terminal whose far end is linked as a COM number in a private port-map folder.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

// Offscreen unless a display is set, and a private runtime folder so Qt does not warn on every run.
inline void UseOffscreenUnlessDisplayed() {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        static const std::string runtime = "/tmp/uav-bench-runtime-" + std::to_string(getuid());
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
}

// User plus system time of this process so far, all threads.
inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// This process's resident memory now, from /proc.
inline long long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A pseudo-terminal whose slave is "COM<com>" through a link in a private port-map folder, which
// UAVCONTROL_PORTS names while it lives. The benchmark plays the transponder on Master().
class LinkedPty {
public:
    LinkedPty(int com, const std::string& tag)
        : dir_(std::filesystem::temp_directory_path() /
               ("uav-bench-" + tag + "-" + std::to_string(getpid()))) {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            return;
        close(slave); // the panel is to be the slave's only user
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::create_symlink(name, dir_ / ("com" + std::to_string(com)));
        setenv("UAVCONTROL_PORTS", dir_.c_str(), 1);
    }
    ~LinkedPty() {
        if (master_ >= 0)
            close(master_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    LinkedPty(const LinkedPty&) = delete;
    LinkedPty& operator=(const LinkedPty&) = delete;

    bool Ok() const { return master_ >= 0; }
    int Master() const { return master_; }

private:
    std::filesystem::path dir_;
    int master_ = -1;
};

} // namespace bench
