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

void FailWritesToClosedPipes() {}

bool ReaderHasGone(int error) {
    return error == EPIPE || error == EINVAL;
}
