#include "TransponderFrames.h"

#include <stdexcept>

namespace proto {

std::string Frame(char letter, std::string_view value) {
    std::string frame;
    frame.reserve(value.size() + 4);
    frame += STX;
    frame += letter;
    frame += '=';
    frame += value;
    frame += ETX;
    return frame;
}

std::string ConsoleFrame(std::string_view text) {
    std::string frame;
    frame.reserve(text.size() + 2);
    frame += STX;
    frame += text;
    frame += ETX;
    return frame;
}

std::string Query(char letter) {
    return Frame(letter, "?");
}

std::string QueryFrame(int step) {
    if (step < 1 || step > kQueryStepCount)
        throw std::out_of_range("query step " + std::to_string(step) + " is not 1.." +
                                std::to_string(kQueryStepCount));
    return Query(kQueryLetters[static_cast<std::size_t>(step - 1)]);
}

namespace {

std::string OneCharFrame(char letter, char value) {
    return Frame(letter, std::string_view(&value, 1));
}

// One value character per radio item; the literal's terminating zero is no item.
template <std::size_t N> std::string FrameOrNothing(char letter, const char (&choices)[N], int index) {
    if (index < 0 || index >= static_cast<int>(N) - 1)
        return {};
    return OneCharFrame(letter, choices[index]);
}

constexpr char kModes[] = "tac";
constexpr char kVoltages[] = "12";
constexpr char kSources[] = "gs";
constexpr char kReplies[] = "yn";

} // namespace

std::string StatusFrame(OperatingMode mode) {
    return StatusFrameForIndex(static_cast<int>(mode));
}
std::string CodeFrame(std::string_view code) {
    return Frame('c', code);
}
std::string IdentFrame() {
    return Frame('i', "s");
}
std::string VoltageFrame(SupplyVoltage voltage) {
    return VoltageFrameForIndex(static_cast<int>(voltage));
}
std::string LowSetpointFrame(std::string_view value) {
    return Frame('u', value);
}
std::string HighSetpointFrame(std::string_view value) {
    return Frame('o', value);
}
std::string EncoderSourceFrame(EncoderSource source) {
    return EncoderSourceFrameForIndex(static_cast<int>(source));
}
std::string InterrogateFrame(InterrogationReplies on) {
    return InterrogateFrameForIndex(static_cast<int>(on));
}
std::string PingFrame() {
    return Frame('p', "y");
}
std::string SimulatedAltitudeFrame(std::string_view altitude) {
    return Frame('a', altitude);
}

std::string StatusFrameForIndex(int itemIndex) {
    return FrameOrNothing('s', kModes, itemIndex);
}
std::string VoltageFrameForIndex(int itemIndex) {
    return FrameOrNothing('v', kVoltages, itemIndex);
}
std::string EncoderSourceFrameForIndex(int itemIndex) {
    return FrameOrNothing('d', kSources, itemIndex);
}
std::string InterrogateFrameForIndex(int itemIndex) {
    return FrameOrNothing('r', kReplies, itemIndex);
}

} // namespace proto
