#include "PosixTermios.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace {

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

} // namespace

int ApplyDcbToTerminal(int fd, const TDcb& dcb) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
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
    if (dcb.Flags & DcbFlag::Parity)
        t.c_iflag |= INPCK;
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
    if (dcb.Flags & (DcbFlag::OutxDsrFlow | DcbFlag::DtrHandshake))
        return EOPNOTSUPP;
    return 0;
}
