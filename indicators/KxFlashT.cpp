#include "KxFlashT.h"

#include "PostedEvents.h"
#include "TickClock.h"

#include <QCoreApplication>
#include <algorithm>

namespace {
constexpr std::size_t kMinFreePlaces = 2;
constexpr std::size_t kGrowth = 10;
} // namespace

void TFlashList::Add(QObject* control, std::uint32_t code, std::uint32_t now) {
    if (!control)
        return;
    std::lock_guard lock(mutex_);
    const std::uint32_t stamp = now + code;
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [control](const TFlashEntry& e) { return e.Control == control; });
    if (it != entries_.end()) {
        it->Code = code;
        it->Stamp = stamp;
    } else {
        entries_.push_back({control, code, stamp});
    }
    if (entries_.capacity() - entries_.size() < kMinFreePlaces)
        entries_.reserve(entries_.size() + kGrowth);
}

void TFlashList::Remove(QObject* control) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [control](const TFlashEntry& e) { return e.Control == control; });
    if (it != entries_.end())
        entries_.erase(it);
}

void TFlashList::Tick(const Deliver& deliver) {
    std::lock_guard lock(mutex_);
    const std::uint32_t counter = ++counter_;
    const std::size_t n = entries_.size();
    for (std::size_t i = 0; i < n; ++i) {
        try {
            // A delivery may have shortened the list; what is gone is skipped.
            if (i >= entries_.size())
                continue;
            const TFlashEntry entry = entries_[i];
            if ((entry.Stamp & entry.Code) != (counter & entry.Code))
                deliver(entry.Control, counter, (counter & entry.Code) != 0 ? -1 : 0);
            // The delivery may have moved or removed the entry: stamp it where it is now.
            auto it = std::find_if(entries_.begin(), entries_.end(),
                                   [&entry](const TFlashEntry& e) { return e.Control == entry.Control; });
            if (it != entries_.end())
                it->Stamp = counter;
        } catch (...) {
            // One control's failure must not stop the others from flashing.
        }
    }
}

std::uint32_t TFlashList::Counter() const {
    std::lock_guard lock(mutex_);
    return counter_;
}

void TFlashList::SetCounterForTesting(std::uint32_t value) {
    std::lock_guard lock(mutex_);
    counter_ = value;
}

std::vector<TFlashEntry> TFlashList::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t TFlashList::Capacity() const {
    std::lock_guard lock(mutex_);
    return entries_.capacity();
}

TFlashList& FlashList() {
    static TFlashList list;
    return list;
}

void AddFlashControl(QObject* control, std::uint32_t code) {
    FlashList().Add(control, code, GetTickCount());
}

void RemoveFlashControl(QObject* control) {
    FlashList().Remove(control);
}

void FlashTick() {
    // Posting happens under the list's lock, and a control leaves the list before it is destroyed, so the
    // receiver is alive while its event is queued; Qt drops a destroyed receiver's queued events.
    FlashList().Tick([](QObject* control, std::uint32_t wParam, std::int32_t lParam) {
        PostAcrossThreads(control, new TFlashStepEvent(wParam, lParam));
    });
}
