#pragma once
// Waiting in tests by running a real event loop, one that blocks between events as the program's does, so
// timers, calls handed over by worker threads and the idle hook all run as they would for an operator.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

// Runs the loop until `done` holds or `limitMs` passes; returns whether it held. The limit is a generous
// safety net, never the thing under test.
inline bool RunUntil(const std::function<bool()>& done, int limitMs = 5000) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > limitMs)
            loop.quit();
    });
    poll.start(2);
    loop.exec();
    return done();
}

// Runs the loop for a while.
inline void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
