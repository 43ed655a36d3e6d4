#include "Synchronize.h"

#include "CoreApplication.h"
#include "PostedEvents.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <utility>

struct TSyncChannel::Pending {
    std::function<void()> fn;
    std::exception_ptr error;
    bool done = false;      // fn has returned
    bool abandoned = false; // the caller stopped waiting: skip it if not started
};

namespace {

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CallEvent final : public QEvent {
public:
    explicit CallEvent(std::function<void()> run) : QEvent(kCallEvent), run_(std::move(run)) {}
    void Run() { run_(); }

private:
    std::function<void()> run_;
};

} // namespace

// The receiver lives on the UI thread and runs each posted call.
class SyncCallReceiver final : public QObject {
public:
    // By the thread's own id: QThread::currentThread() would make a worker one of Qt's adopted threads, and
    // on Windows Qt then starts a watcher thread that ends when the worker does, racing the program's exit
    // (Wine's process was seen to die by SIGSEGV in that race).
    bool OnItsThread() const { return QThread::currentThreadId() == thread_; }

    bool event(QEvent* e) override {
        TakePostedEvent(e);
        if (e->type() == kCallEvent) {
            static_cast<CallEvent*>(e)->Run();
            return true;
        }
        return QObject::event(e);
    }

private:
    const Qt::HANDLE thread_ = QThread::currentThreadId();
};

namespace {

bool OnUiThread(const SyncCallReceiver* receiver) {
    if (receiver)
        return receiver->OnItsThread();
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

std::unique_ptr<QObject> MakeSyncCallReceiver() {
    return std::make_unique<SyncCallReceiver>();
}

TSyncChannel::~TSyncChannel() {
    Cancel();
}

TSyncChannel::Result TSyncChannel::Call(std::function<void()> fn) {
    TCoreApplication* app = TCoreApplication::Instance();
    QObject* receiver = app ? app->CallReceiver() : nullptr;
    if (OnUiThread(static_cast<const SyncCallReceiver*>(receiver))) {
        fn();
        return Result::Ran;
    }
    auto pending = std::make_shared<Pending>();
    pending->fn = std::move(fn);
    auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled || !receiver)
            return Result::Cancelled;
    }
    auto run = [state, pending]() {
        {
            std::lock_guard lock(state->mutex);
            if (pending->abandoned)
                return;
        }
        try {
            pending->fn();
        } catch (...) {
            pending->error = std::current_exception();
        }
        {
            std::lock_guard lock(state->mutex);
            pending->done = true;
        }
        state->wake.notify_all();
    };
    PostAcrossThreads(receiver, new CallEvent(std::move(run)));
    std::unique_lock lock(state->mutex);
    state->wake.wait(lock, [&] { return pending->done || state->cancelled; });
    if (!pending->done) {
        pending->abandoned = true;
        return Result::Cancelled;
    }
    // Take the error over before letting go of the lock, so the UI thread never holds the last reference:
    // the C++ runtime counts exception references in code ThreadSanitizer cannot see, and a release there
    // racing this thread's use of the exception would be reported as a data race.
    const std::exception_ptr error = std::exchange(pending->error, nullptr);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
    return Result::Ran;
}

void TSyncChannel::Cancel() {
    {
        std::lock_guard lock(state_->mutex);
        state_->cancelled = true;
    }
    state_->wake.notify_all();
}

void TSyncChannel::Reset() {
    std::lock_guard lock(state_->mutex);
    state_->cancelled = false;
}

bool TSyncChannel::Cancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}
