#pragma once
// Pure rules of the serial component: which baud rates it accepts, the device-control and time-out
// records it derives from its settings, and how a system error text is trimmed for display.
#include "SerialTypes.h"

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

// Reads return at once with what is queued; with a flow mode a write may wait up to 10 s for the line.
// fcNone puts the write time-out back to none, so the record always matches the current mode.
TCommTimeouts BuildTimeouts(eFlowControl flow);

// "COM%d" of a port number.
std::string ComPortName(sPorts port);

// A system error text as the error dialog shows it: trailing blanks, line breaks and full stops removed.
std::string TrimErrorText(std::string text);
// The system's text for an errno value, trimmed.
std::string SystemErrorText(int code);
