#include "StandardStreams.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

TClosedStreams KeepStandardStreams() {
    TClosedStreams closed;
    bool* const flags[] = {&closed.input, &closed.output, &closed.error};
    // The lower numbers are open by each turn, so open() takes the one being filled.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            *flags[fd] = ::open("/dev/null", O_RDWR | O_NOCTTY) == fd;
    return closed;
}

void UseParentConsole() {}

void FailWritesToClosedPipes() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool ReaderHasGone(int error) {
    return error == EPIPE;
}
