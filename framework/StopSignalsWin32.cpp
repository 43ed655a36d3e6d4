#include "StopSignals.h"

#include <windows.h>

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

} // namespace

struct TStopSignals::TBackend {
    std::function<void(int)> onStop;
};

TStopSignals::TStopSignals(std::function<void(int)> onStop) : backend_(std::make_unique<TBackend>()) {
    backend_->onStop = std::move(onStop);
    std::lock_guard lock(receiverMutex);
    receiver = this;
    handler = &backend_->onStop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

TStopSignals::~TStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    std::lock_guard lock(receiverMutex);
    receiver = nullptr;
    handler = nullptr;
}

void EndBySignal(int signo) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(128 + signo));
}
