#include "StandardStreams.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <io.h>

TClosedStreams KeepStandardStreams() {
    // A stream with no handle (started detached, or with it closed) is put on the null device, so what is
    // written there goes nowhere instead of failing in the middle of a report.
    TClosedStreams closed;
    const struct {
        DWORD id;
        std::FILE* stream;
        const char* mode;
        bool* flag;
    } streams[] = {{STD_INPUT_HANDLE, stdin, "r", &closed.input},
                   {STD_OUTPUT_HANDLE, stdout, "w", &closed.output},
                   {STD_ERROR_HANDLE, stderr, "w", &closed.error}};
    for (const auto& s : streams) {
        const HANDLE h = GetStdHandle(s.id);
        if ((h == nullptr || h == INVALID_HANDLE_VALUE) || _fileno(s.stream) < 0)
            *s.flag = std::freopen("NUL", s.mode, s.stream) != nullptr;
    }
    return closed;
}

void UseParentConsole() {
    const struct {
        DWORD id;
        std::FILE* stream;
        const char* device;
        const char* mode;
    } streams[] = {{STD_INPUT_HANDLE, stdin, "CONIN$", "r"},
                   {STD_OUTPUT_HANDLE, stdout, "CONOUT$", "w"},
                   {STD_ERROR_HANDLE, stderr, "CONOUT$", "w"}};
    bool attached = false;
    for (const auto& s : streams) {
        const HANDLE h = GetStdHandle(s.id);
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            continue; // redirected by whoever started it: kept
        // A program started from Explorer has no console to attach to, and its streams stay closed.
        if (!attached && !(attached = AttachConsole(ATTACH_PARENT_PROCESS)))
            return;
        if (std::freopen(s.device, s.mode, s.stream))
            SetStdHandle(s.id, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(s.stream))));
    }
}

void FailWritesToClosedPipes() {}

bool ReaderHasGone(int error) {
    return error == EPIPE || error == EINVAL;
}
