// The port watch on Windows: COM<n> is the system's own name and passes through no folder to watch, so
// the reopening tries once a second; a vanished reader shows as a failed write.
#include "CtlReconnect.h"

namespace ctl {

TPortWatch::TPortWatch(TPortRoots roots, int com) : roots_(std::move(roots)), com_(com) {}

TPortWatch::~TPortWatch() = default;

std::vector<std::string> TPortWatch::Folders() const {
    return {};
}

bool TPortWatch::Rearm() {
    return false;
}

int OutputPipe(std::FILE*) {
    return -1;
}

bool ReaderGone(int) {
    return false;
}

} // namespace ctl
