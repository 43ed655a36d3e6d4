#include "DeviceControl.h"
#include "SystemError.h"

#include <cerrno>
#include <cstring>

namespace SystemError {
const int BadHandle = EBADF;
const int TimedOut = ETIMEDOUT;
const int NotFound = ENOENT;
const int Invalid = EINVAL;
const int Busy = EBUSY;
const int Denied = EACCES;
const int NoResources = EAGAIN;
const int Lost = EIO;
} // namespace SystemError

std::string SystemErrorText(int code) {
    return TrimErrorText(std::strerror(code));
}

bool IsDeviceLoss(int code) {
    return code == EIO || code == ENXIO || code == ENODEV || code == EBADF;
}

int LastSystemError() {
    return errno;
}
