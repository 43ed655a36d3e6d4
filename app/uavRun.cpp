#include "uavRun.h"

#include "Application.h"
#include "StopSignals.h"
#include "TrafficLog.h"
#include "_KxProc.h"
#include "uavMain.h"

#include <QApplication>

namespace {

int RunWindow(int& argc, char** argv, const std::function<void(TForm1&)>& started) {
    QApplication qapp(argc, argv);
    // SIGTERM, SIGINT and SIGHUP take the way File > Exit takes. Made before the application object, so a
    // signal while the window is being taken down is not left to kill the program halfway.
    TStopSignals stopSignals([](int) {
        if (Application && !Application->Terminated() && Form1)
            Form1->Exit1->trigger();
        // A box runs an event loop of its own, which closing the window does not end (and a box with no
        // window under it keeps the program from quitting when the window closes): every loop running now
        // ends, so the box up now and any put up before the main loop has ended close at once. A signal
        // while the window is being taken down ends the box then up.
        QCoreApplication::exit(0);
    });
    TApplication app(qapp);
    Application->Initialize();
    try {
        Application->CreateForm(Form1);
    } catch (const std::exception& e) {
        // Nothing guards the window's construction: the last-resort report, then exit code 1.
        Application->ShowFatalError(e);
        return 1;
    }
    if (started)
        started(*Form1);
    // Windows may end the program as soon as it has been told: the port is closed and logged now rather
    // than when the window goes, and the log's last lines go out (the log outlives the window).
    stopSignals.SetOnSessionEnd([log = Form1->TrafficLog()] {
        if (Form1)
            Form1->CloseLine();
        if (log)
            log->Close();
    });
    // On the way out the application object goes first, and it destroys the main window it owns before
    // itself; the toolkit's application object goes last.
    return Application->Run();
}

} // namespace

int RunUavControl(int& argc, char** argv, const std::function<void(TForm1&)>& started) {
    const int code = RunWindow(argc, argv, started);
    StopFlashTimer();
    return code;
}
