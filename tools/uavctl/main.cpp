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
#include "StandardStreams.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>

namespace {

// Standard output was closed at the start; it now leads to the null device, which would swallow the report.
bool g_outputClosed = false;

void PrintErrors(const ctl::Outcome& outcome) {
    for (const std::string& error : outcome.errors)
        std::fprintf(stderr, "uavctl: %s\n", error.c_str());
}

// `exit`, unless standard output did not take `text`: a script that trusts the exit code must not take
// a missing or cut report for a result.
int Emit(const std::string& text, int exit) {
    if (const int code = g_outputClosed && !text.empty() ? EBADF : ctl::WriteOut(text, stdout)) {
        std::fprintf(stderr, "uavctl: %s\n", ctl::OutputFailure(code).c_str());
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

std::string SignalName(int signal) {
    switch (signal) {
    case StopSignal::Interrupt:
        return "SIGINT";
    case StopSignal::Terminate:
        return "SIGTERM";
    case StopSignal::Hangup:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(signal);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace ctl;
    // A closed standard output would otherwise become the event loop's descriptor and take the report.
    g_outputClosed = KeepStandardStreams().output;
    const ParsedArgs parsed = ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.request) {
        std::fprintf(stderr, "uavctl: %s\nTry 'uavctl --help'.\n", parsed.error.c_str());
        return kExitUsage;
    }
    const Request& request = *parsed.request;
    // A closed output shows as a failed write, not as death with the port still claimed.
    FailWritesToClosedPipes();
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
    if (request.verb == Verb::Watch && g_outputClosed) {
        // It would print every message to nobody, holding the port meanwhile.
        Fail(outcome, kExitOutput, OutputFailure(EBADF));
        return Print(outcome, false);
    }
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
    if (signal) {
        // Interrupted: the report says so, and the run ends as the signal would have ended it, so a calling
        // shell loop stops too and sees the same 128 + N as the report's "exit".
        Fail(outcome, 128 + signal, "interrupted by " + SignalName(signal));
        Print(outcome, request.json);
        EndBySignal(signal);
    }
    return Print(outcome, request.json);
}
