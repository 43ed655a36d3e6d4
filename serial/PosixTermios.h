#pragma once
// Line settings on a terminal through termios2 (so every accepted rate, 14400 included, is set exactly).
// Kept apart because <asm/termbits.h> and <termios.h> clash.
#include "SerialTypes.h"

struct termios2;

// A terminal's settings as they were, kept to put back.
struct TTerminalSnapshot {
    alignas(8) unsigned char bytes[64]{};
    bool valid = false;
};
int SaveTerminal(int fd, TTerminalSnapshot& snapshot);
// Puts the settings back; first lets what the hardware still holds go out when they change the wire, as
// RestoreWaitsForOutput tells.
int RestoreTerminal(int fd, const TTerminalSnapshot& snapshot);

// Whether putting `saved` back over `now` must wait for the bytes the driver has taken to leave: it must
// when the rate or the framing changes, since a UART sends what its FIFO holds at the rate it has when the
// byte goes, and it can when no flow control may hold them (closing never waits for a line it holds).
bool RestoreWaitsForOutput(const termios2& now, const termios2& saved);

// Applies a device-control record as raw termios, line errors marked in the input (PARMRK with INPCK,
// whether the record checks parity or not: the reader keeps or drops what is marked), and reads
// back what the driver took. Returns 0, the errno of a failed call, EINVAL when the driver did not take
// a setting (the system's "Invalid argument", as a driver that refuses a setting says it), or EOPNOTSUPP
// when the record asks for DTR/DSR handshaking (Linux has none); everything else is applied in that case
// too. `framingFixed`: the driver forces its own data bits and parity, as a pseudo-terminal does.
int ApplyDcbToTerminal(int fd, const TDcb& dcb, bool framingFixed);

// Whether `got` (read back) holds the settings of `asked`. Rates within 2% match: drivers store the rate
// their divisor gives. With `framingFixed`, data bits and parity are not compared.
bool DriverTookSettings(const termios2& asked, const termios2& got, bool framingFixed);
