#include "PortIdentity.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Sysfs attributes are short; anything longer is not the attribute we mean.
constexpr std::size_t kMaxAttribute = 256;
// A tty's device sits a few levels below the USB device it belongs to (port, interface, device).
constexpr int kMaxLevelsUp = 6;

// A sysfs attribute's text without its line end; empty when missing, unreadable, too long or binary.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    char buffer[kMaxAttribute + 1];
    in.read(buffer, sizeof buffer);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0 || got > kMaxAttribute)
        return {};
    std::string text(buffer, got);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.find_first_of(std::string("\0\n", 2)) != std::string::npos)
        return {};
    return text;
}

// A USB ID as the kernel writes it: four hexadecimal digits.
std::string UsbId(const fs::path& file) {
    std::string id = Attribute(file);
    const bool hex = id.size() == 4 && std::all_of(id.begin(), id.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
                     });
    if (!hex)
        return {};
    std::transform(id.begin(), id.end(), id.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? c + 32 : c; });
    return id;
}

// The last name of where a sysfs link points ("driver" -> ".../drivers/ftdi_sio" gives "ftdi_sio").
std::string LinkedName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

std::string ByIdName(const fs::path& device, const TPortRoots& roots) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(roots.DevDir) / "serial" / "by-id", ec)) {
        std::error_code ignored;
        if (fs::canonical(entry.path(), ignored) == device && !ignored)
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names.empty() ? std::string() : names.front();
}

} // namespace

TPortIdentity ReadPortIdentity(const std::string& device, const TPortRoots& roots) {
    TPortIdentity identity;
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    if (ec)
        return identity;
    identity.ById = ByIdName(real, roots);
    fs::path hardware = fs::canonical(fs::path(roots.SysTtyDir) / real.filename() / "device", ec);
    if (ec)
        return identity; // a pseudo-terminal, or a tty with no hardware behind it
    // Since Linux 6.5 the serial core puts a port and a controller device of its own between a UART and
    // its chip; the chip's driver is the one that says what the port is.
    for (int level = 0; level < kMaxLevelsUp && LinkedName(hardware / "subsystem") == "serial-base"; ++level)
        hardware = hardware.parent_path();
    identity.Driver = LinkedName(hardware / "driver");
    // The USB device is the nearest device above (or at) the port with an idVendor; the climb stops where
    // sysfs's device folders end (no "subsystem"). Its fields are read there, each on its own.
    fs::path up = hardware;
    for (int level = 0; level < kMaxLevelsUp && up != up.parent_path(); ++level, up = up.parent_path()) {
        if (!fs::is_symlink(fs::symlink_status(up / "subsystem", ec)))
            break;
        if (!fs::exists(fs::symlink_status(up / "idVendor", ec)))
            continue;
        identity.VendorId = UsbId(up / "idVendor");
        identity.ProductId = UsbId(up / "idProduct");
        identity.Manufacturer = Attribute(up / "manufacturer");
        identity.Product = Attribute(up / "product");
        identity.SerialNumber = Attribute(up / "serial");
        break;
    }
    return identity;
}

std::string DescribePortIdentity(const TPortIdentity& identity) {
    std::vector<std::string> parts;
    std::string name = identity.Manufacturer;
    if (!identity.Product.empty())
        name += (name.empty() ? "" : " ") + identity.Product;
    if (!name.empty())
        parts.push_back(name);
    if (!identity.VendorId.empty())
        parts.push_back(identity.VendorId + ":" + (identity.ProductId.empty() ? "?" : identity.ProductId));
    if (!identity.SerialNumber.empty())
        parts.push_back("serial " + identity.SerialNumber);
    if (!identity.Driver.empty())
        parts.push_back(identity.Driver);
    std::string line;
    for (const std::string& part : parts)
        line += (line.empty() ? "" : ", ") + part;
    return line;
}

bool SameAdapter(const TPortIdentity& first, const TPortIdentity& now) {
    if (!first.SerialNumber.empty())
        return now.VendorId == first.VendorId && now.ProductId == first.ProductId &&
               now.SerialNumber == first.SerialNumber;
    return first.ById.empty() || now.ById == first.ById;
}
