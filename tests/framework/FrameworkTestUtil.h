#pragma once
// The framework tests' helpers: recorded message boxes and waits that run a real event loop.
#include "Application.h"
#include "RecordedBoxes.h"
#include "RunUntil.h"

#include <QApplication>
#include <QCoreApplication>
