#include "PortListing.h"

#include "DeviceControl.h"
#include "PortNaming.h"

#include <filesystem>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace {
constexpr long kHighestCom = 255;
} // namespace

std::vector<TComPort> ListComPorts(const TPortRoots& roots) {
    std::set<long> candidates;
    std::error_code ec;
    if (!roots.MapDir.empty())
        for (const auto& entry : fs::directory_iterator(roots.MapDir, ec)) {
            // Exactly the link names the lookup asks for ("com12", not "com012").
            const std::string name = entry.path().filename().string();
            if (name.compare(0, 3, "com") != 0)
                continue;
            const std::optional<long> n = ComNumber("COM" + name.substr(3));
            if (n && *n >= 1 && *n <= kHighestCom && ComLinkName(*n) == name) // the numbers --port takes
                candidates.insert(*n);
        }
    const std::size_t devices = ListSerialDevices(roots).size();
    for (std::size_t n = 1; n <= devices && n <= kHighestCom; ++n)
        candidates.insert(static_cast<long>(n));

    std::vector<TComPort> ports;
    for (const long n : candidates) {
        const auto path = ResolveComPort(ComPortName(static_cast<sPorts>(n)), roots);
        if (!path)
            continue;
        const fs::path device = fs::canonical(*path, ec);
        if (ec)
            continue; // a dangling link or a loop still names its number, but leads nowhere
        ports.push_back({static_cast<int>(n), *path, device.string(), ReadPortIdentity(device, roots)});
    }
    return ports;
}
