// The panel's start-up: application object, main window, event loop (see uavRun.h).
#include "uavRun.h"

int main(int argc, char* argv[]) {
    return RunUavControl(argc, argv);
}
