// The panel's start-up: command line, then application object, main window and event loop (see uavRun.h).
#include "Application.h"
#include "CommandLine.h"
#include "StandardStreams.h"
#include "uavRun.h"

int main(int argc, char* argv[]) {
    // --help and --version typed in a Windows console are answered there.
    UseParentConsole();
    // Before anything opens a file: a closed standard error would otherwise become the display connection.
    KeepStandardStreams();
    // A log that can no longer be written (a reader of its pipe or FIFO gone, a file over its size limit)
    // is reported once and logging stops; it never ends the program.
    FailWritesToClosedPipes();
    // Before the application object: --help, --version and mistakes need no display and open no window.
    // Declared first, so the traffic log outlives the window, whose teardown logs the disconnect.
    TCommandLine options;
    if (const std::optional<int> code = options.Parse(argc, argv))
        return *code;
    return RunUavControl(argc, argv, [&](TForm1& form) {
        options.Attach(*Application);
        options.Apply(form);
    });
}
