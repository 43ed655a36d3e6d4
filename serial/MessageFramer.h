#pragma once
// Cuts a received byte stream into messages: a start character, the body, an end character and a fixed
// number of appended bytes. Pure logic; the caller delivers each completed message before feeding the
// next byte. The framing characters and append count are passed with every byte, so a change takes
// effect at once.
#include <cstddef>
#include <cstdint>
#include <string>

enum TFrameState : std::uint8_t { fsIdle, fsInMessage, fsAppending, fsComplete };

struct TFraming {
    char StartChar = 0x02;
    char EndChar = 0x03;
    std::uint16_t AppendCount = 0;
};

class TMessageFramer {
public:
    // A message that grows past this without ending is dropped and framing starts over: a noisy line
    // must not make the buffer grow with the input.
    static constexpr std::size_t kMaxMessage = 4096;

    // Feeds one byte; true when it completed a message, which Message() then holds.
    bool Feed(char c, const TFraming& framing);

    const std::string& Message() const { return buffer_; }
    TFrameState State() const { return state_; }
    std::uint16_t AppendLeft() const { return appendLeft_; }
    // Partial messages dropped because they outgrew kMaxMessage.
    std::uint32_t OverflowCount() const { return overflows_; }

private:
    bool Complete();
    void Append(char c);

    TFrameState state_ = fsIdle;
    std::uint16_t appendLeft_ = 0;
    std::string buffer_;
    std::uint32_t overflows_ = 0;
};
