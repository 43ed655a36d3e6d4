#pragma once
// The commands that talk to the transponder, each run on an open link and recorded in an outcome.
#include "CtlArgs.h"
#include "CtlOutput.h"

#include <cstdio>

namespace ctl {

class TLink;

// Runs `request` (not ports, help or version) on an open link. `profile` holds apply's settings.
// Watch prints each message to `live` as it comes; the rest is left in `outcome`.
void RunCommand(const Request& request, const std::vector<Setting>& profile, TLink& link, Outcome& outcome,
                std::FILE* live);

// Writes all of `text` and flushes it: 0, or the system's error code of the failure.
int WriteOut(const std::string& text, std::FILE* out);
// What a failure WriteOut returned says about standard output, as the error line puts it.
std::string OutputFailure(int code);

// Records a failure: its text, and the exit code unless a graver one is recorded already
// (port error over no answer over mismatch).
void Fail(Outcome& outcome, int exitCode, std::string text);

} // namespace ctl
