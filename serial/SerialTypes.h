#pragma once
// The serial component's vocabulary: line-setting enumerations, the device-control and time-out records
// the component builds from its settings, and the port-event and modem-status bits. No Qt, no OS.
#include <cstdint>

enum eParity : std::uint8_t { paNone, PaOdd, paEven, paMark, paSpace };
enum eDataBits : std::uint8_t { d7bit, d8bit };
enum eStopBits : std::uint8_t { st1bit, st2bit };
enum eFlowControl : std::uint8_t { fcNone, fcRTS_CTS, fcDTR_DSR, fcXON_XOF };
enum eOpModes : std::uint8_t { rxNormal, rxMessage };
enum eNotifyErr : std::uint8_t { neDialog, neEvent, neNone };
enum eModemInSignal : std::uint8_t { msCTS, msDSR, msRLSD };
using sPorts = std::uint8_t; // 0..9 by intent; any byte is stored

// Port events, as the event mask and the event set of one wait name them.
namespace CommEvent {
constexpr std::uint32_t RxChar = 0x0001;
constexpr std::uint32_t TxEmpty = 0x0004;
constexpr std::uint32_t Cts = 0x0008;
constexpr std::uint32_t Dsr = 0x0010;
constexpr std::uint32_t Rlsd = 0x0020;
constexpr std::uint32_t Break = 0x0040;
constexpr std::uint32_t Ring = 0x0100;
constexpr std::uint32_t OpenMask = RxChar | TxEmpty | Cts | Dsr | Rlsd | Break | Ring; // 0x017D
} // namespace CommEvent

// Modem-input bits of a modem-status reading.
namespace ModemBit {
constexpr std::uint32_t CtsOn = 0x0010;
constexpr std::uint32_t DsrOn = 0x0020;
constexpr std::uint32_t RingOn = 0x0040;
constexpr std::uint32_t RlsdOn = 0x0080;
} // namespace ModemBit

// Output lines for SetModemLine.
enum : int { kLineRts = 0, kLineDtr = 1 };

// Flag word of the device-control record.
namespace DcbFlag {
constexpr std::uint32_t Binary = 0x0001;
constexpr std::uint32_t Parity = 0x0002;
constexpr std::uint32_t OutxCtsFlow = 0x0004;
constexpr std::uint32_t OutxDsrFlow = 0x0008;
constexpr std::uint32_t DtrHandshake = 0x0020; // DTR control field (bits 4-5) = 2
constexpr std::uint32_t OutX = 0x0100;
constexpr std::uint32_t InX = 0x0200;
constexpr std::uint32_t RtsHandshake = 0x2000; // RTS control field (bits 12-13) = 2
} // namespace DcbFlag

// The device-control record: every line setting the device is given, in the classic layout.
struct TDcb {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;   // eParity ordinal
    std::uint8_t StopBits = 0; // 0 = one, 2 = two
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0x3F;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const TDcb&) const = default;
};

// Line errors counted since the port was opened.
struct TLineErrors {
    std::uint32_t Breaks = 0;
    std::uint32_t Errors = 0;   // bytes dropped because they arrived with a parity or framing error
    std::uint32_t Overruns = 0; // bytes the driver lost (where the driver counts them)

    bool operator==(const TLineErrors&) const = default;
};

// Read and write time-outs in milliseconds.
struct TCommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const TCommTimeouts&) const = default;
};
