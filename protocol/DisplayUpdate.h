#pragma once
// What one decoded reply does to the "System Parameters" display, as data: the window looks each
// control up by its name and applies the lists in a few lines, so the reply table lives here once
// and is tested without a window.
#include "ReplyDecoder.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proto {

// The display controls by the names the window gives them.
namespace ctl {
inline constexpr std::string_view lblAltitude = "lblAltitude";
inline constexpr std::string_view lblCode = "lblCode";
inline constexpr std::string_view lblIdent = "lblIdent";
inline constexpr std::string_view ReplyIndi = "ReplyIndi";
inline constexpr std::string_view funcDisplay = "funcDisplay";
inline constexpr std::string_view lblHigh = "lblHigh";
inline constexpr std::string_view lblLow = "lblLow";
inline constexpr std::string_view lblVoltage = "lblVoltage";
inline constexpr std::string_view lblVersion = "lblVersion";
inline constexpr std::string_view lblPing = "lblPing";
inline constexpr std::string_view Ident = "Ident";
inline constexpr std::string_view ledPing = "ledPing";
inline constexpr std::string_view Intled = "Intled";
inline constexpr std::string_view rbStatus = "rbStatus";
inline constexpr std::string_view rbEncSource = "rbEncSource";
} // namespace ctl

struct LabelText {
    std::string_view control;
    std::string text; // bytes: show them with Latin-1 so every byte stays one character
    bool operator==(const LabelText&) const = default;
};

struct LampState {
    std::string_view control;
    bool lit = false;
    bool operator==(const LampState&) const = default;
};

struct RadioChoice {
    std::string_view control;
    int itemIndex = -1; // rbStatus: 0 Standby, 1 Mode A, 2 Mode C; rbEncSource: 0 Gillham, 1 Serial
    bool operator==(const RadioChoice&) const = default;
};

struct DisplayUpdate {
    std::vector<LabelText> labels;
    std::vector<LampState> lamps;
    // Set like an operator's click: a changed rbEncSource selection runs its click handler.
    std::vector<RadioChoice> radios;
    // An altitude answer: the window writes this text into lblAltitudeSource too, but only while that
    // label's own Visible property is set, which only the window knows.
    std::optional<std::string> altitudeSourceText;
    bool pingReceived = false;  // store the tick count now, for the ping lamp's expiry
    bool interrogation = false; // arm the 500 ms timer that puts Intled out again

    bool Empty() const {
        return labels.empty() && lamps.empty() && radios.empty() && !altitudeSourceText && !pingReceived &&
               !interrogation;
    }
    bool operator==(const DisplayUpdate&) const = default;
};

// The display change for one reply; empty for letters the panel shows nothing for and for values
// it does not recognise.
DisplayUpdate DisplayUpdateFor(const Reply& reply);

// Both steps at once. Nothing when the message is not decoded (it lacks STX or ETX and stays
// pending); otherwise the update, possibly empty: every decoded message counts as an answer.
std::optional<DisplayUpdate> DecodeMessage(std::string_view message);

} // namespace proto
