#include "DeviceControl.h"

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
