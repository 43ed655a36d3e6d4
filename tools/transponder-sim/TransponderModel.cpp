#include "TransponderModel.h"

#include "TransponderFrames.h"

#include <algorithm>
#include <charconv>

namespace sim {

namespace {

bool IsOneOf(std::string_view value, std::string_view choices) {
    return value.size() == 1 && choices.find(value[0]) != std::string_view::npos;
}

bool IsOctalCode(std::string_view value) {
    return value.size() == 4 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '7'; });
}

// Set-points as a voltmeter shows them: digits with at most one decimal point, at most 6 characters.
bool IsSetpoint(std::string_view value) {
    if (value.empty() || value.size() > 6 || std::count(value.begin(), value.end(), '.') > 1)
        return false;
    return std::any_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::all_of(value.begin(), value.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// Pressure altitude in feet as the encoder gives it: 0..65535, kept in plain decimal.
std::optional<std::string> AltitudeOf(std::string_view value) {
    unsigned feet = 0;
    const char* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, feet);
    if (value.empty() || ec != std::errc() || ptr != end || feet > 65535)
        return std::nullopt;
    return std::to_string(feet);
}

} // namespace

std::string TransponderModel::InterrogationFrame() {
    return {proto::STX, '*', proto::ETX};
}

bool TransponderModel::Interrogable() const {
    return state_.repliesEnabled && (state_.mode == 'a' || state_.mode == 'c' || state_.mode == 'l');
}

std::optional<std::string> TransponderModel::ValueOf(char letter, Millis now) const {
    switch (letter) {
    case 'a':
        return state_.altitude;
    case 'c':
        return state_.code;
    case 'd':
        return std::string(1, state_.encoderSource);
    case 'e':
        return state_.errorStatus;
    case 'i':
        return now < state_.identUntil ? "1" : "0";
    case 'l':
        return state_.faultLog;
    case 'n':
        return state_.serialNumber;
    case 'o':
        return state_.highSetpoint;
    case 'p':
        return "Y";
    case 'r':
        return state_.repliesEnabled ? "Y" : "N";
    case 's':
        return std::string(1, state_.mode);
    case 'u':
        return state_.lowSetpoint;
    case 'v':
        return std::string(1, state_.voltageClass);
    case 'z':
        return state_.version;
    default:
        return std::nullopt;
    }
}

void TransponderModel::Apply(char letter, std::string_view value, Millis now) {
    switch (letter) {
    case 'a':
        // A Gillham encoder is wired to the transponder directly; serial altitudes only count when
        // the serial source is selected.
        if (state_.encoderSource == 's')
            if (auto feet = AltitudeOf(value))
                state_.altitude = *feet;
        break;
    case 'c':
        if (IsOctalCode(value))
            state_.code = value;
        break;
    case 'd':
        if (IsOneOf(value, "gs"))
            state_.encoderSource = value[0];
        break;
    case 'i':
        if (value == "s")
            state_.identUntil = now + kIdentMillis;
        break;
    case 'o':
        if (IsSetpoint(value))
            state_.highSetpoint = value;
        break;
    case 'u':
        if (IsSetpoint(value))
            state_.lowSetpoint = value;
        break;
    case 'r':
        if (IsOneOf(value, "yYnN"))
            state_.repliesEnabled = value[0] == 'y' || value[0] == 'Y';
        break;
    case 's':
        if (IsOneOf(value, "tacfl"))
            state_.mode = value[0];
        break;
    case 'v':
        if (IsOneOf(value, "12"))
            state_.voltageClass = value[0];
        break;
    default: // read-only: e, l, n, p (a ping only asks for an answer), z
        break;
    }
}

std::optional<std::string> TransponderModel::Handle(std::string_view message, Millis now) {
    if (message.size() < 4 || message.front() != proto::STX || message.back() != proto::ETX ||
        message[2] != '=')
        return std::nullopt;
    const char letter = message[1];
    const std::string_view value = message.substr(3, message.size() - 4);
    if (!ValueOf(letter, now))
        return std::nullopt;
    if (value != "?" && ignoredSets_.find(letter) == std::string::npos)
        Apply(letter, value, now);
    constexpr std::string_view kReadOnly = "elnpz";
    if (value != "?" && echoSets_ && kReadOnly.find(letter) == std::string_view::npos)
        return proto::Frame(letter, std::string(value));
    return proto::Frame(letter, *ValueOf(letter, now));
}

} // namespace sim
