#include "OutputSchedule.h"

#include <algorithm>

namespace sim {

void OutputSchedule::Push(std::string bytes, Nanos readyAt, bool garbage) {
    if (bytes.empty())
        return;
    // A frame already started on the wire stays first whatever becomes ready after it.
    auto pos = std::upper_bound(items_.begin(), items_.end(), readyAt,
                                [](Nanos t, const Item& item) { return t < item.readyAt; });
    if (pos == items_.begin() && !items_.empty() && items_.front().offset > 0)
        ++pos;
    items_.insert(pos, Item{std::move(bytes), readyAt, garbage});
}

std::optional<Nanos> OutputSchedule::NextDue() const {
    if (items_.empty())
        return std::nullopt;
    return paced_ ? std::max(items_.front().readyAt, wireFree_) : items_.front().readyAt;
}

OutputSchedule::Batch OutputSchedule::TakeDue(Nanos now) {
    Batch batch;
    while (!items_.empty()) {
        Item& item = items_.front();
        if (!paced_) {
            if (item.readyAt > now)
                break;
            batch.bytes += item.bytes;
        } else {
            const Nanos slot = std::max(item.readyAt, wireFree_);
            if (slot > now)
                break;
            batch.bytes += item.bytes[item.offset++];
            // Woken late by more than a byte: start the wire anew from now instead of bursting to
            // catch up, so the line is never faster than 9600 baud.
            wireFree_ = (now - slot < kByteTime9600 ? slot : now) + kByteTime9600;
            if (item.offset < item.bytes.size())
                break;
        }
        batch.completed.push_back({std::move(item.bytes), item.garbage});
        items_.pop_front();
        if (paced_)
            break;
    }
    return batch;
}

void OutputSchedule::Clear() {
    items_.clear();
}

} // namespace sim
