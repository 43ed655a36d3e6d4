#pragma once
// The COM numbers that lead somewhere now, as the panel's port field explains them: each number
// with the path opened for it and the device at the end of its links.
#include "CtlOutput.h"
#include "PortNames.h"

#include <vector>

namespace ctl {

std::vector<PortEntry> ListComPorts(const TPortRoots& roots);

} // namespace ctl
