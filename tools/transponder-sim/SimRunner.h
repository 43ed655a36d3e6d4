#pragma once
// The simulator's input/output loop: the pseudo-terminal, the link, signals and time around the
// transponder model. Single-threaded; it sleeps in ppoll() until a byte, a due write or a signal.
#include "SimOptions.h"

#include <string>

namespace sim {

// Runs until SIGINT, SIGTERM or SIGHUP (exit code 0, link removed) or until the line is dropped by
// --drop-after (also 0). Failures, in the setup or a write to the line that fails for good, are reported
// on stderr and give 1, the link removed as well. `makeFolder`: the link's folder is made when missing.
// Expects BlockStopSignals to have been called, so no stop signal is lost before the loop waits.
int RunSimulator(const SimOptions& options, const std::string& linkPath, bool makeFolder = false);

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, for the loop to take them, and ignores SIGPIPE.
void BlockStopSignals();

} // namespace sim
