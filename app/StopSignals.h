#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in the terminal, the terminal closed) end the panel
// as File > Exit does instead of killing it on the spot. The handler only writes a byte into a pipe of its
// own; the event loop, woken by the pipe, runs `onStop` on the user-interface thread. A stop signal the
// program was started ignoring stays ignored (a background job of a non-interactive shell ignores SIGINT).
#include <QObject>
#include <csignal>
#include <functional>
#include <iterator>

class QSocketNotifier;

class TStopSignals final : public QObject {
public:
    // Needs the application object; one at a time. Without a pipe (no descriptor left) the signals keep
    // their default action.
    explicit TStopSignals(std::function<void()> onStop);
    // The signals' handling as it was before.
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[std::size(kSignals)] = {};
    bool installed_[std::size(kSignals)] = {};
};
