#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <pty.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace uavtest {

namespace {

// Tells apart the folders and logs of several users in one process.
int NextSerial() {
    static std::atomic<int> serial{0};
    return ++serial;
}

// Polls `done` every few milliseconds for up to `limitMs`.
template <typename Done> bool SleepUntil(Done done, int limitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int DecodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

long long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int ThreadCount() {
    std::error_code error;
    const fs::directory_iterator tasks("/proc/self/task", error);
    return error ? -1 : static_cast<int>(std::distance(tasks, fs::directory_iterator()));
}

void UseOffscreenUnlessDisplayed() {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        static const std::string runtime = "/tmp/uav-test-runtime-" + std::to_string(getuid());
        std::error_code ignored;
        fs::create_directories(runtime, ignored);
        fs::permissions(runtime, fs::perms::owner_all, ignored);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
}

// ---- PortMap --------------------------------------------------------------------------------------------

PortMap::PortMap(const std::string& tag)
    : dir_(fs::temp_directory_path() /
           ("uav-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(NextSerial()))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    if (const char* now = std::getenv("UAVCONTROL_PORTS"))
        previous_ = now;
    setenv("UAVCONTROL_PORTS", dir_.c_str(), 1);
}

PortMap::~PortMap() {
    if (previous_)
        setenv("UAVCONTROL_PORTS", previous_->c_str(), 1);
    else
        unsetenv("UAVCONTROL_PORTS");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

fs::path PortMap::Link(int com) const {
    return dir_ / ("com" + std::to_string(com));
}

std::string PortMap::StandIn(int com) const {
    std::error_code ignored;
    fs::create_symlink("/nonexistent", Link(com), ignored);
    return Link(com).string();
}

// ---- LinkedPty ------------------------------------------------------------------------------------------

LinkedPty::LinkedPty(const fs::path& mapDir, int com) : link_(mapDir / ("com" + std::to_string(com))) {
    Open();
}

LinkedPty::~LinkedPty() {
    Unplug();
    std::error_code ignored;
    fs::remove(link_, ignored);
}

bool LinkedPty::Open() {
    char name[128] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        master_ = -1;
        return false;
    }
    close(slave); // the code under test is to be the device end's only user
    fcntl(master_, F_SETFL, O_NONBLOCK);
    // A child spawned meanwhile (uavctl, the panel) must not keep the line up after Unplug().
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    device_ = name;
    std::error_code ignored;
    fs::remove(link_, ignored);
    fs::create_symlink(device_, link_);
    return true;
}

std::string LinkedPty::ReadAvailable() const {
    std::string got;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master_, buffer, sizeof buffer)) > 0)
        got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

bool LinkedPty::Write(const std::string& bytes) const {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void LinkedPty::Unplug() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

bool LinkedPty::PlugAgain() {
    Unplug();
    return Open();
}

// ---- SimulatorProcess -----------------------------------------------------------------------------------

SimulatorProcess::SimulatorProcess(const fs::path& mapDir, int com, std::vector<std::string> extra,
                                   std::string program)
    : link_(mapDir / ("com" + std::to_string(com))),
      log_(mapDir / ("sim" + std::to_string(NextSerial()) + ".log")) {
    std::vector<std::string> args = {std::move(program), "--com", std::to_string(com), "--ports",
                                     mapDir.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

SimulatorProcess::~SimulatorProcess() {
    if (Running() && !Stop(5000))
        Kill();
}

std::string SimulatorProcess::DefaultProgram() {
    return TRANSPONDER_SIM_PATH;
}

bool SimulatorProcess::HasLink() const {
    return fs::is_symlink(link_);
}

bool SimulatorProcess::WaitForLink(int limitMs) {
    return SleepUntil([&] { return HasLink() || !Running(); }, limitMs) && HasLink();
}

bool SimulatorProcess::Running() {
    if (pid_ <= 0 || status_)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = DecodeStatus(status);
        return false;
    }
    return true;
}

std::optional<int> SimulatorProcess::WaitForExit(int limitMs) {
    if (pid_ <= 0)
        return std::nullopt;
    SleepUntil([&] { return !Running(); }, limitMs);
    return status_;
}

std::optional<int> SimulatorProcess::Stop(int limitMs) {
    if (Running())
        kill(pid_, SIGTERM);
    return WaitForExit(limitMs);
}

void SimulatorProcess::Kill() {
    if (!Running())
        return;
    kill(pid_, SIGKILL);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_)
        status_ = DecodeStatus(status);
}

std::string SimulatorProcess::Log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

SimulatorProcess::Wire SimulatorProcess::Frames() const {
    Wire wire;
    std::ifstream file(log_);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string time, direction, frame;
        words >> time >> direction >> frame;
        if (direction == "in")
            wire.in.push_back(frame);
        else if (direction == "out" && line.find("(muted") == std::string::npos &&
                 line.find("(noise)") == std::string::npos)
            wire.out.push_back(frame);
    }
    return wire;
}

} // namespace uavtest
