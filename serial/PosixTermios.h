#pragma once
// Applies a device-control record to a terminal as raw termios (through termios2, so every accepted
// rate, 14400 included, is set exactly). Kept apart because <asm/termbits.h> and <termios.h> clash.
#include "SerialTypes.h"

// 0, the errno of a failed call, or EOPNOTSUPP when the record asks for DTR/DSR handshaking (Linux has
// none); everything else is applied in that case too.
int ApplyDcbToTerminal(int fd, const TDcb& dcb);
