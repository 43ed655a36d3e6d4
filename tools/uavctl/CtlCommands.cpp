#include "CtlCommands.h"

#include "CtlLink.h"
#include "CtlReconnect.h"
#include "DeviceControl.h"
#include "ReplyDecoder.h"
#include "StandardStreams.h"
#include "TransponderFrames.h"

#include <QDateTime>
#include <algorithm>
#include <cerrno>

namespace ctl {

namespace {

std::function<bool(const std::string&)> LetterIs(char letter) {
    return [letter](const std::string& message) {
        const auto reply = proto::ParseReply(message);
        return reply && reply->letter == letter;
    };
}

// Without STX and ETX, as people write a frame: "c=?".
std::string Shown(const std::string& frame) {
    return Printable(frame.size() >= 2 ? std::string_view(frame).substr(1, frame.size() - 2) : frame);
}

class Runner {
public:
    Runner(const Request& request, TLink& link, Outcome& outcome)
        : request_(request), link_(link), outcome_(outcome) {}

    // False when the port failed; the failure is recorded. Whatever arrived before the frame goes out is
    // no answer to it.
    bool Send(const std::string& frame) {
        link_.Flush();
        if (link_.Send(frame) != 0) {
            Stopped(); // records the port's failure
            return false;
        }
        return true;
    }

    // The answer, or nothing; a time-out is recorded as no answer to `asked`.
    std::optional<Received> Await(const std::function<bool(const std::string&)>& wanted,
                                  const std::string& asked,
                                  const std::function<void(const Received&)>& seen = {}) {
        auto got = link_.Await(wanted, request_.timeoutMs, seen);
        if (!got && !Stopped())
            Fail(outcome_, kExitNoAnswer,
                 "no answer to " + asked + " within " + std::to_string(request_.timeoutMs) + " ms");
        return got;
    }

    bool Stopped() {
        if (link_.Error() && !portFailed_) {
            portFailed_ = true;
            Fail(outcome_, kExitPort,
                 ComPortName(static_cast<sPorts>(request_.port)) + ": " + SystemErrorText(link_.Error()));
        }
        return link_.Error() || link_.Signal();
    }

    std::optional<proto::Reply> Query(char letter) {
        const std::string frame = proto::Query(letter);
        if (!Send(frame))
            return std::nullopt;
        const auto got = Await(LetterIs(letter), Shown(frame));
        return got ? proto::ParseReply(got->message) : std::nullopt;
    }

    // Sends the setting, reads it back and records the row; false when the run must stop.
    //
    // Answers carry no sequence number, and the transponder answers a set too, possibly long after it was
    // sent and possibly with the value asked for rather than the one in force. So the query goes out only
    // once the set's own answer is in: the transponder answers in order, and what comes next with that
    // letter can only answer the query. A set left unanswered within the time-out is not queried, since
    // its late answer could not be told from the query's.
    bool SetAndVerify(const Setting& setting) {
        SettingRow row{setting.name, setting.value, std::nullopt};
        // From here the transponder may have taken the value: a row is recorded whatever follows.
        const auto record = [&](bool verified) {
            row.verified = verified;
            outcome_.settings.push_back(row);
        };
        const std::string frame = SetFrame(setting);
        if (!Send(frame)) {
            record(false);
            return false;
        }
        if (!Await(LetterIs(setting.letter), Shown(frame))) {
            record(false);
            return !Stopped();
        }
        const auto reply = Query(setting.letter);
        if (!reply && Stopped()) {
            record(false);
            return false;
        }
        if (reply)
            row.read = ReadBackWord(setting, *reply);
        record(true);
        if (row.read && !row.ok())
            Fail(outcome_, kExitMismatch,
                 setting.name + ": wanted " + row.wanted + ", read back " + Printable(*row.read));
        return true;
    }

    void Get() {
        for (const char letter : request_.letters) {
            const auto reply = Query(letter);
            if (!reply && Stopped())
                return;
            outcome_.values.push_back({letter, reply ? std::optional(reply->value) : std::nullopt});
            if (Stopped())
                return;
        }
    }

    void Set() {
        if (!request_.verify) {
            Send(SetFrame(*request_.setting));
            return;
        }
        SetAndVerify(*request_.setting);
    }

    void Ping() {
        const qint64 start = link_.NowNs();
        if (!Send(proto::PingFrame()))
            return;
        const auto got = Await(
            [](const std::string& message) {
                const auto reply = proto::ParseReply(message);
                return reply && reply->letter == 'p' && reply->first == 'Y';
            },
            "p=y (waiting for p=Y)");
        if (got)
            outcome_.rttMs = static_cast<double>(got->atNs - start) / 1e6;
    }

    void Send() {
        const std::string frame = proto::ConsoleFrame(request_.text);
        outcome_.sent = frame;
        if (!Send(frame))
            return;
        if (const auto got = Await([](const std::string&) { return true; }, Printable(frame)))
            outcome_.received = got->message;
    }

    void Watch(std::FILE* live) {
        // Ends at a signal, or when its output fails: quietly when the reader has gone
        // (`uavctl watch | head`), with the reason otherwise (a full disk).
        int outputError = 0;
        const auto print = [&](const std::string& line) {
            if (!outputError)
                outputError = WriteOut(line, live);
        };
        const auto now = [] { return LocalTimestamp(QDateTime::currentMSecsSinceEpoch()); };
        std::string device = outcome_.device;
        // The adapter first opened is the one watched: another that takes its number meanwhile is not it.
        const TPortIdentity adapter = ReadPortIdentity(device, TPortRoots::FromEnvironment());
        for (;;) {
            link_.Await([&](const std::string&) { return outputError != 0; }, -1,
                        [&](const Received& r) { print(WatchLine(now(), r.message, request_.json)); });
            if (!request_.reconnect || outputError || link_.Signal() || !link_.Error())
                break;
            print(WatchEventLine(now(), "lost", request_.port, device, SystemErrorText(link_.Error()),
                                 request_.json));
            if (outputError)
                break;
            if (ReopenWhenBack(link_, request_.port, adapter, live) != Reopened::Yes)
                return; // a signal, or a reader that went: either ends a watch with 0
            device = link_.DevicePath();
            print(WatchEventLine(now(), "reopened", request_.port, device, "", request_.json));
            if (outputError)
                break; // the wait for the next message would hold the port until one comes
        }
        if (outputError && !ReaderHasGone(outputError))
            Fail(outcome_, kExitOutput, OutputFailure(outputError));
        Stopped();
    }

    void Apply(const std::vector<Setting>& profile) {
        for (const Setting& setting : profile)
            if (!SetAndVerify(setting))
                return;
    }

private:
    const Request& request_;
    TLink& link_;
    Outcome& outcome_;
    bool portFailed_ = false;
};

} // namespace

int WriteOut(const std::string& text, std::FILE* out) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0)
        return errno ? errno : EIO;
    return 0;
}

std::string OutputFailure(int code) {
    // EBADF: standard output was closed at the start (it leads to the null device since).
    return "standard output: " + (code == EBADF ? std::string("closed") : ErrnoText(code));
}

void Fail(Outcome& outcome, int exitCode, std::string text) {
    outcome.errors.push_back(std::move(text));
    outcome.exit = std::max(outcome.exit, exitCode);
}

void RunCommand(const Request& request, const std::vector<Setting>& profile, TLink& link, Outcome& outcome,
                std::FILE* live) {
    Runner run(request, link, outcome);
    switch (request.verb) {
    case Verb::Get:
        run.Get();
        break;
    case Verb::Set:
        run.Set();
        break;
    case Verb::Spi:
        run.Send(proto::IdentFrame());
        break;
    case Verb::Ping:
        run.Ping();
        break;
    case Verb::Send:
        run.Send();
        break;
    case Verb::Watch:
        run.Watch(live);
        break;
    case Verb::Apply:
        run.Apply(profile);
        break;
    default:
        break;
    }
}

} // namespace ctl
