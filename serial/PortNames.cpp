#include "PortNames.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// "ttyUSB12" with prefix "ttyUSB" -> 12; anything else -> -1.
long NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    long n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000)
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// 8250-style ports exist for every possible UART; the sysfs "type" is 0 where no chip answers.
bool HasHardware(const TPortRoots& roots, const std::string& name) {
    std::ifstream in(roots.SysTtyDir + "/" + name + "/type");
    int type = 0;
    return in && (in >> type) && type != 0;
}

std::vector<std::string> Family(const TPortRoots& roots, const std::string& prefix, bool needHardware) {
    std::vector<std::pair<long, std::string>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.DevDir, ec)) {
        const std::string name = entry.path().filename().string();
        const long n = NumberAfter(name, prefix);
        if (n < 0 || (needHardware && !HasHardware(roots, name)))
            continue;
        found.emplace_back(n, entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found)
        paths.push_back(std::move(f.second));
    return paths;
}

} // namespace

TPortRoots TPortRoots::FromEnvironment() {
    TPortRoots roots;
    if (const char* dir = std::getenv("UAVCONTROL_PORTS"); dir && *dir)
        roots.MapDir = dir;
    else if (const char* home = std::getenv("HOME"); home && *home)
        roots.MapDir = std::string(home) + "/.config/uavcontrol/ports";
    return roots;
}

std::vector<std::string> ListSerialDevices(const TPortRoots& roots) {
    std::vector<std::string> all = Family(roots, "ttyS", true);
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        auto more = Family(roots, prefix, false);
        all.insert(all.end(), more.begin(), more.end());
    }
    return all;
}

std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots& roots) {
    const long n = NumberAfter(name, "COM");
    if (n < 0)
        return std::nullopt;
    if (!roots.MapDir.empty()) {
        const fs::path link = fs::path(roots.MapDir) / ("com" + std::to_string(n));
        std::error_code ec;
        if (fs::exists(fs::symlink_status(link, ec)))
            return link.string(); // opened through the link, so a dangling one fails as a missing file
    }
    if (n < 1)
        return std::nullopt;
    const auto devices = ListSerialDevices(roots);
    if (static_cast<std::size_t>(n) > devices.size())
        return std::nullopt;
    return devices[static_cast<std::size_t>(n) - 1];
}
