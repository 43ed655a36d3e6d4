#pragma once
// The transponder the simulator plays: its settings and how it answers each framed message. Pure
// logic: time comes in as a millisecond count, bytes go out as frames, so it is tested without a port.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

using Millis = std::int64_t;

// How long the ident (SPI) pulse keeps being reported after "i=s".
inline constexpr Millis kIdentMillis = 18000;

struct TransponderState {
    char mode = 't';            // t Standby, a Mode A, c Mode C, f Off, l Mode C with altitude
    std::string code = "1200";  // four octal digits
    bool repliesEnabled = true; // answers interrogations ("r")
    char voltageClass = '1';    // '1' 14 V, '2' 28 V
    std::string lowSetpoint = "11.0";
    std::string highSetpoint = "15.5";
    char encoderSource = 'g';            // 'g' Gillham, 's' serial ("a=" values set the altitude)
    std::string altitude = "2500";       // feet, decimal
    std::string version = "1.04";        // "z"
    std::string serialNumber = "000117"; // "n"
    std::string faultLog = "0";          // "l": faults logged since power-up
    std::string errorStatus = "0";       // "e": 0 means no error
    Millis identUntil = 0;               // ident reported active while now < identUntil
};

class TransponderModel {
public:
    TransponderModel() = default;
    explicit TransponderModel(TransponderState initial) : state_(std::move(initial)) {}

    // One framed message (STX letter "=" value ETX). A query ("X=?") is answered with the letter
    // and the present value; a set command is applied when its value is valid and answered with
    // the value now in force (EchoSets: the value asked for), so the panel's display follows either way.
    // Read-only letters answer their value to any set. Nothing for unknown letters or for messages that are
    // not of that shape.
    std::optional<std::string> Handle(std::string_view message, Millis now);

    // The indication sent on its own when interrogated: the three bytes STX "*" ETX.
    static std::string InterrogationFrame();
    // A transponder in Standby or Off, or with replies disabled, is not answering interrogations.
    bool Interrogable() const;

    const TransponderState& State() const { return state_; }

    // Set commands for these letters are answered with the value in force and never applied, as by
    // a transponder that does not take them.
    void IgnoreSets(std::string letters) { ignoredSets_ = std::move(letters); }
    // Set commands of the settable letters are answered with the value they asked for, applied or not,
    // as by a transponder that acknowledges what it was told.
    void EchoSets(bool on) { echoSets_ = on; }

private:
    std::optional<std::string> ValueOf(char letter, Millis now) const;
    void Apply(char letter, std::string_view value, Millis now);

    TransponderState state_;
    std::string ignoredSets_;
    bool echoSets_ = false;
};

} // namespace sim
