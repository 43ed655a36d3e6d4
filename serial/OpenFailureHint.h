#pragma once
// What an operator can do about a port that will not open, said after the system's own text: for
// EACCES the device's group and how to join it, for EBUSY which process holds the port when /proc shows
// it, for ENOENT the COM numbers that do lead somewhere now. Other failures get no hint. No Qt.
#include "PortListing.h"

#include <string>
#include <sys/types.h>
#include <vector>

// What decides a refused permission, as the system sees this process and the device.
struct TAccessFacts {
    std::string Mode;         // "crw-rw----"; empty: the device could not be looked at
    std::string Owner, Group; // names, or numbers where the databases have none
    bool GroupIsRoot = false;
    bool InGroupNow = false;     // this process carries the device's group
    bool MemberOnRecord = false; // the group database lists this user in it (perhaps since the login)
};

struct THolder {
    pid_t Pid = 0;
    std::string Name; // the process's command name (/proc/<pid>/comm)
};

// The device's owner, group and mode, and this user's standing in that group.
TAccessFacts ReadAccessFacts(const std::string& path);

// The processes other than `self` with `path`'s device open, as `procDir` (normally /proc) shows them;
// processes this user may not look into are not seen. Only open files under `devDir` are looked at. In
// process-number order.
std::vector<THolder> FindHolders(const std::string& path, const std::string& procDir, pid_t self,
                                 const std::string& devDir = "/dev");

// The hint for EACCES from the facts alone.
std::string AccessHint(const TAccessFacts& facts);

// The hint for `error` after opening `path` failed (`path` empty: the number led nowhere); `listing` is
// the COM numbers as they are now. Empty when there is nothing to add.
std::string OpenFailureHint(int error, const std::string& path, const std::vector<TComPort>& listing,
                            const std::string& procDir = "/proc", const std::string& devDir = "/dev");

// The same, with the COM numbers and /proc as they are now; a port map that cannot serve is named instead.
std::string OpenFailureHint(int error, const std::string& path, const TPortRoots& roots);

// The system's text for `error`, then the hint in parentheses when there is one.
std::string ExplainOpenFailure(int error, const std::string& path, const TPortRoots& roots);
