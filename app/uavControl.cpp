// The panel's start-up: command line, application object, main window, event loop.
#include "Application.h"
#include "CommandLine.h"
#include "uavMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Before the application object: --help, --version and mistakes need no display and open no window.
    TCommandLine options;
    if (const std::optional<int> code = options.Parse(argc, argv))
        return *code;
    QApplication qapp(argc, argv);
    TApplication app(qapp);
    options.Attach(app);
    Application->Initialize();
    try {
        Application->CreateForm(Form1);
    } catch (const std::exception& e) {
        // Nothing guards the window's construction: the last-resort report, then exit code 1.
        Application->ShowFatalError(e);
        return 1;
    }
    options.Apply(*Form1);
    return Application->Run();
}
