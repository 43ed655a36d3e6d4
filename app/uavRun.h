#pragma once
// The program's life from start-up to shutdown, apart from main so tests can run the very same path.
#include <functional>

class TForm1;

// Creates the application object and the main window, runs `started` (if any) once the window exists,
// shows it and runs the event loop. When the loop ends the main window is destroyed before the
// application object (its port closed, its event thread joined), and the flash clock is stopped, so no
// thread of the program outlives this call. SIGTERM, SIGINT and SIGHUP close the window as File > Exit does,
// whatever box is up.
// Returns the exit code: 0 after a normal close, 1 when the window could not be built.
int RunUavControl(int& argc, char** argv, const std::function<void(TForm1&)>& started = {});
