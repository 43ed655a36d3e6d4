#include "CtlSettings.h"

#include "TransponderFrames.h"

#include <algorithm>

namespace ctl {

namespace {

struct Word {
    std::string_view word; // what people type
    char wire;             // the value byte the button sends
    char reply;            // the value byte the transponder reports for it
};

struct Spec {
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

const std::vector<Spec>& Specs() {
    static const std::vector<Spec> specs = {
        {"voltage", 'v', {{"14", '1', '1'}, {"28", '2', '2'}}, nullptr},
        {"low", 'u', {}, CheckSetpoint},
        {"high", 'o', {}, CheckSetpoint},
        {"code", 'c', {}, CheckCode},
        {"source", 'd', {{"gillham", 'g', 'g'}, {"serial", 's', 's'}}, nullptr},
        {"replies", 'r', {{"on", 'y', 'Y'}, {"off", 'n', 'N'}}, nullptr},
        {"mode", 's', {{"standby", 't', 't'}, {"a", 'a', 'a'}, {"c", 'c', 'c'}}, nullptr},
    };
    return specs;
}

const Spec* SpecOf(std::string_view name) {
    for (const Spec& spec : Specs())
        if (spec.name == name)
            return &spec;
    return nullptr;
}

std::string Choices(const Spec& spec) {
    std::string text;
    for (const Word& w : spec.words)
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
        for (const Spec& spec : Specs())
            all.push_back(spec.name);
        return all;
    }();
    return names;
}

CheckedSetting CheckSetting(std::string_view name, std::string_view value) {
    const Spec* spec = SpecOf(name);
    if (!spec) {
        std::string known;
        for (auto n : SettingNames())
            known.append(known.empty() ? "" : ", ").append(n);
        return {std::nullopt, Cat({"unknown setting '", name, "' (one of ", known, ")"})};
    }
    std::string_view why;
    if (spec->check) {
        why = spec->check(value);
    } else if (std::none_of(spec->words.begin(), spec->words.end(),
                            [&](const Word& w) { return w.word == value; })) {
        return {std::nullopt, Cat({name, ": '", value, "' is not one of ", Choices(*spec)})};
    }
    if (!why.empty())
        return {std::nullopt, Cat({name, ": '", value, "' ", why})};
    return {Setting{std::string(name), spec->letter, std::string(value)}, {}};
}

std::string SetFrame(const Setting& setting) {
    const Spec* spec = SpecOf(setting.name);
    if (!spec)
        return {};
    for (const Word& w : spec->words)
        if (w.word == setting.value)
            return proto::Frame(spec->letter, std::string(1, w.wire));
    return proto::Frame(spec->letter, setting.value);
}

std::string ReadBackWord(const Setting& setting, const proto::Reply& reply) {
    const Spec* spec = SpecOf(setting.name);
    if (!spec)
        return reply.value;
    switch (spec->letter) {
    case 'c':
        // The display takes exactly four characters; fewer change nothing, so show what came.
        return reply.fourChars ? *reply.fourChars : reply.value;
    case 'u':
    case 'o':
        return reply.value;
    default:
        if (spec->letter == 's' && reply.first == 'l')
            return "c"; // "Mode C/Alt" selects Mode C on the display
        for (const Word& w : spec->words) {
            // The display shows the voltage class as text; the others it judges by the first byte.
            const bool hit =
                spec->letter == 'v' ? reply.value == std::string(1, w.reply) : reply.first == w.reply;
            if (hit)
                return std::string(w.word);
        }
        return reply.value;
    }
}

} // namespace ctl
