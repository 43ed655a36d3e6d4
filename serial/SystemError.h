#pragma once
// The system's own failure codes and their texts, in one place for either OS: errno and strerror on Linux,
// GetLastError and FormatMessage on Windows. The component's rules name the few codes they raise
// themselves through these constants, so the same rules report each system's own code and text.
#include <string>

namespace SystemError {
extern const int BadHandle; // the port is not open
extern const int TimedOut;  // a write's time ran out
extern const int NotFound;  // no device behind a COM number
extern const int Invalid;   // a setting the driver did not take
extern const int Busy;      // the port is held
extern const int Denied;    // no permission to open it
extern const int NoResources; // a thread or handle could not be had
extern const int Lost;      // the line went away (what a device reports when the system names no cause)
} // namespace SystemError

// The system's text for a code, trimmed as TrimErrorText does.
std::string SystemErrorText(int code);

// The C library's text for an errno value (files and standard streams, on either system), trimmed alike.
std::string ErrnoText(int code);

// A failure after which the open port is of no further use (unplugged, hung up).
bool IsDeviceLoss(int code);

// The code of the calling thread's last failed system call.
int LastSystemError();
