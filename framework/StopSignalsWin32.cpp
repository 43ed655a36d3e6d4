#include "StopSignals.h"

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

// The console's handler runs on a thread Windows starts for it: it hands the request to the event loop.
std::mutex receiverMutex;
QPointer<QObject> receiver;
std::function<void(int)>* handler = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    int signo = StopSignal::Terminate;
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)
        signo = StopSignal::Interrupt;
    else if (type == CTRL_CLOSE_EVENT)
        signo = StopSignal::Hangup;
    {
        std::lock_guard lock(receiverMutex);
        if (!receiver)
            return FALSE; // the default: the process ends
        QMetaObject::invokeMethod(
            receiver.data(),
            [signo] {
                if (handler)
                    (*handler)(signo);
            },
            Qt::QueuedConnection);
    }
    if (signo == StopSignal::Interrupt)
        return TRUE;
    // A closed console, a logoff or a shutdown ends the process as soon as this returns: the event loop is
    // given the time Windows allows to close the port and write its last lines, and the program's own exit
    // ends this wait sooner.
    Sleep(10000);
    return TRUE;
}

// A window program is told of a logoff or shutdown by a message to each of its windows, not by the console.
class TSessionEndFilter final : public QAbstractNativeEventFilter {
public:
    explicit TSessionEndFilter(TStopSignals::TBackend& backend) : backend_(backend) {}
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

private:
    TStopSignals::TBackend& backend_;
};

} // namespace

struct TStopSignals::TBackend {
    std::function<void(int)> onStop;
    std::function<void()> finish;
    bool ended = false;
    TSessionEndFilter filter{*this};
};

namespace {

bool TSessionEndFilter::nativeEventFilter(const QByteArray& type, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (type != "windows_generic_MSG" || msg->message != WM_ENDSESSION || !msg->wParam)
        return false;
    // Each window is told: the first does it all. The program may be ended once this returns.
    if (!backend_.ended) {
        backend_.ended = true;
        if (backend_.onStop)
            backend_.onStop(StopSignal::Terminate);
        if (backend_.finish)
            backend_.finish();
    }
    *result = 0;
    return true;
}

} // namespace

TStopSignals::TStopSignals(std::function<void(int)> onStop) : backend_(std::make_unique<TBackend>()) {
    backend_->onStop = std::move(onStop);
    std::lock_guard lock(receiverMutex);
    receiver = this;
    handler = &backend_->onStop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installNativeEventFilter(&backend_->filter);
}

TStopSignals::~TStopSignals() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(&backend_->filter);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    std::lock_guard lock(receiverMutex);
    receiver = nullptr;
    handler = nullptr;
}

void TStopSignals::SetOnSessionEnd(std::function<void()> finish) {
    backend_->finish = std::move(finish);
}

void EndBySignal(int signo) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(128 + signo));
}
