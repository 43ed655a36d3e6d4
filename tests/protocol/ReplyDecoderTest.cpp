#include "ReplyDecoder.h"

#include <gtest/gtest.h>

using namespace std::string_literals;
using proto::ParseReply;

namespace {

TEST(ReplyDecoder, messageWithoutStxOrEtx_isNotDecoded) {
    EXPECT_FALSE(ParseReply(""));
    EXPECT_FALSE(ParseReply("c=1234\x03"));
    EXPECT_FALSE(ParseReply("\x02"
                            "c=1234"));
}

TEST(ReplyDecoder, ordinaryReply_givesLetterValueAndFirstCharacter) {
    const auto reply = ParseReply("\x02z=V1.07\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->letter, 'z');
    EXPECT_EQ(reply->value, "V1.07");
    EXPECT_EQ(reply->first, 'V');
}

TEST(ReplyDecoder, separatorIsNotExamined_anyThirdByteWorks) {
    const auto reply = ParseReply("\x02s#a\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->letter, 's');
    EXPECT_EQ(reply->first, 'a');
    EXPECT_EQ(reply->value, "a");
}

TEST(ReplyDecoder, emptyValue_firstCharacterIsTheEtxByte) {
    const auto reply = ParseReply("\x02"
                                  "a=\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value, "");
    EXPECT_EQ(reply->first, '\x03');
}

TEST(ReplyDecoder, threeByteFrame_hasEmptyValueAndZeroFirstCharacterPastTheEnd) {
    for (char letter : {'*', 'a'}) {
        const auto reply = ParseReply("\x02"s + letter + "\x03");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->letter, letter);
        EXPECT_EQ(reply->value, "");
        EXPECT_EQ(reply->first, '\0');
        EXPECT_FALSE(reply->fourChars);
    }
}

TEST(ReplyDecoder, bareStxEtx_letterIsTheEtxByte) {
    const auto reply = ParseReply("\x02\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->letter, '\x03');
    EXPECT_EQ(reply->value, "");
}

TEST(ReplyDecoder, codeFourChars_takenFromTheMessageOnlyWhenAllFourExist) {
    EXPECT_EQ(ParseReply("\x02"
                         "c=1234\x03")
                  ->fourChars,
              "1234");
    EXPECT_EQ(ParseReply("\x02"
                         "c=123\x03")
                  ->fourChars,
              "123\x03");
    EXPECT_EQ(ParseReply("\x02"
                         "c=12\x03")
                  ->fourChars,
              std::nullopt);
    EXPECT_EQ(ParseReply("\x02"
                         "c=123456\x03")
                  ->fourChars,
              "1234");
}

TEST(ReplyDecoder, positionsComeFromTheFirstStxAndFirstEtx) {
    // Noise before the frame shifts S; a second frame after the first ETX is not part of the value.
    const auto reply = ParseReply("xy\x02o=28\x03\x02u=11\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->letter, 'o');
    EXPECT_EQ(reply->value, "28");
    // ETX ahead of STX: the value is empty, while letter and first character still come from S.
    const auto reversed = ParseReply("\x03\x02r=Y");
    ASSERT_TRUE(reversed);
    EXPECT_EQ(reversed->letter, 'r');
    EXPECT_EQ(reversed->value, "");
    EXPECT_EQ(reversed->first, 'Y');
}

TEST(ReplyDecoder, zeroAndHighBytesInTheValue_arePreserved) {
    const std::string value = "\x00\x7F\x80\xFF"s;
    const auto reply = ParseReply("\x02z="s + value + "\x03");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value, value);
    EXPECT_EQ(reply->first, '\0');
    EXPECT_EQ(reply->fourChars, value);
}

} // namespace
