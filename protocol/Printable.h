#pragma once
// Frames made readable for logs and terminals, one rule for every program that prints them: printable
// ASCII as it is; STX and ETX as <STX> and <ETX>; every other byte, and "<" itself so the notation stays
// unambiguous, as <hh> in lower-case hex. A line written this way holds no control byte.
#include <string>
#include <string_view>

namespace proto {

void AppendPrintable(std::string& out, std::string_view bytes);
std::string Printable(std::string_view bytes);

} // namespace proto
