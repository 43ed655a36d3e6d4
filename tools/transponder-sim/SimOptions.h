#pragma once
// The simulator's command line.
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    int com = 1;                 // linked as comN in the port-map folder...
    std::string portsDir;        // ...this one (empty: $UAVCONTROL_PORTS, else ~/.config/uavcontrol/ports)
    std::string linkPath;        // or exactly here when set
    std::string device;          // play on this serial device instead of a new pty (linked only if asked)
    bool linkAsked = false;      // --com, --ports or --link given
    int delayMs = 0;             // answer delay
    bool pace = false;           // 9600-baud byte pacing
    std::string mute;            // reply letters never sent
    std::string ignore;          // letters whose set commands are answered but never applied
    bool echoSets = false;       // set commands answered with the value asked for, not the one in force
    bool garbage = false;        // noise bytes before each frame sent
    long long dropAfter = 0;     // close the line after this many received frames; 0 never
    double interrogationsHz = 0; // "*" indications a second; 0 none
    bool replace = false;        // take over a link that leads to a live device
    bool help = false;
};

struct ParseResult {
    std::optional<SimOptions> options; // nothing when the command line is wrong
    std::string error;                 // then: why
};

ParseResult ParseOptions(const std::vector<std::string>& args);

std::string HelpText();

// Where the link goes: the explicit path, else <folder>/com<N>. `env` and `home` are the values of
// UAVCONTROL_PORTS and HOME (null when unset).
std::string LinkPathFor(const SimOptions& options, const char* env, const char* home);
// Whether the link's folder is made when missing: only the default port-map folder, which a fresh account
// does not have yet. A folder the user named (--link, --ports, UAVCONTROL_PORTS) must be there.
bool MayMakeLinkFolder(const SimOptions& options, const char* env);

} // namespace sim
