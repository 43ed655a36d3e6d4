#include "DeviceControl.h"
#include "SystemError.h"

#include <windows.h>

namespace SystemError {
const int BadHandle = ERROR_INVALID_HANDLE;
const int TimedOut = ERROR_TIMEOUT;
const int NotFound = ERROR_FILE_NOT_FOUND;
const int Invalid = ERROR_INVALID_PARAMETER;
const int Busy = ERROR_ACCESS_DENIED;
const int Denied = ERROR_ACCESS_DENIED;
const int NoResources = ERROR_NOT_ENOUGH_MEMORY;
const int Lost = ERROR_DEVICE_REMOVED;
} // namespace SystemError

std::string SystemErrorText(int code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
        0, nullptr);
    std::string result = n && text ? std::string(text, n) : "Error " + std::to_string(code);
    if (text)
        LocalFree(text);
    return TrimErrorText(std::move(result));
}

bool IsDeviceLoss(int code) {
    // What a vanished USB adapter or a hung-up line answers; an aborted operation alone is one of ours.
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
        return true;
    default:
        return false;
    }
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}
