#include "PosixTermios.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace {

static_assert(sizeof(termios2) <= sizeof(TTerminalSnapshot::bytes));

// The classic speed codes, so every tool (and tcgetattr) reads the rate back; rates without one go as
// BOTHER with the exact number.
tcflag_t SpeedCode(std::uint32_t baud) {
    switch (baud) {
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return BOTHER;
    }
}

// Every flag the record decides, word by word: these are compared on read-back.
constexpr tcflag_t kInputFlags =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR;
constexpr tcflag_t kLocalFlags = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kFraming = CSIZE | PARENB;
constexpr tcflag_t kControlFlags = kFraming | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD;

} // namespace

int SaveTerminal(int fd, TTerminalSnapshot& snapshot) {
    snapshot.valid = false;
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    std::memcpy(snapshot.bytes, &t, sizeof t);
    snapshot.valid = true;
    return 0;
}

int RestoreTerminal(int fd, const TTerminalSnapshot& snapshot) {
    if (!snapshot.valid)
        return 0;
    termios2 t{};
    std::memcpy(&t, snapshot.bytes, sizeof t);
    // The wait is the one close() would make anyway. The component has let the output drain or dropped it
    // before closing, so what is left is what the hardware holds, and the drivers bound their own wait for
    // that. Should the wait fail, they are put back at once.
    termios2 now{};
    if (ioctl(fd, TCGETS2, &now) == 0 && RestoreWaitsForOutput(now, t) && ioctl(fd, TCSETSW2, &t) == 0)
        return 0;
    return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

bool RestoreWaitsForOutput(const termios2& now, const termios2& saved) {
    const tcflag_t framing = kFraming | PARODD | CMSPAR | CSTOPB;
    const bool wireChanges = now.c_ospeed != saved.c_ospeed || ((now.c_cflag ^ saved.c_cflag) & framing) != 0;
    const bool mayBeHeld = (now.c_cflag & CRTSCTS) || (now.c_iflag & IXON);
    return wireChanges && !mayBeHeld;
}

bool DriverTookSettings(const termios2& asked, const termios2& got, bool framingFixed) {
    const tcflag_t control = framingFixed ? kControlFlags & ~kFraming : kControlFlags;
    const auto rateOff =
        asked.c_ospeed > got.c_ospeed ? asked.c_ospeed - got.c_ospeed : got.c_ospeed - asked.c_ospeed;
    return rateOff * 50 <= asked.c_ospeed && ((asked.c_iflag ^ got.c_iflag) & kInputFlags) == 0 &&
           ((asked.c_oflag ^ got.c_oflag) & OPOST) == 0 &&
           ((asked.c_lflag ^ got.c_lflag) & kLocalFlags) == 0 &&
           ((asked.c_cflag ^ got.c_cflag) & control) == 0 && asked.c_cc[VMIN] == got.c_cc[VMIN] &&
           asked.c_cc[VTIME] == got.c_cc[VTIME];
}

int ApplyDcbToTerminal(int fd, const TDcb& dcb, bool framingFixed) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_iflag &= ~kInputFlags;
    // Breaks and bytes with parity or framing errors come marked, so the reader can tell them from data.
    // INPCK stays on whether parity is checked or not: without it the terminal layer passes a byte in
    // error unmarked and, when that byte is 0xFF, undoubled, which reads as the start of a mark.
    t.c_iflag |= PARMRK | INPCK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~kLocalFlags;
    t.c_cflag &= ~(kControlFlags | CBAUD | CIBAUD);
    const tcflag_t speed = SpeedCode(dcb.BaudRate);
    t.c_cflag |= CLOCAL | CREAD | speed | (speed << IBSHIFT);
    t.c_cflag |= dcb.ByteSize == 7 ? CS7 : CS8;
    switch (static_cast<eParity>(dcb.Parity)) {
    case PaOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        t.c_cflag |= PARENB;
        break;
    case paMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case paSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    case paNone:
        break;
    }
    if (dcb.StopBits == 2)
        t.c_cflag |= CSTOPB;
    if (dcb.Flags & DcbFlag::OutxCtsFlow)
        t.c_cflag |= CRTSCTS;
    if (dcb.Flags & DcbFlag::OutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & DcbFlag::InX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_ispeed = t.c_ospeed = dcb.BaudRate;
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    // A driver may keep what it cannot do and still return 0: only reading back tells.
    termios2 got{};
    if (ioctl(fd, TCGETS2, &got) != 0)
        return errno;
    if (!DriverTookSettings(t, got, framingFixed))
        return EINVAL;
    if (dcb.Flags & (DcbFlag::OutxDsrFlow | DcbFlag::DtrHandshake))
        return EOPNOTSUPP;
    return 0;
}
