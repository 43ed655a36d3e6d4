#pragma once
// The rules that give serial devices their COM numbers, apart from where the names come from: "COM<n>"
// is a link "com<n>" in the port-map folder if there is one, else the n-th real serial device, counting
// hardware-backed ttyS* first, then ttyUSB*, then ttyACM*, each in numeric order. No Qt, no file system.
#include <functional>
#include <optional>
#include <string>
#include <vector>

// "COM12" -> 12; nothing for any other name.
std::optional<long> ComNumber(const std::string& name);

// The name of the port-map folder's link for COM<n>.
std::string ComLinkName(long n);

// The serial devices among the device folder's entry names, in their numbering order. `hasHardware` is
// asked about ttyS* names only: such ports exist for every UART the kernel could drive.
std::vector<std::string> NumberSerialDevices(const std::vector<std::string>& names,
                                             const std::function<bool(const std::string&)>& hasHardware);

// The numbered device (a name from `numbered`) for COM<n> without a link; nothing when there is none.
std::optional<std::string> NumberedDevice(long n, const std::vector<std::string>& numbered);

// What a Windows device instance ID says of a USB adapter: "USB\VID_0403&PID_6001\A1B2C3" or FTDI's own
// "FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000" (its port letter after the serial number). Hex IDs in lower
// case; a serial number Windows made up itself (it holds '&') is left out.
struct TUsbInstance {
    std::string VendorId, ProductId, SerialNumber;
};
TUsbInstance ParseUsbInstanceId(const std::string& id);

// The name Windows opens COM<n> by: "\\.\COM<n>", the one form that reaches COM10 and above.
std::string ComDevicePath(long n);
