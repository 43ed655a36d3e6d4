#pragma once
// What each reply letter is called where people read it: the captions of the "System Parameters"
// display for the values it shows, and names of our own for the values the poller asks for but the
// display leaves out. Shared by the panel's companions that print values as text.
#include <string_view>

namespace proto {

// The name for a reply letter; empty for letters the transponder is not known to send.
std::string_view ParameterName(char letter);

} // namespace proto
