#include "SimOptions.h"

#include "OptionWords.h"

#include <charconv>
#include <cmath>

namespace sim {

namespace {

std::optional<double> RateOf(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value) || value < 0 || value > 1000)
        return std::nullopt;
    return value;
}

} // namespace

ParseResult ParseOptions(const std::vector<std::string>& args) {
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionWord option = SplitOption(args[i]);
        const std::string& name = option.name;
        auto value = [&] { return OptionValue(option, args, i); };
        auto fail = [&](const std::string& why) { return ParseResult{std::nullopt, name + ": " + why}; };

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--pace") {
            options.pace = true;
        } else if (name == "--garbage") {
            options.garbage = true;
        } else if (name == "--replace") {
            options.replace = true;
        } else if (name == "--echo-sets") {
            options.echoSets = true;
        } else if (name == "--com") {
            const auto v = value();
            const auto n = v ? PortNumberOption(*v) : std::nullopt;
            if (!n)
                return fail("expects a port number " + std::to_string(kLowestPortOption) + ".." +
                            std::to_string(kHighestPortOption) + " in decimal");
            options.com = *n;
            options.linkAsked = true;
        } else if (name == "--ports" || name == "--link" || name == "--device") {
            const auto v = value();
            if (!v || v->empty())
                return fail("expects a path");
            (name == "--ports"  ? options.portsDir
             : name == "--link" ? options.linkPath
                                : options.device) = *v;
            options.linkAsked = options.linkAsked || name != "--device";
        } else if (name == "--delay") {
            const auto v = value();
            const auto n = v ? DecimalOption(*v, 0, 600000) : std::nullopt;
            if (!n)
                return fail("expects milliseconds 0..600000");
            options.delayMs = *n;
        } else if (name == "--mute") {
            const auto v = value();
            if (!v)
                return fail("expects letters");
            options.mute = *v;
        } else if (name == "--ignore") {
            const auto v = value();
            if (!v)
                return fail("expects letters");
            options.ignore = *v;
        } else if (name == "--drop-after") {
            const auto v = value();
            const auto n = v ? DecimalOption(*v, 1, 2147483647) : std::nullopt;
            if (!n)
                return fail("expects a frame count of 1 or more");
            options.dropAfter = *n;
        } else if (name == "--interrogations") {
            const auto v = value();
            const auto hz = v ? RateOf(*v) : std::nullopt;
            if (!hz)
                return fail("expects a rate in Hz, 0..1000");
            options.interrogationsHz = *hz;
        } else {
            return ParseResult{std::nullopt, "unknown option " + args[i]};
        }
    }
    return ParseResult{options, {}};
}

std::string LinkPathFor(const SimOptions& options, const char* env, const char* home) {
    if (!options.linkPath.empty())
        return options.linkPath;
    std::string dir = options.portsDir;
    if (dir.empty() && env && *env)
        dir = env;
    if (dir.empty())
        dir = std::string(home && *home ? home : ".") + "/.config/uavcontrol/ports";
    return dir + "/com" + std::to_string(options.com);
}

bool MayMakeLinkFolder(const SimOptions& options, const char* env) {
    return options.linkPath.empty() && options.portsDir.empty() && !(env && *env);
}

std::string HelpText() {
    return R"(Usage: transponder-sim [options]

Plays a transponder on a pseudo-terminal and links its device as comN in the port-map folder, so the
control panel connects to it by port number.

  --com N             link as comN (N from 1 to 255, in decimal; default 1) in the port-map folder
  --ports DIR         port-map folder (default $UAVCONTROL_PORTS, else ~/.config/uavcontrol/ports)
  --link PATH         link exactly at PATH instead
  --replace           take over a link that leads to a live device (another simulator's, say)
  --device PATH       play on this serial device (e.g. /dev/ttyS2, the far end of a null-modem cable)
                      instead of a new pseudo-terminal: 9600 8N1 raw, held exclusively; linked only
                      when --com, --ports or --link is given
  --delay MS          answer each frame MS milliseconds late (default 0)
  --pace              send at the 9600-baud wire rate, one byte every 1.0417 ms
  --mute LETTERS      never send frames with these letters (e.g. --mute cz; "*" silences indications)
  --ignore LETTERS    answer set commands for these letters without applying them (e.g. --ignore c)
  --echo-sets         answer set commands with the value asked for, not the value in force; with
                      --ignore, a transponder that acknowledges what it does not apply
  --garbage           send a few noise bytes (never STX) before every frame
  --drop-after N      after answering the N-th frame received, close the line as an unplug does, and exit
  --interrogations HZ send STX "*" ETX this many times a second while interrogable (default 0: never)
  --help              this text

Every query the panel makes (a c i r s v o u n l d z e, and p) is answered with the same letter and the
present value. Set commands are applied when their value is valid and answered with the value in force
(--echo-sets: the value asked for):
  s=t|a|c|f|l  mode         c=NNNN  octal code        i=s    ident for 18 s (i=1, then i=0)
  r=y|n        replies Y/N  v=1|2   voltage class     u=, o= low, high set-point (digits, one ".")
  d=g|s        encoder source; a=FEET sets the altitude only with the serial source (d=s)
  p=y          ping, answered p=Y;  z, n, l, e are read-only (version, serial number, faults, error)
Indications are sent only while a client is connected, replies are enabled and the mode is a, c or l.
A link that leads to a live device is left alone unless --replace is given. Only the default folder is
made when missing; a folder named by --ports, --link or UAVCONTROL_PORTS must exist.
Frames in and out are logged on stderr, one line each with the time; if stderr can no longer be written
(a reader that went away), logging stops and the transponder goes on. SIGINT, SIGTERM and SIGHUP remove
the link and end it with 0; a failure removes the link too and ends it with 1.
)";
}

} // namespace sim
