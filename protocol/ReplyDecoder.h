#pragma once
// Cutting a received message into letter and value. Positions are those of the first STX (S) and the
// first ETX (E) anywhere in the message, whatever their order; bytes are taken as they are
// (0x00 and 0x80..0xFF included), and a position past the end reads as a zero byte.
#include <optional>
#include <string>
#include <string_view>

namespace proto {

struct Reply {
    char letter = 0;                      // the byte after S; S+2 is not looked at (taken to be "=")
    std::string value;                    // S+3 up to E-1; empty when E-S-3 is zero or less
    char first = 0;                       // the byte at S+3, what one-character replies judge by:
                                          // ETX or zero for an empty value
    std::optional<std::string> fourChars; // S+3..S+6 when the message reaches that far ("c" replies),
                                          // so a three-character value brings its ETX along
    bool operator==(const Reply&) const = default;
};

// Nothing when the message lacks an STX or an ETX: such a message is not decoded.
std::optional<Reply> ParseReply(std::string_view message);

} // namespace proto
