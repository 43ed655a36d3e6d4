// The device-control record as the DCB that SetCommState is given, and what GetCommState reports read back
// as the record: each setting lands in its own field, the lines' levels survive a settings change, and the
// read-back tells a driver that kept its own settings from one that took ours.
#include "Win32Dcb.h"
#include "DeviceControl.h"

#include <array>
#include <gtest/gtest.h>

TEST(Win32Dcb, eachSettingLandsInItsField_andTheLinesKeepTheirLevels) {
    // Parity, ByteSize, StopBits, fParity, fOutxCtsFlow, fOutxDsrFlow, fDtrControl, fRtsControl, fOutX, fInX
    using Fields = std::array<DWORD, 10>;
    const struct {
        TLineSettings line;
        TOutputLines lines;
        Fields dcb;
    } cases[] = {
        {{}, {}, {NOPARITY, 7, ONESTOPBIT, 1, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0}},
        {{.Parity = PaOdd, .DataBits = d8bit},
         {true, true},
         {ODDPARITY, 8, ONESTOPBIT, 1, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, 0, 0}},
        {{.Parity = paEven, .StopBits = st2bit, .CheckParity = false},
         {false, true},
         {EVENPARITY, 7, TWOSTOPBITS, 0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, 0, 0}},
        {{.Parity = paMark, .FlowMode = fcRTS_CTS},
         {true, true},
         {MARKPARITY, 7, ONESTOPBIT, 1, 1, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, 0, 0}},
        {{.Parity = paSpace, .FlowMode = fcDTR_DSR},
         {true, false},
         {SPACEPARITY, 7, ONESTOPBIT, 1, 0, 1, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, 0, 0}},
        {{.Baudrate = 115200, .FlowMode = fcXON_XOF},
         {},
         {NOPARITY, 7, ONESTOPBIT, 1, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 1, 1}},
    };
    for (const auto& c : cases) {
        const TDcb record = BuildDcb(c.line);
        const DCB d = DcbOfRecord(record, c.lines);
        SCOPED_TRACE(testing::Message()
                     << "parity " << int(c.line.Parity) << ", flow " << int(c.line.FlowMode));
        EXPECT_EQ(d.DCBlength, sizeof(DCB));
        EXPECT_EQ(d.BaudRate, DWORD(c.line.Baudrate));
        EXPECT_EQ((Fields{d.Parity, d.ByteSize, d.StopBits, d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow,
                          d.fDtrControl, d.fRtsControl, d.fOutX, d.fInX}),
                  c.dcb);
        // What the component never asks for stays off; Windows knows binary mode only.
        EXPECT_EQ(d.fBinary, 1u);
        EXPECT_EQ(d.fDsrSensitivity | d.fTXContinueOnXoff | d.fErrorChar | d.fNull | d.fAbortOnError, 0u);
        EXPECT_EQ((std::array<int, 7>{d.XonLim, d.XoffLim, d.XonChar, d.XoffChar, d.ErrorChar, d.EofChar,
                                      d.EvtChar}),
                  (std::array<int, 7>{341, 341, 0x11, 0x13, '?', 0, 0}));

        // Read back: what was asked, plus the lines' enabled modes (DTR 0x0010, RTS 0x1000).
        TDcb back = record;
        back.Flags |= (d.fDtrControl == DTR_CONTROL_ENABLE ? 0x0010u : 0) |
                      (d.fRtsControl == RTS_CONTROL_ENABLE ? 0x1000u : 0);
        EXPECT_EQ(RecordOfDcb(d), back);
        EXPECT_TRUE(DriverTookDcb(record, RecordOfDcb(d), false));
    }
}

TEST(Win32Dcb, readBack_tellsWhatTheDriverDidNotTake) {
    const TDcb asked = BuildDcb({.Baudrate = 19200, .Parity = paEven, .FlowMode = fcRTS_CTS});
    const struct {
        void (*change)(TDcb&);
        bool took, tookWithFramingFixed;
    } cases[] = {
        {[](TDcb& d) { d.BaudRate = 19008; }, true, true}, // the divisor's rate, 1% off
        {[](TDcb& d) { d.BaudRate = 9600; }, false, false},
        {[](TDcb& d) { d.StopBits = TWOSTOPBITS; }, false, false},
        {[](TDcb& d) { d.Flags &= ~DcbFlag::OutxCtsFlow; }, false, false},
        {[](TDcb& d) { d.Flags |= DcbFlag::OutX; }, false, false},
        {[](TDcb& d) { d.ByteSize = 8; }, false, true},
        {[](TDcb& d) { d.Parity = NOPARITY; }, false, true},
        {[](TDcb& d) { d.Flags |= 0x0010; }, true, true}, // a line's level is no setting
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TDcb got = asked;
        cases[i].change(got);
        EXPECT_EQ(DriverTookDcb(asked, got, false), cases[i].took) << i;
        EXPECT_EQ(DriverTookDcb(asked, got, true), cases[i].tookWithFramingFixed) << i;
    }
}
