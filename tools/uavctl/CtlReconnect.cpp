#include "CtlReconnect.h"

#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "PortNaming.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ctl {

namespace {

// A program that holds the port changes no folder when it lets go (and our own tries close the device just
// as it would), so while the port is busy it is tried again this often. Without inotify, the same.
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

void TPortWatch::Rearm() {
    if (fd_ < 0)
        return;
    for (const int wd : watches_)
        inotify_rm_watch(fd_, wd);
    watches_.clear();
    for (const std::string& folder : Folders())
        if (const int wd = inotify_add_watch(fd_, folder.c_str(), kChanges); wd >= 0)
            watches_.push_back(wd);
    alignas(inotify_event) char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
}

bool ReopenWhenBack(TLink& link, int port) {
    // The lost device is let go first: a USB adapter keeps its name (ttyUSB0) only if nobody holds the old
    // one.
    link.Close();
    TPortWatch watch(TPortRoots::FromEnvironment(), port);
    for (;;) {
        watch.Rearm();
        const int code = link.Open(port);
        if (code == 0)
            return true;
        const bool watched = watch.Fd() >= 0 && code != EBUSY;
        if (link.Signal() || !link.AwaitReadable(watch.Fd(), watched ? -1 : kRetryMs))
            return false;
    }
}

int OpenWhenThere(TLink& link, const Request& request, std::string& device, std::FILE* live) {
    const int code = link.Open(request.port);
    if (code != ENOENT)
        return code;
    if (!ReopenWhenBack(link, request.port))
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
