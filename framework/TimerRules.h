#pragma once
// When a timer has a countdown: the pure rule behind TTimer's settings.
#include <cstdint>

struct TimerSettings {
    bool enabled = true;
    std::uint32_t interval = 1000; // ms; 0 never fires
    bool hasHandler = false;

    // A countdown exists exactly while enabled, with a non-zero interval and a handler.
    bool ShouldCount() const noexcept { return enabled && interval != 0 && hasHandler; }
};
