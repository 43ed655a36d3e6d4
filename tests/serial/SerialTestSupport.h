#pragma once
// Helpers of the serial tests: an application object with recorded message boxes, and a wait that keeps
// the user-interface thread's event loop running (handlers are delivered through it).
#include "Application.h"
#include "RecordedBoxes.h"

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Creates the application object (once per test) with recorded boxes.
class TSerialAppFixture {
public:
    TSerialAppFixture() : app_(std::make_unique<TApplication>(*qApp)) { app_->SetMessageBoxService(&boxes); }
    ~TSerialAppFixture() { app_->SetMessageBoxService(nullptr); }
    RecordedBoxes boxes;

private:
    std::unique_ptr<TApplication> app_;
};

// Runs the event loop until `done` holds or `limitMs` passes; returns whether it held. The limit is a
// generous safety net, never the thing under test.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
