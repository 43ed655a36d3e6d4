#pragma once
// The flash clock: a counter raised every 50 ms and the list of flashing controls, each following one bit
// of that counter. A control is told each time its bit changes, by a WM_FLASHSTEP event posted to it.
#include <QEvent>
#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

inline constexpr int WM_FLASHSTEP = 1124;

// WParam: the counter after the tick; LParam: -1 to show the on state, 0 for the off state.
class TFlashStepEvent : public QEvent {
public:
    TFlashStepEvent(std::uint32_t wParam, std::int32_t lParam)
        : QEvent(static_cast<QEvent::Type>(WM_FLASHSTEP)), WParam(wParam), LParam(lParam) {}
    const std::uint32_t WParam;
    const std::int32_t LParam;
};

struct TFlashEntry {
    QObject* Control = nullptr; // not owned
    std::uint32_t Code = 0;     // the counter bit followed: 1, 2, 4, 8 or 16
    std::uint32_t Stamp = 0;    // the counter at the last tick that handled this entry
};

// The registration list and counter. Registration runs on the UI thread and the tick on the timer thread,
// so every access takes the list's lock; a tick never sees a half-made change.
class TFlashList {
public:
    using Deliver = std::function<void(QObject* control, std::uint32_t wParam, std::int32_t lParam)>;

    // Registers control under code, or changes its registration; now is the millisecond tick count.
    void Add(QObject* control, std::uint32_t code, std::uint32_t now);
    // Removes the control's entry; nothing happens without one.
    void Remove(QObject* control);
    // One tick: raise the counter and deliver a step to every entry whose bit changed. An error raised
    // while delivering is dropped and leaves that entry's stamp as it was; the others go on. deliver may
    // add or remove entries.
    void Tick(const Deliver& deliver);

    std::uint32_t Counter() const;
    void SetCounterForTesting(std::uint32_t value);
    std::vector<TFlashEntry> Entries() const;
    std::size_t Capacity() const;

private:
    mutable std::recursive_mutex mutex_;
    std::vector<TFlashEntry> entries_;
    std::uint32_t counter_ = 0;
};

// The program-wide clock.
TFlashList& FlashList();
// Registers with the program-wide clock, stamped with GetTickCount() + code. A null control is ignored.
void AddFlashControl(QObject* control, std::uint32_t code);
void RemoveFlashControl(QObject* control);
// One tick of the program-wide clock: steps are posted to their controls' UI thread.
void FlashTick();
