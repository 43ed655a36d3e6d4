#include "CtlArgs.h"

#include "OptionWords.h"
#include "TransponderFrames.h"

#include <algorithm>

namespace ctl {

namespace {

constexpr int kMaxTimeoutMs = 600000;

const std::vector<std::pair<std::string_view, Verb>>& Verbs() {
    static const std::vector<std::pair<std::string_view, Verb>> verbs = {
        {"get", Verb::Get},     {"set", Verb::Set},     {"spi", Verb::Spi},
        {"ping", Verb::Ping},   {"send", Verb::Send},   {"watch", Verb::Watch},
        {"apply", Verb::Apply}, {"ports", Verb::Ports}, {"help", Verb::Help},
    };
    return verbs;
}

// The asked letters in the poller's order, each once; an empty string for a letter it does not ask.
std::optional<std::string> QueryLetters(const std::string& asked, std::string& error) {
    if (asked == "all")
        return std::string(proto::kQueryLetters.begin(), proto::kQueryLetters.end());
    const std::string known(proto::kQueryLetters.begin(), proto::kQueryLetters.end());
    for (char c : asked)
        if (known.find(c) == std::string::npos) {
            error = Cat({"get: '", std::string_view(&c, 1), "' is not a query letter (", known, " or all)"});
            return std::nullopt;
        }
    std::string letters;
    for (char c : known)
        if (asked.find(c) != std::string::npos)
            letters += c;
    if (letters.empty())
        error = "get: no letters given (" + known + " or all)";
    return letters.empty() ? std::nullopt : std::optional(letters);
}

} // namespace

std::string VerbName(Verb verb) {
    if (verb == Verb::Version)
        return "version";
    for (const auto& [name, v] : Verbs())
        if (v == verb)
            return std::string(name);
    return {};
}

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
    Request request;
    std::vector<std::string> operands;
    bool helpAsked = false, versionAsked = false, optionsEnd = false;
    auto fail = [](std::string why) { return ParsedArgs{std::nullopt, std::move(why)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (optionsEnd || name.size() < 2 || name[0] != '-') {
            operands.push_back(name);
            continue;
        }
        if (name == "--") {
            optionsEnd = true;
            continue;
        }
        const OptionWord option = SplitOption(name);
        name = option.name;
        const std::optional<std::string>& inlineValue = option.inlineValue;
        auto value = [&] { return OptionValue(option, args, i); };
        auto flag = [&](bool& target) {
            if (inlineValue)
                return false;
            target = true;
            return true;
        };
        if (name == "--help" || name == "-h") {
            if (!flag(helpAsked))
                return fail(name + " takes no value");
        } else if (name == "--version") {
            if (!flag(versionAsked))
                return fail(name + " takes no value");
        } else if (name == "--json") {
            if (!flag(request.json))
                return fail(name + " takes no value");
        } else if (name == "--verify") {
            if (!flag(request.verify))
                return fail(name + " takes no value");
        } else if (name == "--reconnect") {
            if (!flag(request.reconnect))
                return fail(name + " takes no value");
        } else if (name == "--port" || name == "-p") {
            const auto v = value();
            const auto n = v ? PortNumberOption(*v) : std::nullopt;
            if (!n)
                return fail(name + ": expects a COM port number " + std::to_string(kLowestPortOption) + ".." +
                            std::to_string(kHighestPortOption) + " in decimal" +
                            (v ? ", not '" + *v + "'" : ""));
            request.port = *n;
        } else if (name == "--timeout" || name == "-t") {
            const auto v = value();
            const auto n = v ? DecimalOption(*v, 1, kMaxTimeoutMs) : std::nullopt;
            if (!n)
                return fail(name + ": expects milliseconds 1.." + std::to_string(kMaxTimeoutMs) +
                            " in decimal" + (v ? ", not '" + *v + "'" : ""));
            request.timeoutMs = *n;
        } else {
            return fail("unknown option " + args[i]);
        }
    }

    if (versionAsked || helpAsked) {
        request.verb = versionAsked ? Verb::Version : Verb::Help;
        return {request, {}};
    }
    if (operands.empty())
        return fail("no command given");
    const auto found =
        std::find_if(Verbs().begin(), Verbs().end(), [&](const auto& v) { return v.first == operands[0]; });
    if (found == Verbs().end())
        return fail("unknown command '" + operands[0] + "'");
    request.verb = found->second;
    const std::string verb = operands[0];
    const std::size_t given = operands.size() - 1;
    auto wants = [&](std::size_t low, std::size_t high, const char* what) -> std::optional<ParsedArgs> {
        if (given < low || given > high)
            return fail(verb + ": expects " + what);
        return std::nullopt;
    };

    std::optional<ParsedArgs> wrong;
    switch (request.verb) {
    case Verb::Get: {
        if ((wrong = wants(0, 1, "LETTERS or all")))
            return *wrong;
        std::string error;
        const auto letters = QueryLetters(given ? operands[1] : "all", error);
        if (!letters)
            return fail(error);
        request.letters = *letters;
        break;
    }
    case Verb::Set: {
        if ((wrong = wants(2, 2, "NAME VALUE")))
            return *wrong;
        CheckedSetting checked = CheckSetting(operands[1], operands[2]);
        if (!checked.setting)
            return fail("set: " + checked.error);
        request.setting = std::move(checked.setting);
        break;
    }
    case Verb::Send:
        if ((wrong = wants(1, 1, "TEXT (one argument; quote it)")))
            return *wrong;
        request.text = operands[1];
        // The frame has no escape: a control byte inside would end it early or start another.
        if (request.text.find_first_of(std::string{proto::STX, proto::ETX}) != std::string::npos)
            return fail("send: TEXT must not hold STX (0x02) or ETX (0x03); they are added around it");
        break;
    case Verb::Apply:
        if ((wrong = wants(1, 1, "FILE")))
            return *wrong;
        request.file = operands[1];
        break;
    default:
        if ((wrong = wants(0, 0, "no operands")))
            return *wrong;
        break;
    }
    if (request.verify && request.verb != Verb::Set)
        return fail("--verify belongs to set (apply always verifies)");
    if (request.reconnect && request.verb != Verb::Watch)
        return fail("--reconnect belongs to watch");
    return {request, {}};
}

std::string UsageText() {
    return R"(Usage: uavctl [--port N] [--timeout MS] [--json] COMMAND [ARGS]

Talks to the transponder on COM port N (default 1) as the control panel does, without a window.

Commands:
  get [LETTERS|all]     query values one after another in the poller's order (default all):
                        a c i r s v o u n l d z e
  set NAME VALUE        send the panel's set command; --verify queries the value back once the set's
                        own answer has come
                          mode standby|a|c     code NNNN (octal)   voltage 14|28
                          low VOLTS            high VOLTS          replies on|off
                          source gillham|serial
  spi                   transmit the SPI (ident) pulse
  ping                  send a ping and wait for p=Y; prints the round-trip time
  send TEXT             send STX TEXT ETX and print the next message received
  watch                 print every message received, with the time, until Ctrl+C;
                        --reconnect waits for a lost device to come back and goes on
  apply FILE            apply a JSON profile of settings, each verified; prints wanted and read back
  ports                 list COM port numbers, the devices they lead to and which adapters they are

Options:
  -p, --port N          COM port number 1..255, in decimal (default 1)
  -t, --timeout MS      how long to wait for each answer, in decimal (default 1000)
      --json            print one JSON object (watch: one per message)
      --verify          (set) query the value back and fail when it differs
      --reconnect       (watch) when the device goes away, say so, wait for it and reopen it
  -h, --help            this text
      --version         the version

Exit codes: 0 ok, 1 a value read back differs, 2 usage, 3 no answer, 4 port error,
5 standard output could not be written, 128+N ended by signal N (watch ends with 0).
See uavctl(1) or the README for the output formats and the profile file.
)";
}

} // namespace ctl
