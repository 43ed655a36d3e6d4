#pragma once
// One log line per frame: "<time> <direction> <bytes>", the bytes made readable.
#include <chrono>
#include <string>
#include <string_view>

namespace sim {

// Printable ASCII as it is; STX and ETX as <STX> and <ETX>; every other byte, and "<" itself so the
// notation stays unambiguous, as <xx> in lower-case hex.
std::string Printable(std::string_view bytes);

// "HH:MM:SS.mmm" in local time.
std::string TimeOfDay(std::chrono::system_clock::time_point when);

// "<time> <direction> <printable bytes>[ <note>]", direction padded to three characters.
std::string LogLine(std::chrono::system_clock::time_point when, std::string_view direction,
                    std::string_view bytes, std::string_view note = {});

} // namespace sim
