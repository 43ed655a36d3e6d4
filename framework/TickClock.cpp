#include "TickClock.h"

#include <chrono>
#include <mutex>

namespace {
std::mutex sourceMutex;
std::function<std::uint32_t()>& Source() {
    static std::function<std::uint32_t()> source;
    return source;
}
} // namespace

std::uint32_t GetTickCount() {
    {
        std::lock_guard lock(sourceMutex);
        if (Source())
            return Source()();
    }
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void SetTickSourceForTesting(std::function<std::uint32_t()> source) {
    std::lock_guard lock(sourceMutex);
    Source() = std::move(source);
}
