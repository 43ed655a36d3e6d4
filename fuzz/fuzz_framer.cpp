// Message framing: whatever the bytes and settings, a delivered message has the shape the framing
// promises and the buffer stays bounded.
#include "MessageFramer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    TFraming framing;
    framing.StartChar = static_cast<char>(data[0]);
    framing.EndChar = static_cast<char>(data[1]);
    framing.AppendCount = data[2] % 8;
    TMessageFramer framer;
    for (std::size_t i = 3; i < size; ++i) {
        const bool done = framer.Feed(static_cast<char>(data[i]), framing);
        const std::string& m = framer.Message();
        if (m.size() > TMessageFramer::kMaxMessage)
            std::abort();
        if (!done)
            continue;
        if (framer.State() != fsComplete || m.size() < 2u + framing.AppendCount)
            std::abort();
        if (m.front() != framing.StartChar || m[m.size() - 1 - framing.AppendCount] != framing.EndChar)
            std::abort();
        if (framing.StartChar == framing.EndChar)
            std::abort(); // the start character always wins, so nothing can complete
    }
    return 0;
}
