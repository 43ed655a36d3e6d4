#include "OpenFailureHint.h"

#include "DeviceControl.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The ENOENT hint names this many numbers at most; `uavctl ports` lists them all.
constexpr std::size_t kListedAtMost = 8;

std::string ModeText(const struct stat& st) {
    std::string text = S_ISCHR(st.st_mode)   ? "c"
                       : S_ISDIR(st.st_mode) ? "d"
                       : S_ISREG(st.st_mode) ? "-"
                                             : "?";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (st.st_mode & (0400 >> bit)) ? letters[bit] : '-';
    return text;
}

// The same device: a device node by its number (another node for it is still it), anything else by inode.
bool SameFile(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string HoldersHint(const std::vector<THolder>& holders, const std::string& device) {
    // The probers that grab new adapters leave pseudo-terminals alone; a pty's exclusive claim, though,
    // outlives a holder that was killed, until the program at its other end lets the pair go.
    if (holders.empty() && fs::path(device).parent_path().filename() == "pts")
        return "another program holds it, or one that was killed left it claimed until the program that made "
               "this pseudo-terminal closes it; sudo fuser -v " +
               device + " shows a holder";
    if (holders.empty())
        return "another program holds it, often ModemManager or brltty; sudo fuser -v " + device +
               " shows which";
    std::string text = "held by ";
    for (std::size_t i = 0; i < holders.size(); ++i)
        text += (i ? ", " : "") + holders[i].Name + " (pid " + std::to_string(holders[i].Pid) + ")";
    return text;
}

std::string MissingHint(const std::string& path, const std::vector<TComPort>& listing) {
    std::string text;
    std::error_code ec;
    if (!path.empty() && fs::is_symlink(fs::symlink_status(path, ec)))
        text = "its link leads to " + fs::read_symlink(path, ec).string() + ", which is not there; ";
    if (listing.empty())
        return text + "no COM number leads to a device now";
    text += "COM numbers that lead somewhere now:";
    for (std::size_t i = 0; i < listing.size() && i < kListedAtMost; ++i) {
        const TComPort& port = listing[i];
        text += (i ? ", " : " ") + std::to_string(port.Com) + " (" + port.Device;
        if (!port.Identity.Product.empty())
            text += ", " + port.Identity.Product;
        text += ")";
    }
    if (listing.size() > kListedAtMost)
        text += " and " + std::to_string(listing.size() - kListedAtMost) + " more";
    return text;
}

} // namespace

TAccessFacts ReadAccessFacts(const std::string& path) {
    TAccessFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return facts;
    facts.Mode = ModeText(st);
    facts.GroupIsRoot = st.st_gid == 0;
    std::vector<char> buffer(16384);
    struct passwd pw {
    }, *owner = nullptr;
    getpwuid_r(st.st_uid, &pw, buffer.data(), buffer.size(), &owner);
    facts.Owner = owner ? owner->pw_name : std::to_string(st.st_uid);

    std::string user;
    gid_t primary = static_cast<gid_t>(-1);
    std::vector<char> userBuffer(16384);
    struct passwd me {
    }, *self = nullptr;
    if (getpwuid_r(geteuid(), &me, userBuffer.data(), userBuffer.size(), &self) == 0 && self) {
        user = self->pw_name;
        primary = self->pw_gid;
    }
    struct group gr {
    }, *group = nullptr;
    getgrgid_r(st.st_gid, &gr, buffer.data(), buffer.size(), &group);
    facts.Group = group ? group->gr_name : std::to_string(st.st_gid);
    facts.MemberOnRecord = primary == st.st_gid;
    for (char** member = group ? group->gr_mem : nullptr; member && *member; ++member)
        facts.MemberOnRecord = facts.MemberOnRecord || user == *member;

    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)) + 1);
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    facts.InGroupNow =
        getegid() == st.st_gid || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    return facts;
}

std::vector<THolder> FindHolders(const std::string& path, const std::string& procDir, pid_t self,
                                 const std::string& devDir) {
    std::vector<THolder> holders;
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0)
        return holders;
    const fs::path devices = fs::path(devDir).lexically_normal();
    const auto underDevices = [&](const fs::path& target) {
        const auto [end, rest] = std::mismatch(devices.begin(), devices.end(), target.begin(), target.end());
        return end == devices.end() && rest != target.end();
    };
    std::error_code ec;
    for (const auto& process : fs::directory_iterator(procDir, ec)) {
        const std::string name = process.path().filename().string();
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == self)
            continue;
        std::error_code denied; // another user's process: its descriptors are not ours to see
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", denied)) {
            // Only the link is read: looking at what an open file is (a stat) could hang on a network
            // mount that went away, and a port is a node under /dev anyway.
            std::error_code unreadable;
            const fs::path link = fs::read_symlink(fd.path(), unreadable);
            if (unreadable)
                continue;
            const fs::path target = (fd.path().parent_path() / link).lexically_normal();
            struct stat open {};
            if (underDevices(target) && ::stat(target.c_str(), &open) == 0 && SameFile(open, device)) {
                holders.push_back({pid, FirstLine(process.path() / "comm")});
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const THolder& a, const THolder& b) { return a.Pid < b.Pid; });
    return holders;
}

std::string AccessHint(const TAccessFacts& facts) {
    if (facts.Mode.size() != 10)
        return {};
    const bool groupMayUse = facts.Mode[4] == 'r' && facts.Mode[5] == 'w';
    if (groupMayUse && facts.InGroupNow)
        return {}; // the permissions allow it: something else refused
    if (groupMayUse && !facts.GroupIsRoot) {
        if (facts.MemberOnRecord)
            return "you were added to group " + facts.Group +
                   " after this session began: log out and in again";
        return "the device belongs to group " + facts.Group + ", and you are not in it: sudo usermod -aG " +
               facts.Group + " $USER, then log out and in again";
    }
    return "the device is " + facts.Mode + " " + facts.Owner + " " + facts.Group +
           ", which does not let you read and write it";
}

std::string OpenFailureHint(int error, const std::string& path, const std::vector<TComPort>& listing,
                            const std::string& procDir, const std::string& devDir) {
    std::error_code ec;
    switch (error) {
    case EACCES:
        return path.empty() ? std::string() : AccessHint(ReadAccessFacts(path));
    case EBUSY: {
        if (path.empty())
            return {};
        const fs::path device = fs::canonical(path, ec);
        return HoldersHint(FindHolders(path, procDir, getpid(), devDir), ec ? path : device.string());
    }
    case ENOENT:
        return MissingHint(path, listing);
    default:
        return {};
    }
}

std::string OpenFailureHint(int error, const std::string& path, const TPortRoots& roots) {
    // A port map that cannot serve resolves nothing: that, not the device, is what to mend.
    if (roots.MapError)
        return "the port-map folder UAVCONTROL_PORTS=" + roots.MapDir + " " +
               (roots.MapError == EINVAL ? "is not an absolute path"
                                         : "cannot be used: " + SystemErrorText(roots.MapError));
    // Only a missing device asks for the listing, which reads sysfs for every port.
    return OpenFailureHint(error, path, error == ENOENT ? ListComPorts(roots) : std::vector<TComPort>{});
}

std::string ExplainOpenFailure(int error, const std::string& path, const TPortRoots& roots) {
    const std::string hint = OpenFailureHint(error, path, roots);
    return SystemErrorText(error) + (hint.empty() ? "" : " (" + hint + ")");
}
