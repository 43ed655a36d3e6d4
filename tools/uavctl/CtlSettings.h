#pragma once
// The values uavctl can set, by the names people type: what each accepts, the frame the panel's
// button sends for it, and how a queried value reads back in the same words. Pure C++.
#include "ReplyDecoder.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ctl {

struct Setting {
    std::string name;  // "mode", "code", ...
    char letter = 0;   // the reply letter it is read back with
    std::string value; // in the setting's own words: "a", "1234", "14", "on", "gillham", "11.5"
    bool operator==(const Setting&) const = default;
};

struct CheckedSetting {
    std::optional<Setting> setting;
    std::string error; // why not, when there is no setting
};

// The names in the order a profile is applied: supply class before its set-points, the mode last,
// so the transponder only goes on the air once the rest is in place.
const std::vector<std::string_view>& SettingNames();

// Refuses an unknown name or a value the setting does not take, with the reason.
CheckedSetting CheckSetting(std::string_view name, std::string_view value);

// The parts one after another. (Also keeps g++ 12 at -O3 from a false -Wrestrict warning that
// "literal" + std::string(...) sets off.)
std::string Cat(std::initializer_list<std::string_view> parts);

// The frame the panel's button sends for the setting.
std::string SetFrame(const Setting& setting);

// A read-back in the setting's words ("1" for voltage reads "14"), judged as the panel's display
// judges it; a value the display would not recognise comes back as it is.
std::string ReadBackWord(const Setting& setting, const proto::Reply& reply);

} // namespace ctl
