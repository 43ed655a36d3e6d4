#pragma once
// A profile: one JSON object of settings by name, e.g. {"mode": "a", "code": "1200", "voltage": 28}.
// The whole file is checked before anything is sent; the settings come back in the order they are
// applied, whatever the order in the file.
#include "CtlSettings.h"

#include <string>
#include <vector>

namespace ctl {

struct ParsedProfile {
    std::vector<Setting> settings; // in SettingNames() order
    std::string error;             // set when the profile is refused
};

ParsedProfile ParseProfile(const std::string& json);

} // namespace ctl
