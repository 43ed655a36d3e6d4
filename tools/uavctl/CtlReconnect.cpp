#include "CtlReconnect.h"

#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "DeviceControl.h"
#include "PortNames.h"
#include "PortNaming.h"
#include "SystemError.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace ctl {

namespace {

// A program that holds the port changes no folder when it lets go (and our own tries close the device just
// as it would), and a device that is still being set up (EIO, ENODEV while a USB adapter enumerates) becomes
// ready with no change to see either, so then it is tried again this often. Without a watch, the same.
constexpr int kRetryMs = 1000;

} // namespace

Reopened ReopenWhenBack(TLink& link, int port, const TPortIdentity& adapter, std::FILE* live) {
    // The lost device is let go first: a USB adapter keeps its name (ttyUSB0) only if nobody holds the old
    // one.
    link.Close();
    const TPortRoots roots = TPortRoots::FromEnvironment();
    TPortWatch watch(roots, port);
    const int pipe = OutputPipe(live);
    for (;;) {
        const bool watched = watch.Rearm();
        if (ReaderGone(pipe))
            return Reopened::ReaderGone;
        // Each try resolves the number anew; without a port-map link it is positional, and another adapter
        // may have moved into the place of the one that went.
        const auto path = ResolveComPort(ComPortName(static_cast<sPorts>(port)), roots);
        int code = SystemError::NotFound;
        if (path && SameAdapter(adapter, ReadPortIdentity(*path, roots)))
            code = link.Open(port);
        if (code == 0)
            return Reopened::Yes;
        // What clears with a change of folder is waited for; anything else is tried again in a while.
        const bool waitForChange = watched && (code == SystemError::NotFound || code == SystemError::Denied);
        if (link.Signal() || !link.AwaitReadable({watch.Fd(), pipe}, waitForChange ? -1 : kRetryMs))
            return Reopened::Signalled;
    }
}

int OpenWhenThere(TLink& link, const Request& request, std::string& device, std::FILE* live) {
    const int code = link.Open(request.port);
    if (code != SystemError::NotFound)
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
