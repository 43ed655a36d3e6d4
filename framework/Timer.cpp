#include "Timer.h"

#include "CoreApplication.h"
#include "Exceptions.h"

#include <QTimerEvent>
#include <climits>

namespace {
TTimer::Starter& StarterSeam() {
    static TTimer::Starter starter;
    return starter;
}

int StartCountdown(QObject* target, std::uint32_t intervalMs) {
    if (StarterSeam())
        return StarterSeam()(target, intervalMs);
    const int ms = intervalMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(intervalMs);
    return target->startTimer(ms, Qt::PreciseTimer);
}
} // namespace

void TTimer::SetStarterForTesting(Starter starter) {
    StarterSeam() = std::move(starter);
}

TTimer::TTimer(QObject* owner) : TComponent(owner) {}

TTimer::~TTimer() {
    settings_.enabled = false;
    if (timerId_ != 0)
        killTimer(timerId_);
}

void TTimer::SetEnabled(bool value) {
    if (value == settings_.enabled)
        return;
    settings_.enabled = value;
    UpdateTimer();
}

void TTimer::SetInterval(std::uint32_t value) {
    if (value == settings_.interval)
        return;
    settings_.interval = value;
    UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    settings_.hasHandler = static_cast<bool>(onTimer_);
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    if (timerId_ != 0) {
        killTimer(timerId_);
        timerId_ = 0;
    }
    if (!settings_.ShouldCount())
        return;
    timerId_ = StartCountdown(this, settings_.interval);
    if (timerId_ == 0)
        throw EOutOfResources("Not enough timers available");
}

void TTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_) {
        TComponent::timerEvent(event);
        return;
    }
    if (!onTimer_)
        return;
    // Keep the handler alive even if it replaces itself while running.
    TNotifyEvent handler = onTimer_;
    TCoreApplication::Guard([&] { handler(this); });
}
