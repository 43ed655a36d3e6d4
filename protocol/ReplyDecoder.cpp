#include "ReplyDecoder.h"

#include "TransponderFrames.h"

namespace proto {

namespace {

// Reading past the end of a message gives a zero byte, as it would past the end of a terminated string.
char ByteAt(std::string_view message, std::size_t index) {
    return index < message.size() ? message[index] : '\0';
}

} // namespace

std::optional<Reply> ParseReply(std::string_view message) {
    const std::size_t s = message.find(STX);
    const std::size_t e = message.find(ETX);
    if (s == std::string_view::npos || e == std::string_view::npos)
        return std::nullopt;

    Reply reply;
    reply.letter = ByteAt(message, s + 1);
    reply.first = ByteAt(message, s + 3);
    if (e > s + 3)
        reply.value = std::string(message.substr(s + 3, e - s - 3));
    if (s + 3 + 4 <= message.size())
        reply.fourChars = std::string(message.substr(s + 3, 4));
    return reply;
}

} // namespace proto
