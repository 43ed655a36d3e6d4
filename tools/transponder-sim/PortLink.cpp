#include "PortLink.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

PortLink::PortLink(std::string linkPath, std::string target, bool replace, bool makeFolder)
    : path_(std::move(linkPath)), target_(std::move(target)) {
    const fs::path link(path_);
    const fs::path folder = link.has_parent_path() ? link.parent_path() : fs::path(".");
    if (makeFolder)
        fs::create_directories(folder);
    std::error_code ec;
    const fs::file_status folderStatus = fs::status(folder, ec);
    if (!fs::is_directory(folderStatus))
        throw std::system_error(fs::exists(folderStatus) ? std::make_error_code(std::errc::not_a_directory)
                                                         : ec,
                                "the link's folder " + folder.string());
    const fs::file_status status = fs::symlink_status(link);
    if (fs::exists(status) && !fs::is_symlink(status))
        throw fs::filesystem_error("not a symbolic link, left as it is", link,
                                   std::make_error_code(std::errc::file_exists));
    // A link left by a simulator that was killed leads to a terminal number that has been freed, which the
    // system may have given to this very simulator: leading here, it is stale all the same.
    // (By stat: the library's equivalent() refuses to compare two devices.)
    struct stat leadsTo {
    }, own{};
    const bool ownLine = ::stat(path_.c_str(), &leadsTo) == 0 && ::stat(target_.c_str(), &own) == 0 &&
                         leadsTo.st_dev == own.st_dev && leadsTo.st_ino == own.st_ino;
    if (fs::is_symlink(status) && !replace && fs::exists(link, ec) && !ownLine)
        throw std::runtime_error(
            path_ + " leads to " + fs::read_symlink(link, ec).string() +
            ", which is live (another simulator?): left as it is; --replace takes it over");
    Link(target_);
    owned_ = true;
}

void PortLink::Retarget(const std::string& target) {
    Link(target);
    target_ = target;
}

void PortLink::Link(const std::string& target) {
    // Made beside and renamed over, so a client never sees the name missing or half made.
    const fs::path temp = path_ + ".tmp" + std::to_string(::getpid());
    std::error_code ec;
    fs::remove(temp, ec);
    fs::create_symlink(target, temp);
    struct stat made {};
    if (::lstat(temp.c_str(), &made) != 0 || ::rename(temp.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        fs::remove(temp, ec);
        throw std::system_error(error, std::generic_category(), "linking " + path_);
    }
    device_ = made.st_dev;
    inode_ = made.st_ino;
}

PortLink::~PortLink() {
    Remove();
}

void PortLink::Remove() noexcept {
    if (!owned_)
        return;
    owned_ = false;
    // The very link made here: the same file, still leading to this simulator's device.
    struct stat now {};
    std::error_code ec;
    if (::lstat(path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_ &&
        fs::read_symlink(path_, ec) == fs::path(target_) && !ec)
        ::unlink(path_.c_str());
}

} // namespace sim
