#include "CtlReconnect.h"

#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "DeviceControl.h"
#include "PortNames.h"
#include "PortNaming.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ctl {

namespace {

// A program that holds the port changes no folder when it lets go (and our own tries close the device just
// as it would), and a device that is still being set up (EIO, ENODEV while a USB adapter enumerates) becomes
// ready with no change to see either, so then it is tried again this often. Without inotify, the same.
constexpr int kRetryMs = 1000;
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

namespace {

// Output into a pipe or FIFO, whose write end reports an error once its reader has gone; -1 for anything
// else, which is never watched while waiting (a file is always "readable", a terminal whenever a key is).
int PipeOf(std::FILE* live) {
    struct stat st {};
    const int fd = live ? ::fileno(live) : -1;
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) ? fd : -1;
}

bool ReaderGone(int pipe) {
    pollfd p{pipe, 0, 0};
    return pipe >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP));
}

} // namespace

Reopened ReopenWhenBack(TLink& link, int port, const TPortIdentity& adapter, std::FILE* live) {
    // The lost device is let go first: a USB adapter keeps its name (ttyUSB0) only if nobody holds the old
    // one.
    link.Close();
    const TPortRoots roots = TPortRoots::FromEnvironment();
    TPortWatch watch(roots, port);
    const int pipe = PipeOf(live);
    for (;;) {
        const bool watched = watch.Rearm();
        if (ReaderGone(pipe))
            return Reopened::ReaderGone;
        // Each try resolves the number anew; without a port-map link it is positional, and another adapter
        // may have moved into the place of the one that went.
        const auto path = ResolveComPort(ComPortName(static_cast<sPorts>(port)), roots);
        int code = ENOENT;
        if (path && SameAdapter(adapter, ReadPortIdentity(*path, roots)))
            code = link.Open(port);
        if (code == 0)
            return Reopened::Yes;
        // What clears with a change of folder is waited for; anything else is tried again in a while.
        const bool waitForChange = watched && (code == ENOENT || code == EACCES);
        if (link.Signal() || !link.AwaitReadable({watch.Fd(), pipe}, waitForChange ? -1 : kRetryMs))
            return Reopened::Signalled;
    }
}

int OpenWhenThere(TLink& link, const Request& request, std::string& device, std::FILE* live) {
    const int code = link.Open(request.port);
    if (code != ENOENT)
        return code;
    // Ended by a signal or by a reader that went: either way a watch that ends with 0.
    if (ReopenWhenBack(link, request.port, {}, live) != Reopened::Yes)
        return -1;
    device = link.DevicePath();
    const std::string line = WatchEventLine(LocalTimestamp(QDateTime::currentMSecsSinceEpoch()), "opened",
                                            request.port, device, "", request.json);
    WriteOut(line, live); // a failed write shows at watch's next line, and ends it with the reason
    return 0;
}

std::string WatchEventLine(std::string_view time, std::string_view event, int port, const std::string& device,
                           const std::string& reason, bool json) {
    if (json) {
        QJsonObject line{{"command", "watch"},
                         {"time", QString::fromLatin1(time.data(), static_cast<qsizetype>(time.size()))},
                         {"event", QString::fromLatin1(event.data(), static_cast<qsizetype>(event.size()))},
                         {"port", port},
                         {"device", QString::fromLocal8Bit(device.c_str())}};
        if (!reason.empty())
            line["error"] = QString::fromLocal8Bit(reason.c_str());
        return QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() + '\n';
    }
    std::string where = "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
    if (!reason.empty())
        where += ": " + reason;
    return std::string(time) + "\tevent\t" + std::string(event) + "\t" + where + "\n";
}

} // namespace ctl
