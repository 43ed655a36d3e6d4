#pragma once
// The system's millisecond tick count, wrapping at 2^32, behind a seam so tests can place it near the wrap.
#include <cstdint>
#include <functional>

std::uint32_t GetTickCount();

// Replaces the tick source; an empty function restores the monotonic clock.
void SetTickSourceForTesting(std::function<std::uint32_t()> source);
