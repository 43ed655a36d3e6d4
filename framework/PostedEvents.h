#pragma once
// Posting an event from a worker thread to the UI thread. Qt hands the event over under its own lock, in
// libraries built without ThreadSanitizer, so TSan cannot see that the worker's writes (the event itself
// and all it carries) happen before the UI thread reads them, and now and then reports that as a race.
// The poster marks the event when posting; the first of our handlers to touch it on the UI thread marks
// it taken. Outside ThreadSanitizer builds both marks are empty.
#include <QCoreApplication>
#include <QEvent>

#if defined(__SANITIZE_THREAD__)
#define UAV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define UAV_THREAD_SANITIZER 1
#endif
#endif

#ifdef UAV_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Posts `event` (which Qt then owns) to `receiver` from any thread.
inline void PostAcrossThreads(QObject* receiver, QEvent* event) {
#ifdef UAV_THREAD_SANITIZER
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
}

// Call before reading an event that may have come from PostAcrossThreads.
inline void TakePostedEvent([[maybe_unused]] QEvent* event) {
#ifdef UAV_THREAD_SANITIZER
    __tsan_acquire(event);
#endif
}
