#pragma once
// One open port for uavctl: the panel's serial component on a QCoreApplication, received messages
// queued in arrival order, and waits that end at an answer, a time-out, a failure of the port or a
// signal (SIGINT, SIGTERM, SIGHUP), whichever comes first.
#include "Serial2.h"

#include <QElapsedTimer>
#include <QObject>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QEventLoop;
class TStopSignals;

namespace ctl {

struct Received {
    std::string message;
    qint64 atNs = 0; // on the link's clock
};

class TLink : public QObject {
public:
    // `device`: the device to drive instead of the system's (tests).
    explicit TLink(std::unique_ptr<ISerialDevice> device = nullptr);
    ~TLink() override;

    // Opens COM<port> as the panel does (resolved, locked, 9600 8N1, message framing). 0, or the system's
    // error code of the first step that failed: a line that could not be set up counts as not open.
    int Open(int port);
    // The device that the last Open found for its port number (kept when opening it failed), or empty.
    const std::string& DevicePath() const { return serial_.DevicePath(); }
    // Closes the port; what closing a lost device reports is forgotten.
    void Close();

    // Sends `frame` and waits until it has left the driver (closing drops what has not). 0 or the
    // system's error code.
    int Send(const std::string& frame);

    // Drops every message received so far, so the next one taken answers what is sent next.
    void Flush();

    // The first received message that `wanted` accepts, waiting up to `timeoutMs` (negative: no
    // limit); every message taken from the queue meanwhile goes to `seen` first. Nothing on time-out,
    // on a port failure (Error()) or on a signal (Signal()).
    std::optional<Received> Await(const std::function<bool(const std::string&)>& wanted, int timeoutMs,
                                  const std::function<void(const Received&)>& seen = {});

    // Waits until one of `fds` is readable or reports an error or hang-up (-1 stands for none), or
    // `timeoutMs` passed (negative: no limit). False on a signal.
    bool AwaitReadable(std::initializer_list<int> fds, int timeoutMs);

    qint64 NowNs() const { return clock_.nsecsElapsed(); }
    int Error() const { return error_; }
    int Signal() const { return signal_; }

private:
    void Wake();
    // Runs the event loop until Wake() or `ms` pass (negative: no limit).
    void RunFor(qint64 ms);

    TSerial serial_;
    QElapsedTimer clock_;
    std::deque<Received> inbox_;
    QEventLoop* waiting_ = nullptr;
    std::unique_ptr<TStopSignals> stops_;
    int error_ = 0;
    int signal_ = 0;
    bool drained_ = false; // the output queue ran empty since the last Send
};

} // namespace ctl
