#pragma once
// One log line per frame: "<time> <direction> <bytes>", the bytes made readable.
#include "Printable.h"

#include <chrono>
#include <string>
#include <string_view>

namespace sim {

using proto::Printable;

// "HH:MM:SS.mmm" in local time.
std::string TimeOfDay(std::chrono::system_clock::time_point when);

// "<time> <direction> <printable bytes>[ <note>]", direction padded to three characters.
std::string LogLine(std::chrono::system_clock::time_point when, std::string_view direction,
                    std::string_view bytes, std::string_view note = {});

} // namespace sim
