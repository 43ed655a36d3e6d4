#include "DisplayUpdate.h"

namespace proto {

namespace {

DisplayUpdate Label(std::string_view control, std::string text) {
    DisplayUpdate update;
    update.labels.push_back({control, std::move(text)});
    return update;
}

DisplayUpdate Altitude(const Reply& reply) {
    DisplayUpdate update = Label(ctl::lblAltitude, reply.value);
    update.altitudeSourceText = reply.value;
    return update;
}

DisplayUpdate Code(const Reply& reply) {
    if (!reply.fourChars)
        return {};
    return Label(ctl::lblCode, *reply.fourChars);
}

DisplayUpdate EncoderSource(const Reply& reply) {
    DisplayUpdate update;
    if (reply.first == 'g')
        update.radios.push_back({ctl::rbEncSource, 0});
    else if (reply.first == 's')
        update.radios.push_back({ctl::rbEncSource, 1});
    return update;
}

// Only "0" means off: any other byte, an empty value included, shows the ident as active.
DisplayUpdate IdentState(const Reply& reply) {
    const bool active = reply.first != '0';
    DisplayUpdate update = Label(ctl::lblIdent, active ? "Active" : "");
    update.lamps.push_back({ctl::Ident, active});
    return update;
}

DisplayUpdate Ping(const Reply& reply) {
    if (reply.first != 'Y')
        return {};
    DisplayUpdate update = Label(ctl::lblPing, "Received");
    update.lamps.push_back({ctl::ledPing, true});
    update.pingReceived = true;
    return update;
}

DisplayUpdate Replies(const Reply& reply) {
    if (reply.first == 'Y')
        return Label(ctl::ReplyIndi, "Enabled");
    if (reply.first == 'N')
        return Label(ctl::ReplyIndi, "Disabled");
    return {};
}

// "f" (off) names a mode that the radio group has no item for, so the selection stays as it was;
// "l" (Mode C with altitude) is shown as Mode C there.
DisplayUpdate Status(const Reply& reply) {
    struct ModeView {
        char code;
        const char* text;
        int item;
    };
    static constexpr ModeView kModes[] = {
        {'a', "Mode A", 1}, {'c', "Mode C", 2}, {'f', "Off", -1}, {'l', "Mode C/Alt", 2}, {'t', "Standby", 0},
    };
    for (const ModeView& mode : kModes) {
        if (mode.code != reply.first)
            continue;
        DisplayUpdate update = Label(ctl::funcDisplay, mode.text);
        if (mode.item >= 0)
            update.radios.push_back({ctl::rbStatus, mode.item});
        return update;
    }
    return {};
}

DisplayUpdate Interrogation() {
    DisplayUpdate update;
    update.lamps.push_back({ctl::Intled, true});
    update.interrogation = true;
    return update;
}

} // namespace

DisplayUpdate DisplayUpdateFor(const Reply& reply) {
    switch (reply.letter) {
    case 'a':
        return Altitude(reply);
    case 'c':
        return Code(reply);
    case 'd':
        return EncoderSource(reply);
    case 'i':
        return IdentState(reply);
    case 'o':
        return Label(ctl::lblHigh, reply.value);
    case 'p':
        return Ping(reply);
    case 'r':
        return Replies(reply);
    case 's':
        return Status(reply);
    case 'u':
        return Label(ctl::lblLow, reply.value);
    case 'v':
        return Label(ctl::lblVoltage, reply.value);
    case 'z':
        return Label(ctl::lblVersion, reply.value);
    case '*':
        return Interrogation();
    default: // "l" and "n" are accepted and not shown; "e" and unknown letters change nothing
        return {};
    }
}

std::optional<DisplayUpdate> DecodeMessage(std::string_view message) {
    const std::optional<Reply> reply = ParseReply(message);
    if (!reply)
        return std::nullopt;
    return DisplayUpdateFor(*reply);
}

} // namespace proto
