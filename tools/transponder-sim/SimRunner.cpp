#include "SimRunner.h"

#include "DevicePort.h"
#include "MessageFramer.h"
#include "OutputSchedule.h"
#include "PortLink.h"
#include "PtyPort.h"
#include "TransponderModel.h"
#include "WireLog.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/signalfd.h>
#include <system_error>
#include <type_traits>
#include <unistd.h>

namespace sim {

namespace {

// While no client holds the line the master reports a hang-up at once on every poll, so it is looked
// at again on this period instead of being waited on. A client's first query waits at most this long.
constexpr std::chrono::milliseconds kNoClientRecheck{25};

// How long a line about to be dropped waits for the client to read what was sent to it.
constexpr std::chrono::milliseconds kDropLinger{1000};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

Nanos Now() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

// The log goes to stderr until stderr fails (a reader that went away: SIGPIPE is ignored): from then on
// nothing is logged, and the transponder goes on.
void Log(std::string_view direction, std::string_view bytes, std::string_view note = {}) {
    if (!std::cerr)
        return;
    std::cerr << LogLine(std::chrono::system_clock::now(), direction, bytes, note) << '\n';
}

void Note(const std::string& text) {
    if (!std::cerr)
        return;
    std::cerr << TimeOfDay(std::chrono::system_clock::now()) << " --- " << text << std::endl;
}

// The line is a pseudo-terminal's master (PtyPort) or a serial device (DevicePort); the link is optional
// for a device.
template <class Port> class Simulator {
public:
    Simulator(const SimOptions& options, Port& pty, PortLink* link, int signalFd)
        : options_(options), pty_(pty), link_(link), signalFd_(signalFd), schedule_(options.pace) {
        model_.IgnoreSets(options_.ignore);
        model_.EchoSets(options_.echoSets);
        if (options_.interrogationsHz > 0)
            interrogationPeriod_ = std::chrono::duration_cast<Nanos>(
                std::chrono::duration<double>(1.0 / options_.interrogationsHz));
        nextInterrogation_ = Now() + interrogationPeriod_;
    }

    int Run() {
        for (;;) {
            if (!WaitForWork())
                return 0;
            CheckClient();
            if (connected_)
                ReadFrames();
            Interrogate();
            if (!WriteDue())
                return 1;
            if (dropping_ && schedule_.Empty() && unwritten_.empty()) {
                // The last answer is part of the deal: let the client take it before the line goes.
                if (connected_ && !pty_.WaitUntilRead(kDropLinger))
                    Note("the client did not read the last answer");
                Note("dropping the line after " + std::to_string(framesIn_) + " frames, as an unplug does");
                pty_.Close();
                if (link_)
                    link_->Remove();
                return 0;
            }
        }
    }

private:
    // Sleeps until input, a due write or a signal; false when a stop signal arrived.
    bool WaitForWork() {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {pty_.Fd(), 0, 0}};
        nfds_t count = 1;
        std::optional<Nanos> wake;
        if (connected_) {
            fds[1].events = static_cast<short>((dropping_ ? 0 : POLLIN) | (unwritten_.empty() ? 0 : POLLOUT));
            count = 2;
            wake = schedule_.NextDue();
            if (interrogationPeriod_.count() > 0 && (!wake || nextInterrogation_ < *wake))
                wake = nextInterrogation_;
        } else {
            wake = Now() + kNoClientRecheck;
        }
        timespec timeout{};
        if (wake) {
            const Nanos left = std::max(Nanos{0}, *wake - Now());
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        }
        const int ready = ::ppoll(fds, count, wake ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "ppoll");
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            signalfd_siginfo info{};
            if (::read(signalFd_, &info, sizeof info) > 0)
                Note(std::string("stopped by ") + strsignal(static_cast<int>(info.ssi_signo)));
            return false;
        }
        return true;
    }

    void CheckClient() {
        const bool present = pty_.ClientPresent();
        if (!present) {
            // A client that wrote and closed before its frames were read (a command sent just before
            // closing the port): a transponder on a wire acts on what reached it all the same, but the
            // answers have no one to go to and must not reach the next client.
            if (const std::string left = pty_.TakeLeftInput(); !left.empty()) {
                Note("acting on " + std::to_string(left.size()) + " bytes written by a client that has gone");
                TMessageFramer framer;
                for (const char byte : left)
                    if (framer.Feed(byte, TFraming{}))
                        OnFrame(framer.Message(), false);
            }
        }
        if (present == connected_)
            return;
        connected_ = present;
        if (present) {
            Note("client opened the line");
            return;
        }
        // Whatever the last client left unread or unsaid must not reach the next one.
        if (!pty_.DiscardUnread())
            RenewLine();
        Note("client closed the line");
        schedule_.Clear();
        unwritten_.clear();
        framer_ = TMessageFramer{};
    }

    // A pseudo-terminal whose last client was killed holding it exclusively: a real device's claim ends
    // with its last user, a pty's stays with the pair. A new pair takes the link, as a replug would.
    void RenewLine() {
        if constexpr (std::is_same_v<Port, PtyPort>) {
            pty_.Renew();
            if (link_)
                link_->Retarget(pty_.SlavePath());
            Note("the client left the line claimed exclusively (killed?): a new line, " + pty_.SlavePath());
        }
    }

    void ReadFrames() {
        if (dropping_)
            return;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pty_.Fd(), buffer, sizeof buffer);
            if (n <= 0)
                return; // EAGAIN: all read; EIO or 0: the client left, seen on the next check
            for (ssize_t i = 0; i < n && !dropping_; ++i)
                if (framer_.Feed(buffer[i], TFraming{}))
                    OnFrame(framer_.Message());
        }
    }

    void OnFrame(const std::string& frame, bool answer = true) {
        Log("in", frame);
        ++framesIn_;
        const Nanos now = Now();
        const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
        if (const std::optional<std::string> reply = model_.Handle(frame, millis)) {
            if (!answer)
                Note("not answered, the client has gone: " + Printable(*reply));
            else if (Muted((*reply)[1]))
                Log("out", *reply, "(muted, not sent)");
            else
                Send(*reply, now + std::chrono::milliseconds(options_.delayMs));
        }
        if (options_.dropAfter > 0 && framesIn_ >= options_.dropAfter)
            dropping_ = true;
    }

    void Interrogate() {
        if (interrogationPeriod_.count() <= 0)
            return;
        const Nanos now = Now();
        if (now < nextInterrogation_)
            return;
        // Keep the rhythm, but after a long stall start it anew instead of sending a burst.
        nextInterrogation_ += interrogationPeriod_;
        if (nextInterrogation_ <= now)
            nextInterrogation_ = now + interrogationPeriod_;
        if (connected_ && !dropping_ && model_.Interrogable() && !Muted('*'))
            Send(TransponderModel::InterrogationFrame(), now);
    }

    void Send(std::string frame, Nanos readyAt) {
        if (options_.garbage)
            schedule_.Push(Noise(), readyAt, true);
        schedule_.Push(std::move(frame), readyAt);
    }

    // A few bytes of line noise, anything but STX so no frame starts in it.
    std::string Noise() {
        std::uniform_int_distribution<int> length(1, 6);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string noise(static_cast<std::size_t>(length(random_)), '\0');
        for (char& c : noise) {
            do
                c = static_cast<char>(byte(random_));
            while (c == 0x02);
        }
        return noise;
    }

    bool Muted(char letter) const { return options_.mute.find(letter) != std::string::npos; }

    // Writes what is due; false when the line failed for good.
    bool WriteDue() {
        if (!connected_) {
            schedule_.Clear();
            return true;
        }
        OutputSchedule::Batch batch = schedule_.TakeDue(Now());
        for (const auto& sent : batch.completed)
            Log("out", sent.bytes, sent.garbage ? "(noise)" : "");
        unwritten_ += batch.bytes;
        while (!unwritten_.empty()) {
            const ssize_t n = pty_.Write(unwritten_.data(), unwritten_.size());
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return true; // the client is not reading; POLLOUT brings us back
                if (errno == EIO)
                    return true; // the client left; the next check clears up
                Note(std::string("write: ") + std::strerror(errno));
                return false;
            }
            unwritten_.erase(0, static_cast<std::size_t>(n));
        }
        return true;
    }

    const SimOptions& options_;
    Port& pty_;
    PortLink* link_;
    int signalFd_;
    TransponderModel model_;
    OutputSchedule schedule_;
    TMessageFramer framer_;
    std::string unwritten_;
    std::minstd_rand random_{20240607};
    Nanos interrogationPeriod_{0};
    Nanos nextInterrogation_{0};
    long long framesIn_ = 0;
    bool connected_ = false;
    bool dropping_ = false;
};

} // namespace

void BlockStopSignals() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A log reader that goes away stops the log, not the simulator (which would leave its link behind).
    std::signal(SIGPIPE, SIG_IGN);
}

int RunSimulator(const SimOptions& options, const std::string& linkPath, bool makeFolder) {
    const sigset_t set = StopSignals();
    const int signalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::cerr << "transponder-sim: signalfd: " << std::strerror(errno) << '\n';
        return 1;
    }
    try {
        int code = 0;
        if (!options.device.empty()) {
            DevicePort device(options.device);
            std::optional<PortLink> link;
            if (options.linkAsked)
                link.emplace(linkPath, device.Path(), options.replace, makeFolder);
            Note("transponder on " + device.Path() + (link ? ", linked as " + link->Path() : ""));
            code = Simulator<DevicePort>(options, device, link ? &*link : nullptr, signalFd).Run();
        } else {
            PtyPort pty;
            PortLink link(linkPath, pty.SlavePath(), options.replace, makeFolder);
            Note("transponder on " + pty.SlavePath() + ", linked as " + link.Path());
            code = Simulator<PtyPort>(options, pty, &link, signalFd).Run();
        }
        ::close(signalFd);
        return code;
    } catch (const std::exception& e) {
        std::cerr << "transponder-sim: " << e.what() << '\n';
        ::close(signalFd);
        return 1;
    }
}

} // namespace sim
