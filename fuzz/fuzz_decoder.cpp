// Reply decoding: never crashes on any bytes, decodes exactly the messages holding both control
// bytes, keeps the value within the message, and reads back every frame the panel can build.
#include "DisplayUpdate.h"
#include "ReplyDecoder.h"
#include "TransponderFrames.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string message(reinterpret_cast<const char*>(data), size);
    const auto reply = proto::ParseReply(message);
    const bool framed =
        message.find(proto::STX) != std::string::npos && message.find(proto::ETX) != std::string::npos;
    if (reply.has_value() != framed || proto::DecodeMessage(message).has_value() != framed)
        std::abort();
    if (reply) {
        if (reply->value.size() > message.size() || message.find(reply->value) == std::string::npos)
            std::abort();
        if (reply->fourChars && reply->fourChars->size() != 4)
            std::abort();
        (void)proto::DisplayUpdateFor(*reply);
    }
    // The same bytes as letter and value of a built frame come back unchanged, unless they hold a
    // control byte (nothing escapes those on the wire).
    if (size >= 1 && message.find_first_of("\x02\x03", 1) == std::string::npos) {
        const auto back = proto::ParseReply(proto::Frame(message[0], message.substr(1)));
        if (message[0] != proto::STX && message[0] != proto::ETX &&
            (!back || back->letter != message[0] || back->value != message.substr(1)))
            std::abort();
    }
    return 0;
}
