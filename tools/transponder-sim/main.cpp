// transponder-sim: a transponder on a pseudo-terminal, for trying the panel without the hardware.
#include "SimOptions.h"
#include "SimRunner.h"
#include "StandardStreams.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    // A closed standard error would otherwise become the line itself, and the log would go to the client.
    KeepStandardStreams();
    // Blocked before anything else, so a stop signal is never lost: the loop takes it from a signalfd.
    // SIGPIPE is ignored from here on.
    sim::BlockStopSignals();
    const sim::ParseResult parsed = sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "transponder-sim: " << parsed.error << "\nTry 'transponder-sim --help'.\n";
        return 2;
    }
    if (parsed.options->help) {
        // A help text that did not arrive (a full disk) is a failure, as it is for uavctl and the panel.
        if (!(std::cout << sim::HelpText() << std::flush)) {
            std::cerr << "transponder-sim: cannot write to standard output: " << std::strerror(errno) << '\n';
            return 1;
        }
        return 0;
    }
    const char* ports = std::getenv("UAVCONTROL_PORTS");
    return sim::RunSimulator(*parsed.options, sim::LinkPathFor(*parsed.options, ports, std::getenv("HOME")),
                             sim::MayMakeLinkFolder(*parsed.options, ports));
}
