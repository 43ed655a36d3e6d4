#include "PortNames.h"

#include "PortNaming.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TPortRoots TPortRoots::FromEnvironment() {
    TPortRoots roots;
    if (const char* dir = std::getenv("UAVCONTROL_PORTS"); dir && *dir)
        roots.MapDir = dir;
    else if (const char* home = std::getenv("HOME"); home && *home)
        roots.MapDir = std::string(home) + "/.config/uavcontrol/ports";
    return roots;
}

std::vector<std::string> ListSerialDevices(const TPortRoots& roots) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.DevDir, ec))
        names.push_back(entry.path().filename().string());
    // The sysfs "type" is 0 where no chip answers.
    const auto hasHardware = [&](const std::string& name) {
        std::ifstream in(roots.SysTtyDir + "/" + name + "/type");
        int type = 0;
        return in && (in >> type) && type != 0;
    };
    std::vector<std::string> paths;
    for (const std::string& name : NumberSerialDevices(names, hasHardware))
        paths.push_back((fs::path(roots.DevDir) / name).string());
    return paths;
}

std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots& roots) {
    const std::optional<long> n = ComNumber(name);
    if (!n)
        return std::nullopt;
    if (!roots.MapDir.empty()) {
        const fs::path link = fs::path(roots.MapDir) / ComLinkName(*n);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(link, ec)))
            return link.string(); // opened through the link, so a dangling one fails as a missing file
    }
    return NumberedDevice(*n, ListSerialDevices(roots));
}
