// Reply decoding throughput: the messages a polling panel receives (the thirteen answers and
// interrogation indications), parsed alone and turned into display updates.
#include "DisplayUpdate.h"
#include "ReplyDecoder.h"
#include "TransponderFrames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> TypicalTraffic() {
    std::vector<std::string> messages = {
        proto::Frame('a', "12500"), proto::Frame('c', "1200"), proto::Frame('i', "0"),
        proto::Frame('r', "Y"),     proto::Frame('s', "c"),    proto::Frame('v', "1"),
        proto::Frame('o', "15.5"),  proto::Frame('u', "11.0"), proto::Frame('n', "000117"),
        proto::Frame('l', "0"),     proto::Frame('d', "g"),    proto::Frame('z', "1.04"),
        proto::Frame('e', "0"),
    };
    for (int i = 0; i < 3; ++i)
        messages.push_back(std::string{proto::STX, '*', proto::ETX});
    return messages;
}

template <typename F> double BestNanosPerMessage(const std::vector<std::string>& messages, F decode) {
    constexpr int kRounds = 200000;
    double best = 1e18;
    for (int repeat = 0; repeat < 7; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        std::size_t sink = 0;
        for (int round = 0; round < kRounds; ++round)
            for (const std::string& m : messages)
                sink += decode(m);
        const auto took = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
        if (sink == 42) // keeps the work from being optimised away
            std::puts("");
        best = std::min(best, took.count() / (static_cast<double>(kRounds) * messages.size()));
    }
    return best;
}

} // namespace

int main() {
    const std::vector<std::string> messages = TypicalTraffic();
    double bytes = 0;
    for (const auto& m : messages)
        bytes += static_cast<double>(m.size());
    const double meanSize = bytes / static_cast<double>(messages.size());

    const double parse = BestNanosPerMessage(messages, [](const std::string& m) {
        const auto r = proto::ParseReply(m);
        return r ? r->value.size() + 1 : 0;
    });
    const double full = BestNanosPerMessage(messages, [](const std::string& m) {
        const auto u = proto::DecodeMessage(m);
        return u ? u->labels.size() + u->lamps.size() + 1 : 0;
    });
    std::printf("messages: %zu kinds, mean %.1f bytes\n", messages.size(), meanSize);
    std::printf("ParseReply:    %7.1f ns/message  %6.1f M messages/s  %7.1f MB/s\n", parse, 1e3 / parse,
                meanSize * 1e3 / parse);
    std::printf("DecodeMessage: %7.1f ns/message  %6.1f M messages/s  %7.1f MB/s\n", full, 1e3 / full,
                meanSize * 1e3 / full);
    return 0;
}
