#pragma once
// The symbolic link by which the panel finds the simulator's device (comN in the port-map folder).
#include <string>

namespace sim {

class PortLink {
public:
    // Creates the folder if needed and points `linkPath` at `target`, replacing a link left behind by
    // an earlier run. Refuses to replace anything that is not a symbolic link. Throws on failure.
    PortLink(std::string linkPath, std::string target);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::string& Path() const { return path_; }
    // Removes the link, unless it has meanwhile been pointed somewhere else (another simulator).
    void Remove() noexcept;

private:
    std::string path_;
    std::string target_;
    bool owned_ = false;
};

} // namespace sim
