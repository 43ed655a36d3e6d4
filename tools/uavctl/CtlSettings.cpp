#include "CtlSettings.h"

#include "Printable.h"
#include "TransponderFrames.h"

#include <algorithm>

namespace ctl {

namespace {

struct Word {
    std::string_view word; // what people type
    char wire;             // the value byte the button sends
    char reply;            // the value byte the transponder reports for it
};

struct SettingKind {
    std::string_view name;
    char letter;
    std::vector<Word> words; // empty: free text checked by `check`
    std::string_view (*check)(std::string_view value);
};

std::string_view CheckCode(std::string_view value) {
    const bool octal = std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '7'; });
    return value.size() == 4 && octal ? std::string_view{} : "expects four octal digits (0-7), e.g. 1200";
}

std::string_view CheckSetpoint(std::string_view value) {
    const bool digits = std::any_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    const bool shape =
        std::all_of(value.begin(), value.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    return digits && shape && std::count(value.begin(), value.end(), '.') <= 1
               ? std::string_view{}
               : "expects volts as digits with at most one decimal point, e.g. 11.5";
}

const std::vector<SettingKind>& Kinds() {
    static const std::vector<SettingKind> kinds = {
        {"voltage", 'v', {{"14", '1', '1'}, {"28", '2', '2'}}, nullptr},
        {"low", 'u', {}, CheckSetpoint},
        {"high", 'o', {}, CheckSetpoint},
        {"code", 'c', {}, CheckCode},
        {"source", 'd', {{"gillham", 'g', 'g'}, {"serial", 's', 's'}}, nullptr},
        {"replies", 'r', {{"on", 'y', 'Y'}, {"off", 'n', 'N'}}, nullptr},
        {"mode", 's', {{"standby", 't', 't'}, {"a", 'a', 'a'}, {"c", 'c', 'c'}}, nullptr},
    };
    return kinds;
}

const SettingKind* KindOf(std::string_view name) {
    for (const SettingKind& kind : Kinds())
        if (kind.name == name)
            return &kind;
    return nullptr;
}

std::string Choices(const SettingKind& kind) {
    std::string text;
    for (const Word& w : kind.words)
        text.append(text.empty() ? "" : "|").append(w.word);
    return text;
}

} // namespace

std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts)
        text.append(part);
    return text;
}

const std::vector<std::string_view>& SettingNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> all;
        for (const SettingKind& kind : Kinds())
            all.push_back(kind.name);
        return all;
    }();
    return names;
}

CheckedSetting CheckSetting(std::string_view name, std::string_view value) {
    const SettingKind* kind = KindOf(name);
    if (!kind) {
        std::string known;
        for (auto n : SettingNames())
            known.append(known.empty() ? "" : ", ").append(n);
        return {std::nullopt, Cat({"unknown setting '", proto::Printable(name), "' (one of ", known, ")"})};
    }
    // A profile's value may hold any byte; the message shows it as the output does.
    const std::string shown = proto::Printable(value);
    std::string_view why;
    if (kind->check) {
        why = kind->check(value);
    } else if (std::none_of(kind->words.begin(), kind->words.end(),
                            [&](const Word& w) { return w.word == value; })) {
        return {std::nullopt, Cat({name, ": '", shown, "' is not one of ", Choices(*kind)})};
    }
    if (!why.empty())
        return {std::nullopt, Cat({name, ": '", shown, "' ", why})};
    return {Setting{std::string(name), kind->letter, std::string(value)}, {}};
}

std::string SetFrame(const Setting& setting) {
    const SettingKind* kind = KindOf(setting.name);
    if (!kind)
        return {};
    for (const Word& w : kind->words)
        if (w.word == setting.value)
            return proto::Frame(kind->letter, std::string(1, w.wire));
    return proto::Frame(kind->letter, setting.value);
}

std::string ReadBackWord(const Setting& setting, const proto::Reply& reply) {
    const SettingKind* kind = KindOf(setting.name);
    if (!kind)
        return reply.value;
    switch (kind->letter) {
    case 'c':
        // The display takes exactly four characters; fewer change nothing, so show what came.
        return reply.fourChars ? *reply.fourChars : reply.value;
    case 'u':
    case 'o':
        return reply.value;
    default:
        if (kind->letter == 's' && reply.first == 'l')
            return "c"; // "Mode C/Alt" selects Mode C on the display
        for (const Word& w : kind->words) {
            // The display shows the voltage class as text; the others it judges by the first byte.
            const bool hit =
                kind->letter == 'v' ? reply.value == std::string(1, w.reply) : reply.first == w.reply;
            if (hit)
                return std::string(w.word);
        }
        return reply.value;
    }
}

} // namespace ctl
