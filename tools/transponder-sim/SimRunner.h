#pragma once
// The simulator's input/output loop: the pseudo-terminal, the link, signals and time around the
// transponder model. Single-threaded; it sleeps in ppoll() until a byte, a due write or a signal.
#include "SimOptions.h"

#include <string>

namespace sim {

// Runs until SIGINT, SIGTERM or SIGHUP (exit code 0, link removed) or until the line is dropped by
// --drop-after (also 0). Setup failures are reported on stderr and give 1. Expects SIGINT, SIGTERM and
// SIGHUP to be blocked in the calling thread (BlockStopSignals) so none is lost before the loop waits.
int RunSimulator(const SimOptions& options, const std::string& linkPath);

void BlockStopSignals();

} // namespace sim
