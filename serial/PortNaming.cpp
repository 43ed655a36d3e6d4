#include "PortNaming.h"

#include <algorithm>
#include <cctype>
#include <utility>

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

} // namespace

std::optional<long> ComNumber(const std::string& name) {
    const long n = NumberAfter(name, "COM");
    if (n < 0)
        return std::nullopt;
    return n;
}

std::string ComLinkName(long n) {
    return "com" + std::to_string(n);
}

std::vector<std::string> NumberSerialDevices(const std::vector<std::string>& names,
                                             const std::function<bool(const std::string&)>& hasHardware) {
    std::vector<std::string> numbered;
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        std::vector<std::pair<long, std::string>> family;
        for (const std::string& name : names) {
            const long n = NumberAfter(name, prefix);
            if (n >= 0 && (prefix != std::string("ttyS") || hasHardware(name)))
                family.emplace_back(n, name);
        }
        std::sort(family.begin(), family.end());
        for (auto& member : family)
            numbered.push_back(std::move(member.second));
    }
    return numbered;
}

std::optional<std::string> NumberedDevice(long n, const std::vector<std::string>& numbered) {
    if (n < 1 || static_cast<std::size_t>(n) > numbered.size())
        return std::nullopt;
    return numbered[static_cast<std::size_t>(n) - 1];
}

namespace {

// The four hexadecimal digits after `key` in `id`, in lower case; empty when they are not there.
std::string HexAfter(const std::string& id, const std::string& key) {
    const std::size_t at = id.find(key);
    if (at == std::string::npos || id.size() < at + key.size() + 4)
        return {};
    std::string hex = id.substr(at + key.size(), 4);
    for (char& c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex;
}

} // namespace

TUsbInstance ParseUsbInstanceId(const std::string& id) {
    std::string upper = id;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    TUsbInstance usb{HexAfter(upper, "VID_"), HexAfter(upper, "PID_"), {}};
    if (usb.VendorId.empty())
        return {};
    if (upper.rfind("FTDIBUS\\", 0) == 0) {
        // VID_xxxx+PID_xxxx+<serial><port letter>\0000
        const std::size_t plus = id.find('+', id.find('+') + 1);
        const std::size_t end = id.find('\\', plus == std::string::npos ? 0 : plus);
        if (plus != std::string::npos && end != std::string::npos && end > plus + 2)
            usb.SerialNumber = id.substr(plus + 1, end - plus - 2);
        return usb;
    }
    const std::size_t last = id.rfind('\\');
    if (last != std::string::npos && last + 1 < id.size() && id.find('&', last) == std::string::npos &&
        upper.find("VID_") < last)
        usb.SerialNumber = id.substr(last + 1);
    return usb;
}

std::string ComDevicePath(long n) {
    return "\\\\.\\COM" + std::to_string(n);
}
