// A bare Qt Widgets window of the panel's size, built with the same Qt: what the panel's start-up and memory
// are measured against (bench/windows-panel). It opens and waits until it is closed.
//
// With `--round-trips N` it also does, N times a second, the least a polling panel's window does for one
// round trip, without a port: a worker thread hands the window two calls (the query taken by the device,
// then its reply), the reply repaints a caption and starts a 60 ms single-shot timer (the query delay),
// and a 5 s timer (the watchdog) counts meanwhile. Its CPU under Wine is the floor of Qt's event handling
// there, beside the panel's.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int roundTrips = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--round-trips") == 0)
            roundTrips = std::atoi(argv[i + 1]);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt Widgets"));
    window.resize(793, 597);
    auto* caption = new QLabel(&window);
    caption->setGeometry(20, 40, 120, 20);
    QTimer queryDelay;
    queryDelay.setSingleShot(true);
    queryDelay.setTimerType(Qt::PreciseTimer);
    queryDelay.setInterval(60);
    QObject::connect(&queryDelay, &QTimer::timeout, &window, [] {});
    // The poller's watchdog counts meanwhile, as the panel's does.
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watchdog, &QTimer::timeout, &window, [] {});
    window.show();

    std::atomic<bool> stop{false};
    std::thread worker;
    if (roundTrips > 0) {
        watchdog.start(5000);
        worker = std::thread([&, period = std::chrono::microseconds(1000000 / roundTrips)] {
            int replies = 0;
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                QMetaObject::invokeMethod(
                    &window, [] {}, Qt::QueuedConnection); // the query went out
                QThread::msleep(20);                       // MinGW's sleep_for was seen to hang
                QMetaObject::invokeMethod(
                    &window,
                    [&, n = ++replies] {
                        caption->setText(QString::number(n));
                        queryDelay.start();
                    },
                    Qt::QueuedConnection);
                next += period;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    next - std::chrono::steady_clock::now());
                if (left.count() > 0)
                    QThread::msleep(static_cast<unsigned long>(left.count()));
            }
        });
    }
    const int code = app.exec();
    stop = true;
    if (worker.joinable())
        worker.join();
    return code;
}
