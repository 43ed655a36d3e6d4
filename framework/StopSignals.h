#pragma once
// The requests from outside to end the program, taken the way File > Exit or a finished command ends it
// instead of the system killing it on the spot: SIGTERM, SIGINT and SIGHUP on Linux (a logout, `kill`,
// Ctrl+C in the terminal, the terminal closed); Ctrl+C, Ctrl+Break, the console closed, logoff and shutdown
// on Windows. Each reaches `onStop` on the thread that runs the event loop, never inside a handler, with
// the signal it stands for (on Windows: a closed console as SIGHUP, logoff and shutdown as SIGTERM, Ctrl+C
// and Ctrl+Break as SIGINT). A stop signal the program was started ignoring stays ignored (a background job
// of a non-interactive shell ignores SIGINT).
#include <QObject>
#include <functional>
#include <memory>

class TStopSignals final : public QObject {
public:
    // Needs the application object; one at a time. Where the system gives no way to be told (no descriptor
    // left for the pipe), the requests keep their default effect.
    explicit TStopSignals(std::function<void(int signo)> onStop);
    // The handling as it was before.
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;

    // Windows ends a session (logoff, shutdown) by telling each window, and may end the program as soon as
    // it has been told: so `onStop` runs there and then with SIGTERM, and `finish` right after it, to put
    // what must not be lost (the traffic log's last lines) where it belongs before the answer. Linux never
    // calls it: there the session's end is a SIGTERM or SIGHUP like any other.
    void SetOnSessionEnd(std::function<void()> finish);
    TStopSignals& operator=(const TStopSignals&) = delete;

    struct TBackend;

private:
    std::unique_ptr<TBackend> backend_;
};

// The numbers of the three stop signals, as Linux numbers them on either system.
namespace StopSignal {
constexpr int Hangup = 1;
constexpr int Interrupt = 2;
constexpr int Terminate = 15;
} // namespace StopSignal

// Ends the process as `signo` would have, had nobody caught it: on Linux by the signal itself; on Windows
// with exit code 128 + signo, what a shell reports for it.
[[noreturn]] void EndBySignal(int signo);
