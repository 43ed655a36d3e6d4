#include "PortNaming.h"

#include <algorithm>
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
