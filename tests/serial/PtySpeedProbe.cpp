#include "PtySpeedProbe.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

unsigned ExactOutputSpeed(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    struct termios2 t {};
    const int rc = ioctl(fd, TCGETS2, &t);
    close(fd);
    return rc == 0 ? t.c_ospeed : 0;
}
