#include "WireLog.h"

#include <cstdio>
#include <ctime>

namespace sim {

std::string TimeOfDay(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string LogLine(std::chrono::system_clock::time_point when, std::string_view direction,
                    std::string_view bytes, std::string_view note) {
    std::string line = TimeOfDay(when);
    line += ' ';
    line += direction;
    line.append(direction.size() < 3 ? 3 - direction.size() : 0, ' ');
    line += ' ';
    line += Printable(bytes);
    if (!note.empty()) {
        line += ' ';
        line += note;
    }
    return line;
}

} // namespace sim
