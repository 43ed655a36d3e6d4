#include "DeviceControl.h"
#include "PortNaming.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(Baudrate, onlyTheElevenRates_areValid) {
    for (int rate : {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200})
        EXPECT_TRUE(IsValidBaudrate(rate)) << rate;
    for (int rate : {0, -9600, 110, 9601, 28800, 230400})
        EXPECT_FALSE(IsValidBaudrate(rate)) << rate;
}

TEST(Dcb, defaults_checkParityWithNoParity_andSevenBits) {
    const TDcb dcb = BuildDcb(TLineSettings{});
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Flags, DcbFlag::Binary | DcbFlag::Parity);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonLim, 341);
    EXPECT_EQ(dcb.XoffLim, 341);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, 0);
}

TEST(Dcb, lineSettings_mapToTheirFields) {
    TLineSettings s;
    s.Baudrate = 115200;
    s.Parity = paSpace;
    s.DataBits = d8bit;
    s.StopBits = st2bit;
    s.CheckParity = false;
    s.RxQueueSize = 2;
    const TDcb dcb = BuildDcb(s);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.Parity, 4);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.Flags, DcbFlag::Binary);
    EXPECT_EQ(dcb.XonLim, 0) << "below 3 the limits are 0";
}

TEST(Dcb, eachFlowMode_addsOnlyItsBits) {
    TLineSettings s;
    s.CheckParity = false;
    const std::pair<eFlowControl, std::uint32_t> cases[] = {
        {fcNone, 0}, {fcRTS_CTS, 0x2004}, {fcDTR_DSR, 0x0028}, {fcXON_XOF, 0x0300}};
    for (const auto& [flow, bits] : cases) {
        s.FlowMode = flow;
        EXPECT_EQ(BuildDcb(s).Flags, DcbFlag::Binary | bits) << int(flow);
    }
}

TEST(ErrorText, trailingBlanksBreaksAndStops_areRemoved) {
    EXPECT_EQ(TrimErrorText("The system cannot find the file specified.\r\n"),
              "The system cannot find the file specified");
    EXPECT_EQ(TrimErrorText("a. b . \n"), "a. b");
    EXPECT_EQ(TrimErrorText("...\n"), "");
    EXPECT_EQ(ErrnoText(ENOENT), "No such file or directory");
}

TEST(UsbInstanceId, vendorProductAndSerial_comeFromWindowsOwnDeviceIds) {
    const struct {
        const char* id;
        TUsbInstance usb;
    } cases[] = {
        {"USB\\VID_0403&PID_6001\\A1B2C3", {"0403", "6001", "A1B2C3"}},
        {"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", {"0403", "6001", "A1B2C3"}}, // port letter A dropped
        {"USB\\VID_067B&PID_2303\\5&2D8E7A0C&0&2", {"067b", "2303", ""}},         // made up by Windows
        {"USB\\VID_1A86&PID_7523&MI_00\\6&1234&0&0000", {"1a86", "7523", ""}},
        {"ACPI\\PNP0501\\1", {"", "", ""}}, // a built-in port: no USB IDs
        {"USB\\VID_04", {"", "", ""}},
    };
    for (const auto& c : cases) {
        const TUsbInstance usb = ParseUsbInstanceId(c.id);
        EXPECT_EQ(usb.VendorId + ":" + usb.ProductId + ":" + usb.SerialNumber,
                  c.usb.VendorId + ":" + c.usb.ProductId + ":" + c.usb.SerialNumber)
            << c.id;
    }
    EXPECT_EQ(ComDevicePath(12), "\\\\.\\COM12");
}
