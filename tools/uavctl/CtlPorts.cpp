#include "CtlPorts.h"

#include "DeviceControl.h"
#include "PortNaming.h"

#include <filesystem>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace ctl {

std::vector<PortEntry> ListComPorts(const TPortRoots& roots) {
    // Only numbers that can resolve are asked: a link in the port-map folder, or a place in the
    // list of real devices. Resolving stays with the one rule the port itself uses.
    std::set<int> candidates;
    std::error_code ec;
    if (!roots.MapDir.empty())
        for (const auto& entry : fs::directory_iterator(roots.MapDir, ec)) {
            // Exactly the link names the lookup asks for ("com12", not "com012").
            const std::string name = entry.path().filename().string();
            if (name.compare(0, 3, "com") != 0)
                continue;
            const std::optional<long> n = ComNumber("COM" + name.substr(3));
            if (n && *n >= 1 && *n <= 255 && ComLinkName(*n) == name) // the numbers --port takes
                candidates.insert(static_cast<int>(*n));
        }
    const std::size_t devices = ListSerialDevices(roots).size();
    for (std::size_t n = 1; n <= devices && n <= 255; ++n)
        candidates.insert(static_cast<int>(n));

    std::vector<PortEntry> ports;
    for (const int n : candidates) {
        const auto path = ResolveComPort(ComPortName(static_cast<sPorts>(n)), roots);
        if (!path)
            continue;
        // A dangling link or a loop still names its number, but leads nowhere.
        const fs::path target = fs::canonical(*path, ec);
        if (!ec)
            ports.push_back({n, *path, target.string()});
    }
    return ports;
}

} // namespace ctl
