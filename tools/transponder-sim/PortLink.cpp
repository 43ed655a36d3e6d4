#include "PortLink.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

PortLink::PortLink(std::string linkPath, std::string target)
    : path_(std::move(linkPath)), target_(std::move(target)) {
    const fs::path link(path_);
    if (link.has_parent_path())
        fs::create_directories(link.parent_path());
    const fs::file_status status = fs::symlink_status(link);
    if (fs::exists(status) && !fs::is_symlink(status))
        throw fs::filesystem_error("not a symbolic link, left as it is", link,
                                   std::make_error_code(std::errc::file_exists));
    // Made beside and renamed over, so a client never sees the name missing or half made.
    const fs::path temp = link.string() + ".tmp" + std::to_string(::getpid());
    fs::remove(temp);
    fs::create_symlink(target_, temp);
    fs::rename(temp, link);
    owned_ = true;
}

PortLink::~PortLink() {
    Remove();
}

void PortLink::Remove() noexcept {
    if (!owned_)
        return;
    owned_ = false;
    std::error_code ec;
    if (fs::read_symlink(path_, ec) == fs::path(target_) && !ec)
        fs::remove(path_, ec);
}

} // namespace sim
