#pragma once
// The COM numbers that lead somewhere now, each with the path opened for it, the device at the end of its
// links and which adapter that is. One listing for every place that shows them (uavctl ports, the panel's
// port field, the reasons given when a port will not open). No Qt.
#include "PortIdentity.h"
#include "PortNames.h"

#include <string>
#include <vector>

struct TComPort {
    int Com = 0;
    std::string Path;   // what is opened for "COM<n>"
    std::string Device; // where it leads, links followed
    TPortIdentity Identity;
};

// In number order, 1 to 255 (the numbers a port option takes). Only numbers that resolve are asked (a link in
// the port-map folder, or a place among the real devices), by the one rule the port itself uses; a link that
// leads nowhere, round in a loop, or to something that is not a terminal, is left out.
std::vector<TComPort> ListComPorts(const TPortRoots& roots);
