#pragma once
// Which adapter a serial device is, read from where udev reads it: the kernel's sysfs (the driver, and
// for USB adapters the IDs and strings of the USB device above the port) and the /dev/serial/by-id
// links udev made from them. Whatever is missing or odd stays empty; reading never fails. No Qt.
#include "PortNames.h"

#include <string>

struct TPortIdentity {
    std::string ById;                // the name of its link in <dev>/serial/by-id
    std::string Driver;              // ftdi_sio, cdc_acm, serial (an 8250 found by PNP), serial8250, ...
    std::string VendorId, ProductId; // USB: four lower-case hexadecimal digits each
    std::string Manufacturer, Product, SerialNumber; // USB string descriptors, as the device gives them

    friend bool operator==(const TPortIdentity&, const TPortIdentity&) = default;
};

// The identity of the device `device` leads to (links followed), looked up under `roots`' device and
// sysfs tty folders.
TPortIdentity ReadPortIdentity(const std::string& device, const TPortRoots& roots);

// The identity in one line for people, known parts only: "FTDI FT232R USB UART, 0403:6001, serial
// A1B2C3, ftdi_sio"; empty when nothing is known.
std::string DescribePortIdentity(const TPortIdentity& identity);

// Whether `now` is the adapter that was `first`. A USB adapter is known by its IDs and serial number, else by
// its /dev/serial/by-id name; a device with neither (a built-in port, a pseudo-terminal) only by the path
// that led to it, so any device there is taken for it.
bool SameAdapter(const TPortIdentity& first, const TPortIdentity& now);
