// uavctl: the transponder from scripts and over ssh, on the panel's protocol and serial libraries.
#include "CoreApplication.h"
#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "CtlPorts.h"
#include "CtlProfile.h"
#include "DeviceControl.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

void Print(const ctl::Outcome& outcome, bool json) {
    for (const std::string& error : outcome.errors)
        std::fprintf(stderr, "uavctl: %s\n", error.c_str());
    const std::string out = json ? ctl::JsonOf(outcome) : ctl::TextOf(outcome);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    using namespace ctl;
    const ParsedArgs parsed = ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.request) {
        std::fprintf(stderr, "uavctl: %s\nTry 'uavctl --help'.\n", parsed.error.c_str());
        return kExitUsage;
    }
    const Request& request = *parsed.request;
    if (request.verb == Verb::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (request.verb == Verb::Version) {
        std::printf("uavctl %s\n", UAVCTL_VERSION);
        return kExitOk;
    }

    Outcome outcome;
    outcome.command = VerbName(request.verb);
    if (request.verb == Verb::Ports) {
        const TPortRoots roots = TPortRoots::FromEnvironment();
        outcome.ports = ListComPorts(roots);
        outcome.portMap = roots.MapDir;
        Print(outcome, request.json);
        return kExitOk;
    }

    std::vector<Setting> profile;
    if (request.verb == Verb::Apply) {
        std::ifstream in(request.file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        ParsedProfile parsedProfile;
        if (!in)
            parsedProfile.error = "cannot read it: " + SystemErrorText(errno);
        else
            parsedProfile = ParseProfile(text.str());
        if (!parsedProfile.error.empty()) {
            std::fprintf(stderr, "uavctl: apply: %s: %s\n", request.file.c_str(),
                         parsedProfile.error.c_str());
            return kExitUsage;
        }
        profile = std::move(parsedProfile.settings);
    }

    // A closed output shows as a failed write, not as death with the port still claimed.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    TCoreApplication application(app);
    // Nothing here has a window: what would be a box in the panel is a line on standard error.
    application.SetErrorSink(
        [](const QString& text) { std::fprintf(stderr, "uavctl: %s\n", text.toLocal8Bit().constData()); });

    int signal = 0;
    {
        TLink link;
        outcome.port = request.port;
        outcome.device = TLink::PathOf(request.port);
        if (const int code = link.Open(request.port)) {
            const std::string where = outcome.device.empty() ? "" : " (" + outcome.device + ")";
            Fail(outcome, kExitPort,
                 ComPortName(static_cast<sPorts>(request.port)) + where + ": " + SystemErrorText(code));
        } else {
            RunCommand(request, profile, link, outcome, stdout);
        }
        signal = link.Signal();
    } // the port is closed and its lock released here, whatever ends the run

    if (request.verb == Verb::Watch) {
        // Its messages went out as they came; only the errors are left.
        for (const std::string& error : outcome.errors)
            std::fprintf(stderr, "uavctl: %s\n", error.c_str());
        return outcome.exit;
    }
    Print(outcome, request.json);
    if (signal) {
        // Interrupted: end as the signal would have, so a calling shell loop stops too.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return outcome.exit;
}
