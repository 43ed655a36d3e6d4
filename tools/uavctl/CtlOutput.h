#pragma once
// What uavctl prints: one outcome per run, as tab-separated text lines or as one JSON object, and
// one line per message while watching. Text shows control bytes as <STX>, <ETX> and <hh>; JSON
// carries every byte as the Latin-1 character of the same number, so nothing is lost.
#include "PortListing.h"
#include "Printable.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ctl {

struct ValueRead {
    char letter = 0;
    std::optional<std::string> value; // nothing: no answer
};

struct SettingRow {
    std::string name;
    std::string wanted;
    std::optional<std::string> read; // in the setting's words; nothing: no answer
    bool verified = true;            // false: sent, but the run or the set's answer ended before the query
    bool ok() const { return verified && read && *read == wanted; }
    // "ok", "differs", "no answer" (to the query) or "sent, not verified".
    const char* Status() const;
};

struct Outcome {
    std::string command;
    std::optional<int> port;
    std::string device;
    int exit = 0;
    std::vector<std::string> errors;           // each also goes to standard error
    std::vector<ValueRead> values;             // get
    std::vector<SettingRow> settings;          // set --verify, apply
    std::optional<double> rttMs;               // ping
    std::optional<std::string> sent, received; // send
    std::vector<TComPort> ports;               // ports
    std::string portMap;                       // ports: the port-map folder
};

// Control bytes made visible as every program of the panel's shows them.
using proto::Printable;

// What standard output gets for an outcome in text form (possibly nothing).
std::string TextOf(const Outcome& outcome);

// The outcome as one line of JSON.
std::string JsonOf(const Outcome& outcome);

// One received message while watching; `time` is the local time as text.
std::string WatchLine(std::string_view time, std::string_view message, bool json);

// Local time with milliseconds, ISO 8601 without zone: 2026-12-08T16:20:01.123.
std::string LocalTimestamp(long long unixMillis);

} // namespace ctl
