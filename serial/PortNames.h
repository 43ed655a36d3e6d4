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
    // Why the folder the user named cannot serve as the port map (ENOENT, ENOTDIR, EACCES; EINVAL for a
    // relative path, which would mean another folder in every working directory); 0 when it can. Then
    // nothing resolves, so no frame goes to a device by position instead.
    int MapError = 0;

    // $UAVCONTROL_PORTS if set (it must name a folder by its absolute path), else
    // ~/.config/uavcontrol/ports (which need not exist).
    static TPortRoots FromEnvironment();
};

// The real serial devices in their numbering order (full paths).
std::vector<std::string> ListSerialDevices(const TPortRoots& roots);

// The device path for "COM<n>"-style names; nullopt when there is none, and then `error` (when given)
// holds what to report: the port map's fault, or ENOENT for a number with no device.
std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots& roots,
                                          int* error = nullptr);
