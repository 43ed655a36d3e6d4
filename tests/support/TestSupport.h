#pragma once
// What the tests and the benchmarks share to put the panel on a line, without Qt. A `PortMap` is a private
// port-map folder that UAVCONTROL_PORTS names while it lives; a `LinkedPty` is a pseudo-terminal whose
// device end is linked as comN in such a folder, so the code under test opens "COM<n>" and the caller
// plays the transponder on `Master()` (non-blocking; `Unplug()` and `PlugAgain()` pull and restore the
// line); a `SimulatorProcess` starts the bundled simulator as a child on comN in the folder, with any extra
// switches, keeps its log of frames in and out (its stderr) in a file there, and is stopped or killed on
// request or at the latest when it goes out of scope. Typical use:
//
//     uavtest::PortMap ports("mytest");
//     uavtest::SimulatorProcess sim(ports.Dir(), 4, {"--mute", "r"});
//     ASSERT_TRUE(sim.WaitForLink()) << sim.Log();   // or RunUntil([&] { return sim.HasLink(); })
//     ... open COM4 ...; sim.Frames().in holds what the simulator read
//     EXPECT_EQ(sim.Stop(), 0);
//
// Also here: the offscreen platform set-up, whether this build runs under AddressSanitizer, and this
// process's resident memory.
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define UAV_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UAV_TEST_UNDER_ASAN 1
#endif
#endif

namespace uavtest {

#ifdef UAV_TEST_UNDER_ASAN
// AddressSanitizer's quarantine holds freed memory on purpose: resident memory says nothing about leaks.
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

// This process's resident memory now, from /proc.
long long ResidentKiB();

// How many threads this process has now, as the system counts them (-1 when it cannot tell).
int ThreadCount();

// Offscreen unless a display is set, and a private runtime folder so Qt does not warn on every run. Call
// before the application object is made.
void UseOffscreenUnlessDisplayed();

// A fresh, empty folder /tmp/uav-<tag>-<pid>-<n>, named by UAVCONTROL_PORTS until it goes (the previous
// value is put back then), and removed with everything in it.
class PortMap {
public:
    explicit PortMap(const std::string& tag);
    ~PortMap();
    PortMap(const PortMap&) = delete;
    PortMap& operator=(const PortMap&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    // Where the link for COM<com> lives.
    std::filesystem::path Link(int com) const;
    // Makes COM<com> lead somewhere for a scripted device (a link to nothing; Windows needs none) and says
    // what the component will open for it.
    std::string StandIn(int com) const;

private:
    std::filesystem::path dir_;
    std::optional<std::string> previous_;
};

// A pseudo-terminal whose device end is linked as com<com> in `mapDir`. Only the caller's end stays open,
// so the code under test is the device end's only user.
class LinkedPty {
public:
    LinkedPty(const std::filesystem::path& mapDir, int com);
    ~LinkedPty();
    LinkedPty(const LinkedPty&) = delete;
    LinkedPty& operator=(const LinkedPty&) = delete;

    bool Ok() const { return master_ >= 0; }
    int Master() const { return master_; }
    const std::string& DevicePath() const { return device_; }
    const std::filesystem::path& LinkPath() const { return link_; }

    // Every byte that has arrived at the caller's end so far, without waiting.
    std::string ReadAvailable() const;
    // The whole of `bytes` written into the caller's end.
    bool Write(const std::string& bytes) const;
    // The line goes, as a pulled cable takes it: the caller's end closes.
    void Unplug();
    // A new line behind the same link; false when no pseudo-terminal could be made.
    bool PlugAgain();

private:
    bool Open();

    std::filesystem::path link_;
    std::string device_;
    int master_ = -1;
};

// The bundled transponder simulator as a child process. Its stderr goes to a log file in `mapDir`.
class SimulatorProcess {
public:
    SimulatorProcess(const std::filesystem::path& mapDir, int com, std::vector<std::string> extra = {},
                     std::string program = DefaultProgram());
    // Stops it (SIGTERM, then SIGKILL if it lingers) unless it has ended already.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The simulator this build made.
    static std::string DefaultProgram();

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    const std::filesystem::path& LinkPath() const { return link_; }
    bool HasLink() const;
    // Sleeps until the link is there; false if it did not come within `limitMs` or the child ended.
    bool WaitForLink(int limitMs = 10000);
    // Whether the child still runs (an ended one is reaped).
    bool Running();
    // Its exit status (128 + signal if a signal ended it), or nothing if it did not end within `limitMs`.
    std::optional<int> WaitForExit(int limitMs = 10000);
    // SIGTERM, then its exit status as WaitForExit gives it.
    std::optional<int> Stop(int limitMs = 10000);
    // SIGKILL, and reaped.
    void Kill();

    const std::filesystem::path& LogPath() const { return log_; }
    std::string Log() const;
    // Frames the simulator read, and frames it put on the line (not muted ones, not noise), as its log
    // writes them ("<STX>a=?<ETX>").
    struct Wire {
        std::vector<std::string> in, out;
    };
    Wire Frames() const;

private:
    std::filesystem::path link_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

} // namespace uavtest
