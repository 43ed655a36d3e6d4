#include "CtlPorts.h"

#include <filesystem>
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
            const std::string name = entry.path().filename().string();
            if (name.size() > 3 && name.size() <= 6 && name.compare(0, 3, "com") == 0 &&
                name.find_first_not_of("0123456789", 3) == std::string::npos &&
                std::stoi(name.substr(3)) <= 255)
                candidates.insert(std::stoi(name.substr(3)));
        }
    const std::size_t devices = ListSerialDevices(roots).size();
    for (std::size_t n = 1; n <= devices && n <= 255; ++n)
        candidates.insert(static_cast<int>(n));

    std::vector<PortEntry> ports;
    for (const int n : candidates) {
        const auto path = ResolveComPort("COM" + std::to_string(n), roots);
        if (!path)
            continue;
        const fs::path target = fs::weakly_canonical(*path, ec);
        ports.push_back({n, *path, ec ? *path : target.string()});
    }
    return ports;
}

} // namespace ctl
