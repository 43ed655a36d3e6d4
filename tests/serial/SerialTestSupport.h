#pragma once
// Helpers of the serial tests: an application object with recorded message boxes, and RunUntil, which
// keeps the user-interface thread's event loop running (handlers are delivered through it).
#include "Application.h"
#include "RecordedBoxes.h"
#include "RunUntil.h"

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
