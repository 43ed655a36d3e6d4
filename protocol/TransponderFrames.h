#pragma once
// Frames the panel sends to the transponder: STX, letter, "=", value, ETX. Values go out exactly as
// given (no trimming, no checks, no escaping of control bytes inside them). Pure C++: bytes in
// std::string, never UTF-8 text.
#include <array>
#include <string>
#include <string_view>

namespace proto {

inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;

// STX letter "=" value ETX.
std::string Frame(char letter, std::string_view value);

// The panel's console: STX, the typed text, ETX (the operator supplies letter and "=" if any).
std::string ConsoleFrame(std::string_view text);

// The poller's thirteen queries, by step 1..13, in this order.
inline constexpr std::array<char, 13> kQueryLetters = {'a', 'c', 'i', 'r', 's', 'v', 'o',
                                                       'u', 'n', 'l', 'd', 'z', 'e'};
inline constexpr int kQueryStepCount = static_cast<int>(kQueryLetters.size());

// STX letter "=?" ETX.
std::string Query(char letter);

// Query of a poller step, 1..13; throws std::out_of_range for any other step.
std::string QueryFrame(int step);

// Set commands, each named after what it sets. The enumerations follow the radio groups' item order.
enum class OperatingMode { Standby = 0, ModeA = 1, ModeC = 2 }; // rbStatus items
enum class SupplyVoltage { V14 = 0, V28 = 1 };                  // rbVoltage items
enum class EncoderSource { Gillham = 0, Serial = 1 };           // rbEncSource items
enum class InterrogationReplies { On = 0, Off = 1 };            // rbInterrogate items

std::string StatusFrame(OperatingMode mode);                   // "s=t" / "s=a" / "s=c"
std::string CodeFrame(std::string_view code);                  // "c=" code, also when empty
std::string IdentFrame();                                      // "i=s"
std::string VoltageFrame(SupplyVoltage voltage);               // "v=1" / "v=2"
std::string LowSetpointFrame(std::string_view value);          // "u=" value
std::string HighSetpointFrame(std::string_view value);         // "o=" value
std::string EncoderSourceFrame(EncoderSource source);          // "d=g" / "d=s"
std::string InterrogateFrame(InterrogationReplies on);         // "r=y" / "r=n"
std::string PingFrame();                                       // "p=y"
std::string SimulatedAltitudeFrame(std::string_view altitude); // "a=" altitude

// Radio-group indexes as the window holds them (-1: no selection). Return the frame, or empty
// when the index selects nothing, so "no selection sends nothing" stays a one-liner.
std::string StatusFrameForIndex(int itemIndex);
std::string VoltageFrameForIndex(int itemIndex);
std::string EncoderSourceFrameForIndex(int itemIndex);
std::string InterrogateFrameForIndex(int itemIndex);

} // namespace proto
