#pragma once
// uavctl's command line: global options anywhere, one command and its operands. Everything is
// checked here, before a port is opened, so bad input never sends anything. Pure C++.
#include "CtlSettings.h"

#include <optional>
#include <string>
#include <vector>

namespace ctl {

// The exit codes, as the manual page lists them. Lost output is the gravest: a report that did not reach
// its file says nothing, whatever happened on the line.
enum ExitCode : int {
    kExitOk = 0,
    kExitMismatch = 1,
    kExitUsage = 2,
    kExitNoAnswer = 3,
    kExitPort = 4,
    kExitOutput = 5
};

inline constexpr int kDefaultTimeoutMs = 1000;

enum class Verb { Get, Set, Spi, Ping, Send, Watch, Apply, Ports, Help, Version };

struct Request {
    Verb verb = Verb::Help;
    int port = 1; // the COM number, as typed into the panel's port field
    int timeoutMs = kDefaultTimeoutMs;
    bool json = false;
    bool verify = false;
    bool reconnect = false;         // watch: wait for a lost device to come back
    std::string letters;            // get: the query letters, in the poller's order, each once
    std::optional<Setting> setting; // set
    std::string text;               // send: the console text
    std::string file;               // apply: the profile's path
};

struct ParsedArgs {
    std::optional<Request> request;
    std::string error; // the reason, when there is no request
};

ParsedArgs ParseArgs(const std::vector<std::string>& args);

// The command's name as typed ("get", "set", ...).
std::string VerbName(Verb verb);

std::string UsageText();

} // namespace ctl
