#include "PortNames.h"

#include "PortNaming.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

TPortRoots TPortRoots::FromEnvironment() {
    TPortRoots roots;
    if (const char* dir = std::getenv("UAVCONTROL_PORTS"); dir && *dir) {
        roots.MapDir = dir;
        struct stat info {};
        if (dir[0] != '/')
            roots.MapError = EINVAL;
        else if (::stat(dir, &info) != 0)
            roots.MapError = errno;
        else if (!S_ISDIR(info.st_mode))
            roots.MapError = ENOTDIR;
    } else if (const char* home = std::getenv("HOME"); home && *home)
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

std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots& roots, int* error) {
    const auto none = [error](int code) -> std::optional<std::string> {
        if (error)
            *error = code;
        return std::nullopt;
    };
    if (roots.MapError)
        return none(roots.MapError);
    const std::optional<long> n = ComNumber(name);
    if (!n)
        return none(ENOENT);
    if (!roots.MapDir.empty()) {
        const fs::path link = fs::path(roots.MapDir) / ComLinkName(*n);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(link, ec)))
            return link.string(); // opened through the link, so a dangling one fails as a missing file
        // A folder that cannot be searched hides its links; the numbered device may not be the one meant.
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            return none(ec.value());
    }
    if (auto device = NumberedDevice(*n, ListSerialDevices(roots)))
        return device;
    return none(ENOENT);
}
