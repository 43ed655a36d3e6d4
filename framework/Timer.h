#pragma once
// TTimer: a periodic interval timer whose events arrive through the UI thread's queue. Setters compare
// first: the same value leaves a running countdown alone; a new one re-arms it from zero.
#include "Component.h"
#include "TimerRules.h"

#include <QBasicTimer>
#include <cstdint>
#include <functional>

class TTimer : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(uint Interval READ Interval WRITE SetInterval)

public:
    explicit TTimer(QObject* owner = nullptr);
    ~TTimer() override;

    bool Enabled() const { return settings_.enabled; }
    void SetEnabled(bool value);
    std::uint32_t Interval() const { return settings_.interval; }
    void SetInterval(std::uint32_t value);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    // Always stores and re-arms.
    void SetOnTimer(TNotifyEvent handler);

    // Whether a countdown runs now.
    bool Counting() const { return timerId_ != 0; }

    // Seam for the system's countdown: returns a timer id, or 0 when refused. Tests replace it to refuse;
    // an empty function restores the real one.
    using Starter = std::function<int(QObject* target, std::uint32_t intervalMs)>;
    static void SetStarterForTesting(Starter starter);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void UpdateTimer();

    TimerSettings settings_;
    TNotifyEvent onTimer_;
    int timerId_ = 0;
};
