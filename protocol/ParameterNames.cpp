#include "ParameterNames.h"

namespace proto {

std::string_view ParameterName(char letter) {
    switch (letter) {
    // Captions as the display's rows carry them, spelling included.
    case 's':
        return "Operational Status";
    case 'c':
        return "Assigned Code";
    case 'r':
        return "Interrogation Status";
    case 'i':
        return "SPI Status";
    case 'a':
        return "Altitude";
    case 'v':
        return "A/C Voltage";
    case 'o':
        return "High VoltageSetpoint";
    case 'u':
        return "Low Voltage Setpoint";
    case 'z':
        return "Firmware Version";
    case 'p':
        return "Ping Operation";
    // Not shown by the display.
    case 'd':
        return "Altitude Encoder";
    case 'n':
        return "Serial Number";
    case 'l':
        return "Fault Log";
    case 'e':
        return "Error Status";
    case '*':
        return "Interrogation";
    default:
        return {};
    }
}

} // namespace proto
