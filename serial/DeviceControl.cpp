#include "DeviceControl.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {
constexpr std::array<std::int32_t, 11> kRates{300,   600,   1200,  2400,  4800,  9600,
                                              14400, 19200, 38400, 57600, 115200};
constexpr std::uint32_t kFlowWriteTimeoutMs = 10000;
} // namespace

bool IsValidBaudrate(std::int32_t rate) {
    return std::find(kRates.begin(), kRates.end(), rate) != kRates.end();
}

TDcb BuildDcb(const TLineSettings& s) {
    TDcb dcb;
    dcb.BaudRate = static_cast<std::uint32_t>(s.Baudrate);
    dcb.Flags = DcbFlag::Binary;
    if (s.CheckParity)
        dcb.Flags |= DcbFlag::Parity;
    switch (s.FlowMode) {
    case fcRTS_CTS:
        dcb.Flags |= DcbFlag::OutxCtsFlow | DcbFlag::RtsHandshake;
        break;
    case fcDTR_DSR:
        dcb.Flags |= DcbFlag::OutxDsrFlow | DcbFlag::DtrHandshake;
        break;
    case fcXON_XOF:
        dcb.Flags |= DcbFlag::OutX | DcbFlag::InX;
        break;
    case fcNone:
        break;
    }
    dcb.XonLim = dcb.XoffLim = static_cast<std::uint16_t>(s.RxQueueSize / 3);
    dcb.ByteSize = s.DataBits == d8bit ? 8 : 7;
    dcb.Parity = static_cast<std::uint8_t>(s.Parity);
    dcb.StopBits = s.StopBits == st2bit ? 2 : 0;
    return dcb;
}

TCommTimeouts BuildTimeouts(eFlowControl flow) {
    TCommTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    if (flow != fcNone)
        t.WriteTotalTimeoutConstant = kFlowWriteTimeoutMs;
    return t;
}

std::string ComPortName(sPorts port) {
    return "COM" + std::to_string(static_cast<unsigned>(port));
}

std::string TrimErrorText(std::string text) {
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string ErrnoText(int code) {
    return TrimErrorText(std::strerror(code));
}
