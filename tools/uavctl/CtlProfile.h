#pragma once
// A profile: one JSON object of settings by name, e.g. {"mode": "a", "code": "1200", "voltage": 28}.
// The whole file is checked before anything is sent; the settings come back in the order they are
// applied, whatever the order in the file.
#include "CtlSettings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ctl {

// More than this is no profile (a device such as /dev/zero would be read without end).
inline constexpr std::size_t kMaxProfileBytes = 1 << 20;

struct ParsedProfile {
    std::vector<Setting> settings; // in SettingNames() order
    std::string error;             // set when the profile is refused
};

ParsedProfile ParseProfile(const std::string& json);

// Reads the file (at most kMaxProfileBytes) and parses it; a file that cannot be read is refused with
// the system's text ("Is a directory").
ParsedProfile ReadProfile(const std::string& path);

} // namespace ctl
