#include "StopSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

static_assert(StopSignal::Hangup == SIGHUP && StopSignal::Interrupt == SIGINT &&
              StopSignal::Terminate == SIGTERM);

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, which may run on any thread at any moment: a lock-free atomic is safe there.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// The handler only writes the signal's number into a pipe; the event loop, woken by the pipe, does the rest.
extern "C" void OnStopSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    (void)!::write(wakeFd.load(), &byte, 1); // a full pipe already holds a request
    errno = saved;
}

} // namespace

struct TStopSignals::TBackend {
    int pipe[2] = {-1, -1};
    QSocketNotifier* notifier = nullptr;
    struct sigaction previous[std::size(kSignals)] = {};
    bool installed[std::size(kSignals)] = {};
};

TStopSignals::TStopSignals(std::function<void(int)> onStop) : backend_(std::make_unique<TBackend>()) {
    TBackend& b = *backend_;
    if (::pipe2(b.pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    wakeFd = b.pipe[1];
    b.notifier = new QSocketNotifier(b.pipe[0], QSocketNotifier::Read, this);
    connect(b.notifier, &QSocketNotifier::activated, this, [this, onStop = std::move(onStop)] {
        unsigned char bytes[64];
        int first = 0;
        for (ssize_t n; (n = ::read(backend_->pipe[0], bytes, sizeof bytes)) > 0;)
            first = first ? first : bytes[0];
        if (first)
            onStop(first);
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted: a read, write or lock wait of another thread that the signal happens to land on goes on;
    // a poll() it interrupts still returns EINTR, which the program's waits take as a spurious wake-up.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], nullptr, &b.previous[i]) != 0 || b.previous[i].sa_handler == SIG_IGN)
            continue;
        b.installed[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

TStopSignals::~TStopSignals() {
    TBackend& b = *backend_;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (b.installed[i])
            ::sigaction(kSignals[i], &b.previous[i], nullptr);
    wakeFd = -1;
    delete b.notifier;
    for (const int fd : b.pipe)
        if (fd >= 0)
            ::close(fd);
}

void TStopSignals::SetOnSessionEnd(std::function<void()>) {}

void EndBySignal(int signo) {
    std::signal(signo, SIG_DFL);
    std::raise(signo);
    std::_Exit(128 + signo); // a signal blocked here still ends the run with its status
}
