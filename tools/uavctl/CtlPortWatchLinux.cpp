// The port watch on Linux: inotify on the folders that COM<n>'s way to a device passes through.
#include "CtlReconnect.h"

#include "PortNaming.h"

#include <algorithm>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ctl {

namespace {

// More links than this on the way is a loop.
constexpr int kMaxLinks = 40;
// A name that comes, goes or is replaced, and a device whose owner or mode udev sets after creating it.
constexpr std::uint32_t kChanges = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// A folder that does not exist yet is watched through the nearest one that does, which sees it come.
fs::path NearestFolder(fs::path folder) {
    std::error_code ec;
    while (!fs::is_directory(folder, ec) && folder.has_relative_path())
        folder = folder.parent_path();
    return folder;
}

} // namespace

TPortWatch::TPortWatch(TPortRoots roots, int com)
    : roots_(std::move(roots)), com_(com), fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TPortWatch::~TPortWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::vector<std::string> TPortWatch::Folders() const {
    std::vector<fs::path> folders{roots_.DevDir};
    if (!roots_.MapDir.empty()) {
        folders.emplace_back(roots_.MapDir);
        // The links as they are now, from the port map's comN on: /dev/serial/by-id/..., then /dev/ttyUSB0.
        fs::path at = fs::path(roots_.MapDir) / ComLinkName(com_);
        std::error_code ec;
        for (int hop = 0; hop < kMaxLinks && fs::is_symlink(fs::symlink_status(at, ec)); ++hop) {
            const fs::path target = fs::read_symlink(at, ec);
            if (ec)
                break;
            at = (target.is_absolute() ? target : at.parent_path() / target).lexically_normal();
            folders.push_back(at.parent_path());
        }
    }
    std::vector<std::string> watched;
    for (const fs::path& folder : folders) {
        const std::string nearest = NearestFolder(folder).string();
        if (std::find(watched.begin(), watched.end(), nearest) == watched.end())
            watched.push_back(nearest);
    }
    return watched;
}

bool TPortWatch::Rearm() {
    if (fd_ < 0)
        return false;
    for (const int wd : watches_)
        inotify_rm_watch(fd_, wd);
    watches_.clear();
    bool all = true;
    for (const std::string& folder : Folders()) {
        const int wd = inotify_add_watch(fd_, folder.c_str(), kChanges);
        if (wd >= 0)
            watches_.push_back(wd);
        all = all && wd >= 0;
    }
    alignas(inotify_event) char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
    return all;
}

// Output into a pipe or FIFO, whose write end reports an error once its reader has gone; -1 for anything
// else, which is never watched while waiting (a file is always "readable", a terminal whenever a key is).
int OutputPipe(std::FILE* live) {
    struct stat st {};
    const int fd = live ? ::fileno(live) : -1;
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) ? fd : -1;
}

bool ReaderGone(int pipe) {
    pollfd p{pipe, 0, 0};
    return pipe >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP));
}

} // namespace ctl
