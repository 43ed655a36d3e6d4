// The panel's start-up: application object, main window, event loop.
#include "Application.h"
#include "uavMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    TApplication app(qapp);
    Application->Initialize();
    try {
        Application->CreateForm(Form1);
    } catch (const std::exception& e) {
        // Nothing guards the window's construction: the last-resort report, then exit code 1.
        Application->ShowFatalError(e);
        return 1;
    }
    return Application->Run();
}
