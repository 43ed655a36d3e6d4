#pragma once
// Pure rules of the serial component: which baud rates it accepts, the device-control and time-out
// records it derives from its settings, and how a system error text is trimmed for display.
#include "SerialTypes.h"
#include "SystemError.h" // the system's text for its own failure code

#include <cstdint>
#include <string>

// The line settings the device-control record is built from.
struct TLineSettings {
    std::int32_t Baudrate = 9600;
    eParity Parity = paNone;
    eDataBits DataBits = d7bit;
    eStopBits StopBits = st1bit;
    eFlowControl FlowMode = fcNone;
    bool CheckParity = true;
    std::uint16_t RxQueueSize = 1024;
};

bool IsValidBaudrate(std::int32_t rate);

TDcb BuildDcb(const TLineSettings& settings);

// The time-out record the component keeps and hands to its device: reads return at once with what is
// queued; with a flow mode the record names a 10 s write time-out, and fcNone puts it back to none, so the
// record always matches the current mode. The POSIX device takes no time-out from the record: each write
// waits at most a second beyond its bytes' time on the wire (TSerial::WriteTimeoutMs).
TCommTimeouts BuildTimeouts(eFlowControl flow);

// "COM%d" of a port number.
std::string ComPortName(sPorts port);

// A system error text as the error dialog shows it: trailing blanks, line breaks and full stops removed.
std::string TrimErrorText(std::string text);
