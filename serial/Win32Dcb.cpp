#include "Win32Dcb.h"

namespace {

// Bit positions of the classic flag word.
enum : int {
    kParityAt = 1,
    kOutxCtsAt = 2,
    kOutxDsrAt = 3,
    kDtrControlAt = 4, // two bits
    kDsrSensitivityAt = 6,
    kTxContinueAt = 7,
    kOutXAt = 8,
    kInXAt = 9,
    kErrorCharAt = 10,
    kNullAt = 11,
    kRtsControlAt = 12, // two bits
    kAbortOnErrorAt = 14,
};

unsigned Field(std::uint32_t flags, int at, unsigned width = 1) {
    return (flags >> at) & ((1u << width) - 1);
}

constexpr std::uint32_t kFlowFlags =
    DcbFlag::OutxCtsFlow | DcbFlag::OutxDsrFlow | DcbFlag::OutX | DcbFlag::InX;

} // namespace

DCB DcbOfRecord(const TDcb& record, TOutputLines lines) {
    const std::uint32_t f = record.Flags;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = record.BaudRate;
    dcb.fBinary = TRUE;
    dcb.fParity = Field(f, kParityAt);
    dcb.fOutxCtsFlow = Field(f, kOutxCtsAt);
    dcb.fOutxDsrFlow = Field(f, kOutxDsrAt);
    const unsigned dtr = Field(f, kDtrControlAt, 2);
    dcb.fDtrControl = dtr != DTR_CONTROL_DISABLE ? dtr : lines.Dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = Field(f, kDsrSensitivityAt);
    dcb.fTXContinueOnXoff = Field(f, kTxContinueAt);
    dcb.fOutX = Field(f, kOutXAt);
    dcb.fInX = Field(f, kInXAt);
    dcb.fErrorChar = Field(f, kErrorCharAt);
    dcb.fNull = Field(f, kNullAt);
    const unsigned rts = Field(f, kRtsControlAt, 2);
    dcb.fRtsControl = rts != RTS_CONTROL_DISABLE ? rts : lines.Rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = Field(f, kAbortOnErrorAt);
    dcb.XonLim = record.XonLim;
    dcb.XoffLim = record.XoffLim;
    dcb.ByteSize = record.ByteSize;
    dcb.Parity = record.Parity;
    dcb.StopBits = record.StopBits;
    dcb.XonChar = record.XonChar;
    dcb.XoffChar = record.XoffChar;
    dcb.ErrorChar = record.ErrorChar;
    dcb.EofChar = record.EofChar;
    dcb.EvtChar = record.EvtChar;
    return dcb;
}

TDcb RecordOfDcb(const DCB& dcb) {
    TDcb record;
    record.DCBlength = dcb.DCBlength;
    record.BaudRate = dcb.BaudRate;
    record.Flags = dcb.fBinary | dcb.fParity << kParityAt | dcb.fOutxCtsFlow << kOutxCtsAt |
                   dcb.fOutxDsrFlow << kOutxDsrAt | dcb.fDtrControl << kDtrControlAt |
                   dcb.fDsrSensitivity << kDsrSensitivityAt | dcb.fTXContinueOnXoff << kTxContinueAt |
                   dcb.fOutX << kOutXAt | dcb.fInX << kInXAt | dcb.fErrorChar << kErrorCharAt |
                   dcb.fNull << kNullAt | dcb.fRtsControl << kRtsControlAt |
                   dcb.fAbortOnError << kAbortOnErrorAt;
    record.XonLim = dcb.XonLim;
    record.XoffLim = dcb.XoffLim;
    record.ByteSize = dcb.ByteSize;
    record.Parity = dcb.Parity;
    record.StopBits = dcb.StopBits;
    record.XonChar = dcb.XonChar;
    record.XoffChar = dcb.XoffChar;
    record.ErrorChar = dcb.ErrorChar;
    record.EofChar = dcb.EofChar;
    record.EvtChar = dcb.EvtChar;
    return record;
}

bool DriverTookDcb(const TDcb& asked, const TDcb& got, bool framingFixed) {
    const std::uint64_t rateOff =
        asked.BaudRate > got.BaudRate ? asked.BaudRate - got.BaudRate : got.BaudRate - asked.BaudRate;
    const bool framing = framingFixed || (got.ByteSize == asked.ByteSize && got.Parity == asked.Parity);
    return framing && rateOff * 50 <= asked.BaudRate && got.StopBits == asked.StopBits &&
           (got.Flags & kFlowFlags) == (asked.Flags & kFlowFlags);
}
