#pragma once
// The symbolic link by which the panel finds the simulator's device (comN in the port-map folder).
#include <string>
#include <sys/types.h>

namespace sim {

class PortLink {
public:
    // Points `linkPath` at `target`, replacing a link left behind by an earlier run (one that leads
    // nowhere, or to `target` itself). A link that leads to another live device is refused unless
    // `replace`; anything that is not a
    // symbolic link is refused. The folder is made when missing only if `makeFolder`. Throws on failure,
    // leaving nothing of its own behind.
    PortLink(std::string linkPath, std::string target, bool replace = false, bool makeFolder = false);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& Path() const { return path_; }
    // Points the link made here at another device, in one step. Throws on failure, keeping the old link.
    void Retarget(const std::string& target);
    // Removes the link, unless it is no longer the one made here (another simulator took the name over).
    void Remove() noexcept;

private:
    void Link(const std::string& target);

    std::string path_;
    std::string target_;
    dev_t device_ = 0; // the link made here, told apart from a later one to the same target
    ino_t inode_ = 0;
    bool owned_ = false;
};

} // namespace sim
