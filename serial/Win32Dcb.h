#pragma once
// The device-control record as Windows' DCB, and a DCB read back as the record. The record keeps the classic
// layout, so its flag word maps onto the DCB's bit fields by position, with two exceptions of Windows' own:
// fBinary is always set (Windows knows no other mode), and DTR and RTS outside their handshake modes take
// the levels last set on the lines, since the record carries no levels and a settings change must not drop
// them.
#include "SerialTypes.h"

#include <windows.h>

// The output lines' levels as SetModemLine last set them.
struct TOutputLines {
    bool Dtr = false;
    bool Rts = false;
};

DCB DcbOfRecord(const TDcb& record, TOutputLines lines);

// What a driver reports (GetCommState), in the record's terms: the flag word then also carries the lines'
// control modes (DTR enabled 0x0010, RTS enabled 0x1000).
TDcb RecordOfDcb(const DCB& dcb);

// Whether the driver took the settings that change the wire: the rate (within 2%, as drivers store the
// rate their divisor gives), stop bits, flow control and, unless `framingFixed` (a driver that keeps its own,
// as a pseudo-terminal behind Wine's COM mapping does), data bits and parity.
bool DriverTookDcb(const TDcb& asked, const TDcb& got, bool framingFixed);
