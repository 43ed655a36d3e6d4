#include "MessageFramer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string STX = "\x02";
const std::string ETX = "\x03";

std::vector<std::string> FeedAll(TMessageFramer& framer, const std::string& bytes, TFraming framing = {}) {
    std::vector<std::string> out;
    for (char c : bytes)
        if (framer.Feed(c, framing))
            out.push_back(framer.Message());
    return out;
}

} // namespace

TEST(Framer, noiseAroundMessage_isDropped) {
    TMessageFramer f;
    EXPECT_EQ(FeedAll(f, "A" + STX + "s=a" + ETX + "B"), std::vector<std::string>{STX + "s=a" + ETX});
    EXPECT_EQ(f.State(), fsComplete);
    EXPECT_EQ(f.Message(), STX + "s=a" + ETX) << "the delivered message stays until the next start";
}

TEST(Framer, secondStartInsideMessage_restartsIt) {
    TMessageFramer f;
    EXPECT_EQ(FeedAll(f, STX + "ab" + STX + "cd" + ETX), std::vector<std::string>{STX + "cd" + ETX});
}

TEST(Framer, endWithoutStart_andUnendedMessage_yieldNothing) {
    TMessageFramer f;
    EXPECT_TRUE(FeedAll(f, ETX + "xy").empty());
    EXPECT_EQ(f.State(), fsIdle);
    EXPECT_TRUE(FeedAll(f, STX + "abc").empty());
    EXPECT_EQ(f.State(), fsInMessage);
    EXPECT_EQ(FeedAll(f, ETX), std::vector<std::string>{STX + "abc" + ETX});
}

TEST(Framer, appendedBytes_takeFramingCharactersAsData) {
    TMessageFramer f;
    const TFraming framing{0x02, 0x03, 2};
    EXPECT_TRUE(FeedAll(f, STX + "a" + ETX + STX, framing).empty());
    EXPECT_EQ(f.State(), fsAppending);
    EXPECT_EQ(f.AppendLeft(), 1);
    EXPECT_EQ(FeedAll(f, ETX, framing), std::vector<std::string>{STX + "a" + ETX + STX + ETX});
}

TEST(Framer, equalStartAndEnd_neverDelivers) {
    TMessageFramer f;
    EXPECT_TRUE(FeedAll(f, "|ab|cd|", TFraming{'|', '|', 0}).empty());
}

TEST(Framer, splitAndBackToBackMessages_arriveWholeAndInOrder) {
    TMessageFramer f;
    EXPECT_TRUE(FeedAll(f, STX + "v=1").empty());
    EXPECT_EQ(FeedAll(f, "2" + ETX + STX + "w=3" + ETX),
              (std::vector<std::string>{STX + "v=12" + ETX, STX + "w=3" + ETX}));
}

TEST(Framer, everyByteValue_isData) {
    std::string body;
    for (int c = 0; c < 256; ++c)
        if (c != 0x02 && c != 0x03)
            body.push_back(static_cast<char>(c));
    TMessageFramer f;
    EXPECT_EQ(FeedAll(f, STX + body + ETX), std::vector<std::string>{STX + body + ETX});
}

TEST(Framer, framingChangeBetweenBytes_takesEffectAtOnce) {
    TMessageFramer f;
    f.Feed('<', TFraming{'<', '>', 0});
    f.Feed('x', TFraming{'<', '>', 0});
    EXPECT_FALSE(f.Feed('>', TFraming{'<', ']', 0}));
    EXPECT_TRUE(f.Feed(']', TFraming{'<', ']', 0}));
    EXPECT_EQ(f.Message(), "<x>]");
}

TEST(Framer, overlongMessage_isDroppedAndFramingRecovers) {
    TMessageFramer f;
    const std::string flood(TMessageFramer::kMaxMessage + 10, 'z');
    EXPECT_TRUE(FeedAll(f, STX + flood + ETX).empty());
    EXPECT_EQ(f.OverflowCount(), 1u);
    EXPECT_EQ(FeedAll(f, STX + "ok" + ETX), std::vector<std::string>{STX + "ok" + ETX});
    EXPECT_EQ(FeedAll(f, STX + std::string(TMessageFramer::kMaxMessage - 2, 'y') + ETX).size(), 1u)
        << "a message of exactly the bound is still delivered";
}
