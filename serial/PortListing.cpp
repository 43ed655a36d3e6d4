#include "PortListing.h"

#include "DeviceControl.h"
#include "PortNaming.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr long kHighestCom = 255;

// Whether `device` (links followed) is a terminal, told from the kernel's own lists without opening it: one
// of the serial devices, a pseudo-terminal's device end, or a tty that sysfs lists. A link to /dev/null, a
// file, a folder or a FIFO leads somewhere, but to nothing a port could be.
bool IsTerminal(const fs::path& device, const std::vector<fs::path>& serial, const TPortRoots& roots) {
    std::error_code ec;
    const fs::path dev = fs::canonical(roots.DevDir, ec);
    if (ec)
        return false;
    if (std::find(serial.begin(), serial.end(), device) != serial.end() ||
        device.parent_path() == dev / "pts")
        return true;
    return device.parent_path() == dev && fs::exists(fs::path(roots.SysTtyDir) / device.filename(), ec);
}

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
    std::vector<fs::path> serial;
    for (const std::string& device : ListSerialDevices(roots))
        serial.push_back(fs::weakly_canonical(device, ec));
    for (std::size_t n = 1; n <= serial.size() && n <= kHighestCom; ++n)
        candidates.insert(static_cast<long>(n));

    std::vector<TComPort> ports;
    for (const long n : candidates) {
        const auto path = ResolveComPort(ComPortName(static_cast<sPorts>(n)), roots);
        if (!path)
            continue;
        const fs::path device = fs::canonical(*path, ec);
        if (ec || !IsTerminal(device, serial, roots))
            continue; // a dangling link, a loop or a link to a file still names its number, but no port
        ports.push_back({static_cast<int>(n), *path, device.string(), ReadPortIdentity(device, roots)});
    }
    return ports;
}
