#pragma once
// Finds the device behind a numbered COM port on this system: reads the port-map folder, the device folder
// and the kernel's tty list, and applies the numbering rules of PortNaming.h. No Qt.
#include <optional>
#include <string>
#include <vector>

struct TPortRoots {
    std::string MapDir; // port-map folder; empty: none
    std::string DevDir = "/dev";
    std::string SysTtyDir = "/sys/class/tty";

    // $UAVCONTROL_PORTS if set, else ~/.config/uavcontrol/ports.
    static TPortRoots FromEnvironment();
};

// The real serial devices in their numbering order (full paths).
std::vector<std::string> ListSerialDevices(const TPortRoots& roots);

// The device path for "COM<n>"-style names; nullopt when there is none (the caller reports ENOENT).
std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots& roots);
