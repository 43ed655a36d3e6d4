// transponder-sim: a transponder on a pseudo-terminal, for trying the panel without the hardware.
#include "SimOptions.h"
#include "SimRunner.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    // Blocked before anything else, so a stop signal is never lost: the loop takes it from a signalfd.
    sim::BlockStopSignals();
    const sim::ParseResult parsed = sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "transponder-sim: " << parsed.error << "\nTry 'transponder-sim --help'.\n";
        return 2;
    }
    if (parsed.options->help) {
        std::cout << sim::HelpText();
        return 0;
    }
    return sim::RunSimulator(
        *parsed.options,
        sim::LinkPathFor(*parsed.options, std::getenv("UAVCONTROL_PORTS"), std::getenv("HOME")));
}
