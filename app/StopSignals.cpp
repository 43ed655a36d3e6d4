#include "StopSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the handler, which may run on any thread at any moment: a lock-free atomic is safe there.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(wakeFd.load(), &byte, 1); // a full pipe already holds a request
    errno = saved;
}

} // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    wakeFd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this, onStop = std::move(onStop)] {
        char bytes[64];
        while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
        }
        onStop();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted: a read, write or lock wait of another thread that the signal happens to land on goes on;
    // a poll() it interrupts still returns EINTR, which the program's waits take as a spurious wake-up.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 || previous_[i].sa_handler == SIG_IGN)
            continue;
        installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

TStopSignals::~TStopSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (installed_[i])
            ::sigaction(kSignals[i], &previous_[i], nullptr);
    wakeFd = -1;
    delete notifier_;
    for (const int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}
