// uavctl: the transponder from scripts and over ssh, on the panel's protocol and serial libraries.
#include "CoreApplication.h"
#include "CtlArgs.h"
#include "CtlCommands.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "CtlProfile.h"
#include "CtlReconnect.h"
#include "DeviceControl.h"
#include "OpenFailureHint.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

void PrintErrors(const ctl::Outcome& outcome) {
    for (const std::string& error : outcome.errors)
        std::fprintf(stderr, "uavctl: %s\n", error.c_str());
}

// `exit`, unless standard output did not take `text`: a script that trusts the exit code must not take
// a missing or cut report for a result.
int Emit(const std::string& text, int exit) {
    if (const int code = ctl::WriteOut(text, stdout)) {
        std::fprintf(stderr, "uavctl: standard output: %s\n", SystemErrorText(code).c_str());
        return ctl::kExitOutput;
    }
    return exit;
}

int Print(const ctl::Outcome& outcome, bool json) {
    PrintErrors(outcome);
    return Emit(json ? ctl::JsonOf(outcome) : ctl::TextOf(outcome), outcome.exit);
}

// The port map the user named, when it cannot serve: no port is opened by position instead.
std::string PortMapFault(const TPortRoots& roots) {
    if (!roots.MapError)
        return {};
    const std::string why =
        roots.MapError == EINVAL ? "not an absolute path" : SystemErrorText(roots.MapError);
    return "the port-map folder UAVCONTROL_PORTS=" + roots.MapDir + ": " + why;
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
    // A closed output shows as a failed write, not as death with the port still claimed.
    std::signal(SIGPIPE, SIG_IGN);
    if (request.verb == Verb::Help)
        return Emit(UsageText(), kExitOk);
    if (request.verb == Verb::Version)
        return Emit(std::string("uavctl ") + UAVCTL_VERSION + "\n", kExitOk);

    std::vector<Setting> profile;
    if (request.verb == Verb::Apply) {
        const ParsedProfile parsedProfile = ReadProfile(request.file);
        if (!parsedProfile.error.empty()) {
            std::fprintf(stderr, "uavctl: apply: %s: %s\n", request.file.c_str(),
                         parsedProfile.error.c_str());
            return kExitUsage;
        }
        profile = parsedProfile.settings;
    }

    Outcome outcome;
    outcome.command = VerbName(request.verb);
    const TPortRoots roots = TPortRoots::FromEnvironment();
    if (const std::string fault = PortMapFault(roots); !fault.empty()) {
        Fail(outcome, kExitPort, fault);
        return Print(outcome, request.json);
    }
    if (request.verb == Verb::Ports) {
        outcome.ports = ListComPorts(roots);
        outcome.portMap = roots.MapDir;
        return Print(outcome, request.json);
    }

    QCoreApplication app(argc, argv);
    TCoreApplication application(app);
    // Nothing here has a window: what would be a box in the panel is a line on standard error.
    application.SetErrorSink(
        [](const QString& text) { std::fprintf(stderr, "uavctl: %s\n", text.toLocal8Bit().constData()); });

    int signal = 0;
    {
        TLink link;
        outcome.port = request.port;
        const int code = request.reconnect ? OpenWhenThere(link, request, outcome.device, stdout)
                                           : link.Open(request.port);
        outcome.device = link.DevicePath();
        if (code > 0) {
            const std::string where = outcome.device.empty() ? "" : " (" + outcome.device + ")";
            Fail(outcome, kExitPort,
                 ComPortName(static_cast<sPorts>(request.port)) + where + ": " +
                     ExplainOpenFailure(code, outcome.device, roots));
        } else if (code == 0) {
            RunCommand(request, profile, link, outcome, stdout);
        }
        signal = link.Signal();
    } // the port is closed and its lock released here, whatever ends the run

    if (request.verb == Verb::Watch) {
        // Its messages went out as they came; only the errors are left.
        PrintErrors(outcome);
        return outcome.exit;
    }
    const int exit = Print(outcome, request.json);
    if (signal) {
        // Interrupted: end as the signal would have, so a calling shell loop stops too.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return exit;
}
