// COM ports as Windows names and lists them: COM<n> is the system's own name (no port-map folder), the
// listing comes from SetupAPI's COM port interfaces with the registry's SERIALCOMM map as the fallback,
// and the hints speak of what Windows reports.
#include "DeviceControl.h"
#include "OpenFailureHint.h"
#include "PortListing.h"
#include "PortNaming.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <map>

namespace {

// GUID_DEVINTERFACE_COMPORT, from ntddser.h, which does not compile on its own in user mode.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

constexpr long kHighestCom = 255;
constexpr std::size_t kListedAtMost = 8;

std::string Narrow(const wchar_t* text) {
    if (!text || !*text)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 1)) - 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    return Narrow(buffer);
}

// The adapters SetupAPI knows, by COM number.
void AddSetupApiPorts(std::map<long, TPortIdentity>& ports) {
    const HDEVINFO set =
        SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t name[64] = {};
        DWORD size = sizeof name - sizeof(wchar_t);
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                                            &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        const std::optional<long> n = named ? ComNumber(Narrow(name)) : std::nullopt;
        if (!n || *n < 1 || *n > kHighestCom)
            continue;
        TPortIdentity identity;
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &info, instance, 511, nullptr)) {
            const TUsbInstance usb = ParseUsbInstanceId(Narrow(instance));
            identity.VendorId = usb.VendorId;
            identity.ProductId = usb.ProductId;
            identity.SerialNumber = usb.SerialNumber;
            identity.ById = Narrow(instance); // what stays the same across replugs and renumbering
        }
        identity.Driver = DeviceProperty(set, info, SPDRP_SERVICE);
        identity.Manufacturer = DeviceProperty(set, info, SPDRP_MFG);
        identity.Product = DeviceProperty(set, info, SPDRP_FRIENDLYNAME);
        ports[*n] = identity;
    }
    SetupDiDestroyDeviceInfoList(set);
}

// The ports the serial drivers registered, which SetupAPI may not show (virtual pairs, emulations).
void AddSerialCommPorts(std::map<long, TPortIdentity>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        wchar_t value[64] = {};
        DWORD nameSize = 255;
        DWORD valueSize = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                     &valueSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const std::optional<long> n = ComNumber(Narrow(value));
        if (n && *n >= 1 && *n <= kHighestCom && !ports.count(*n)) {
            TPortIdentity identity;
            identity.Driver = Narrow(name); // \Device\Serial0, \Device\VCP0: which driver made it
            ports[*n] = identity;
        }
    }
    RegCloseKey(key);
}

std::string MissingHint(const std::vector<TComPort>& listing) {
    if (listing.empty())
        return "no COM port is present now; Device Manager lists adapters under Ports (COM & LPT)";
    std::string text = "COM ports present now:";
    for (std::size_t i = 0; i < listing.size() && i < kListedAtMost; ++i) {
        const TComPort& port = listing[i];
        text += (i ? ", " : " ") + std::to_string(port.Com);
        if (!port.Identity.Product.empty())
            text += " (" + port.Identity.Product + ")";
    }
    if (listing.size() > kListedAtMost)
        text += " and " + std::to_string(listing.size() - kListedAtMost) + " more";
    return text;
}

} // namespace

TPortRoots TPortRoots::FromEnvironment() {
    return TPortRoots{{}, {}, {}, 0};
}

std::vector<std::string> ListSerialDevices(const TPortRoots& roots) {
    std::vector<std::string> devices;
    for (const TComPort& port : ListComPorts(roots))
        devices.push_back(port.Path);
    return devices;
}

std::optional<std::string> ResolveComPort(const std::string& name, const TPortRoots&, int* error) {
    const std::optional<long> n = ComNumber(name);
    if (n && *n >= 1 && *n <= kHighestCom)
        return ComDevicePath(*n);
    if (error)
        *error = ERROR_FILE_NOT_FOUND;
    return std::nullopt;
}

std::vector<TComPort> ListComPorts(const TPortRoots&) {
    std::map<long, TPortIdentity> found;
    AddSetupApiPorts(found);
    AddSerialCommPorts(found);
    std::vector<TComPort> ports;
    for (auto& [n, identity] : found)
        ports.push_back({static_cast<int>(n), ComDevicePath(n), "COM" + std::to_string(n), identity});
    return ports;
}

TPortIdentity ReadPortIdentity(const std::string& device, const TPortRoots& roots) {
    for (const TComPort& port : ListComPorts(roots))
        if (port.Path == device || port.Device == device)
            return port.Identity;
    return {};
}

std::string OpenFailureHint(int error, const std::string&, const std::vector<TComPort>& listing,
                            const std::string&, const std::string&) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "another program holds the port: close it there (another panel, uavctl or a terminal program)";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return MissingHint(listing);
    default:
        return {};
    }
}

std::string OpenFailureHint(int error, const std::string& path, const TPortRoots& roots) {
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return OpenFailureHint(error, path, missing ? ListComPorts(roots) : std::vector<TComPort>{}, {}, {});
}

std::string ExplainOpenFailure(int error, const std::string& path, const TPortRoots& roots) {
    const std::string hint = OpenFailureHint(error, path, roots);
    return SystemErrorText(error) + (hint.empty() ? "" : " (" + hint + ")");
}
