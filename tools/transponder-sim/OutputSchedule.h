#pragma once
// When each outgoing byte goes on the line. Frames become due after the answer delay; with pacing
// the bytes leave one at a time no faster than a 9600-baud 8N1 wire (10 bits, 1.0417 ms a byte) and
// frames never overlap. Pure: the caller passes the time and writes what it is given.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Nanos = std::chrono::nanoseconds;

inline constexpr Nanos kByteTime9600{1'041'667};

class OutputSchedule {
public:
    explicit OutputSchedule(bool paced = false) : paced_(paced) {}

    struct Sent {
        std::string bytes;
        bool garbage = false;
        bool operator==(const Sent&) const = default;
    };
    struct Batch {
        std::string bytes;           // to write now
        std::vector<Sent> completed; // items whose last byte is in `bytes`, for the log
    };

    // Queues an item due at `readyAt`. Items leave in order of readiness; equal times keep their order.
    void Push(std::string bytes, Nanos readyAt, bool garbage = false);
    // The earliest moment something can be written; nothing when the queue is empty.
    std::optional<Nanos> NextDue() const;
    Batch TakeDue(Nanos now);
    void Clear();
    bool Empty() const { return items_.empty(); }

private:
    struct Item {
        std::string bytes;
        Nanos readyAt;
        bool garbage;
        std::size_t offset = 0;
    };

    bool paced_;
    std::deque<Item> items_;
    Nanos wireFree_{0}; // paced: when the line can take the next byte
};

} // namespace sim
