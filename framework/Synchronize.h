#pragma once
// Run-on-UI-thread for worker threads: the call is posted to the UI thread and the worker waits on a
// std::mutex + std::condition_variable until it has run (visible to ThreadSanitizer, unlike Qt's blocking
// queued calls). A channel can be cancelled, so an owner being closed or destroyed never deadlocks with
// its own worker parked in a call.
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TSyncChannel {
public:
    TSyncChannel() = default;
    ~TSyncChannel();
    TSyncChannel(const TSyncChannel&) = delete;
    TSyncChannel& operator=(const TSyncChannel&) = delete;

    enum class Result { Ran, Cancelled };

    // Runs `fn` on the UI thread and waits until it has returned. Called on the UI thread itself, it runs
    // `fn` at once. An exception raised by `fn` is caught on the UI thread (it never unwinds through the
    // toolkit) and rethrown here, in the caller's thread. Returns Cancelled without running `fn` when the
    // channel is cancelled before the UI thread took the call, or when it is cancelled while waiting
    // (then `fn` may still run later on the UI thread; it must own what it touches).
    Result Call(std::function<void()> fn);

    // Wakes every waiting caller with Cancelled; later calls return Cancelled at once until Reset().
    void Cancel();
    void Reset();
    bool Cancelled() const;

private:
    struct Pending;
    // Shared with calls still queued on the UI thread, so a channel may go while one is in flight.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool cancelled = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
