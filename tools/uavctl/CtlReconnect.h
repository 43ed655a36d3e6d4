#pragma once
// watch --reconnect: a device that goes away (unplugged, reflashed, a network serial server restarting) is
// waited for and opened again. On Linux the wait sleeps on inotify watches of the folders that COM<n>'s way
// to a device passes through: the port-map folder, the device folder and the folder of each link on the way,
// so it costs nothing until one of them changes. Windows has no such folders: there it tries once a second.
#include "PortIdentity.h"
#include "PortNames.h"

#include <cstdio>
#include <string>
#include <vector>

namespace ctl {

class TLink;

// Readable when something changed on COM<n>'s way to a device; -1 when the system gives no such watch
// (inotify missing, or Windows).
class TPortWatch {
public:
    TPortWatch(TPortRoots roots, int com);
    ~TPortWatch();
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    int Fd() const { return fd_; }
    // Watches the folders as the links are now and forgets what was seen before. Called before each look
    // at the port, so nothing that happens after the look goes unseen. False when a folder could not be
    // watched (inotify missing, or the user's watch limit reached): then a change may go unseen.
    bool Rearm();

private:
    std::vector<std::string> Folders() const;

    TPortRoots roots_;
    int com_;
    int fd_ = -1;
    std::vector<int> watches_;
};

// The pipe or FIFO `live` writes into, whose write end tells when its reader has gone; -1 for anything else
// (a file is always "readable", a terminal whenever a key is; Windows' pipes fail the write instead).
int OutputPipe(std::FILE* live);
// The reader of that pipe has gone.
bool ReaderGone(int pipe);

struct Request;

enum class Reopened { Yes, Signalled, ReaderGone };

// Opens COM<port> on `link` as soon as it leads to a device that opens and is `adapter` (SameAdapter). Ends
// early at a signal, or when `live` is a pipe whose reader has gone: nobody would see what comes, and the
// port is not to be held for nobody.
Reopened ReopenWhenBack(TLink& link, int port, const TPortIdentity& adapter, std::FILE* live);

// watch --reconnect's first open: a number that leads nowhere yet is waited for quietly, and once it opens
// the "opened" line goes to `live`. 0 (`device` is then the path opened), the system's error code for any
// other failure, or -1 when a signal ended the wait.
int OpenWhenThere(TLink& link, const Request& request, std::string& device, std::FILE* live);

// One watch line for an event ("lost", "opened", "reopened") on COM<port> at `device`, with the reason
// when there is one: text is time, "event", the event and the port in TAB-separated fields.
std::string WatchEventLine(std::string_view time, std::string_view event, int port, const std::string& device,
                           const std::string& reason, bool json);

} // namespace ctl
