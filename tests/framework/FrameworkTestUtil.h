#pragma once
#include "Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <vector>

// Answers message boxes without a modal loop and records what they said.
class RecordingBoxes : public IMessageBoxService {
public:
    struct Box {
        QString text, caption;
        unsigned flags;
    };
    int Show(const QString& text, const QString& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (during)
            during();
        return answer;
    }
    std::vector<Box> boxes;
    int answer = IDOK;
    std::function<void()> during;
};

// Runs a real event loop (one that waits, so the idle hook fires) until `done` or the deadline.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

// Runs a real event loop for a while.
inline void PumpFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
