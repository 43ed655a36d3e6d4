#include "DisplayUpdate.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace std::string_literals;
namespace ctl = proto::ctl;
using proto::DisplayUpdate;
using LabelList = std::vector<proto::LabelText>;
using RadioList = std::vector<proto::RadioChoice>;

namespace proto {
// Readable failures: control names with their values, bytes of texts escaped.
void PrintTo(const DisplayUpdate& u, std::ostream* os) {
    *os << "{";
    for (const auto& l : u.labels)
        *os << " " << l.control << "=" << ::testing::PrintToString(l.text);
    for (const auto& l : u.lamps)
        *os << " " << l.control << (l.lit ? ":on" : ":off");
    for (const auto& r : u.radios)
        *os << " " << r.control << "#" << r.itemIndex;
    if (u.altitudeSourceText)
        *os << " altitudeSource=" << ::testing::PrintToString(*u.altitudeSourceText);
    *os << (u.pingReceived ? " ping" : "") << (u.interrogation ? " interrogation" : "") << " }";
}
} // namespace proto

namespace {

DisplayUpdate Decode(const std::string& message) {
    const auto update = proto::DecodeMessage(message);
    EXPECT_TRUE(update) << "not decoded: " << ::testing::PrintToString(message);
    return update.value_or(DisplayUpdate{});
}

DisplayUpdate Labels(std::string_view control, std::string text) {
    DisplayUpdate u;
    u.labels.push_back({control, std::move(text)});
    return u;
}

TEST(DisplayUpdate, messageLackingAControlByte_isNotDecoded) {
    EXPECT_FALSE(proto::DecodeMessage("s=a\x03"));
    EXPECT_FALSE(proto::DecodeMessage("\x02s=a"));
}

TEST(DisplayUpdate, textReplies_setTheirLabelsIncludingEmptyValues) {
    EXPECT_EQ(Decode("\x02o=32\x03"), Labels(ctl::lblHigh, "32"));
    EXPECT_EQ(Decode("\x02u=11\x03"), Labels(ctl::lblLow, "11"));
    EXPECT_EQ(Decode("\x02z=V1.07\x03"), Labels(ctl::lblVersion, "V1.07"));
    EXPECT_EQ(Decode("\x02u=\x03"), Labels(ctl::lblLow, ""));
}

TEST(DisplayUpdate, voltageReply_showsTheValueUntranslated) {
    EXPECT_EQ(Decode("\x02v=2\x03"), Labels(ctl::lblVoltage, "2"));
}

TEST(DisplayUpdate, altitudeReply_setsLblAltitudeAndOffersTheTextToTheSourceLabel) {
    DisplayUpdate expected = Labels(ctl::lblAltitude, "12500");
    expected.altitudeSourceText = "12500";
    EXPECT_EQ(Decode("\x02"
                     "a=12500\x03"),
              expected);
}

TEST(DisplayUpdate, altitudeThreeByteFrame_emptiesLblAltitude) {
    const DisplayUpdate u = Decode("\x02"
                                   "a\x03");
    EXPECT_EQ(u.labels, (LabelList{{ctl::lblAltitude, ""}}));
    EXPECT_EQ(u.altitudeSourceText, "");
}

TEST(DisplayUpdate, codeReply_fourCharsShownTwoIgnoredThreeIncludeTheEndByte) {
    EXPECT_EQ(Decode("\x02"
                     "c=1234\x03"),
              Labels(ctl::lblCode, "1234"));
    EXPECT_TRUE(Decode("\x02"
                       "c=12\x03")
                    .Empty());
    EXPECT_EQ(Decode("\x02"
                     "c=123\x03"),
              Labels(ctl::lblCode, "123\x03"));
}

TEST(DisplayUpdate, identReply_onlyZeroTurnsItOff) {
    DisplayUpdate off = Labels(ctl::lblIdent, "");
    off.lamps.push_back({ctl::Ident, false});
    EXPECT_EQ(Decode("\x02i=0\x03"), off);

    DisplayUpdate active = Labels(ctl::lblIdent, "Active");
    active.lamps.push_back({ctl::Ident, true});
    EXPECT_EQ(Decode("\x02i=1\x03"), active);
    EXPECT_EQ(Decode("\x02i=\x03"), active);
    EXPECT_EQ(Decode("\x02i\x03"), active);
}

TEST(DisplayUpdate, replyStatus_upperCaseOnly) {
    EXPECT_EQ(Decode("\x02r=Y\x03"), Labels(ctl::ReplyIndi, "Enabled"));
    EXPECT_EQ(Decode("\x02r=N\x03"), Labels(ctl::ReplyIndi, "Disabled"));
    EXPECT_TRUE(Decode("\x02r=y\x03").Empty());
    EXPECT_TRUE(Decode("\x02r=n\x03").Empty());
    EXPECT_TRUE(Decode("\x02r=\x03").Empty());
}

TEST(DisplayUpdate, statusReply_eachModeTextAndSelection) {
    struct Case {
        char code;
        const char* text;
        int item;
    };
    for (const Case& c : {Case{'a', "Mode A", 1}, Case{'c', "Mode C", 2}, Case{'l', "Mode C/Alt", 2},
                          Case{'t', "Standby", 0}}) {
        DisplayUpdate expected = Labels(ctl::funcDisplay, c.text);
        expected.radios.push_back({ctl::rbStatus, c.item});
        EXPECT_EQ(Decode("\x02s="s + c.code + "\x03"), expected) << c.code;
    }
}

TEST(DisplayUpdate, statusOff_showsOffAndLeavesTheSelection) {
    EXPECT_EQ(Decode("\x02s=f\x03"), Labels(ctl::funcDisplay, "Off"));
}

TEST(DisplayUpdate, statusWithOtherThirdByte_isDecodedAllTheSame) {
    const DisplayUpdate u = Decode("\x02s:c\x03");
    EXPECT_EQ(u.labels, (LabelList{{ctl::funcDisplay, "Mode C"}}));
}

TEST(DisplayUpdate, unknownStatusCharacter_changesNothing) {
    for (const char* message : {"\x02s=A\x03", "\x02s=\x03", "\x02s=x\x03"})
        EXPECT_TRUE(Decode(message).Empty()) << message;
}

TEST(DisplayUpdate, encoderSourceReply_selectsGillhamOrSerialOnly) {
    EXPECT_EQ(Decode("\x02"
                     "d=g\x03")
                  .radios,
              (RadioList{{ctl::rbEncSource, 0}}));
    EXPECT_EQ(Decode("\x02"
                     "d=s\x03")
                  .radios,
              (RadioList{{ctl::rbEncSource, 1}}));
    EXPECT_TRUE(Decode("\x02"
                       "d=G\x03")
                    .Empty());
}

TEST(DisplayUpdate, pingYes_lightsLampShowsReceivedAndAsksForTheTick) {
    DisplayUpdate expected = Labels(ctl::lblPing, "Received");
    expected.lamps.push_back({ctl::ledPing, true});
    expected.pingReceived = true;
    EXPECT_EQ(Decode("\x02p=Y\x03"), expected);
    EXPECT_TRUE(Decode("\x02p=y\x03").Empty());
    EXPECT_TRUE(Decode("\x02p=N\x03").Empty());
}

TEST(DisplayUpdate, interrogationAloneAsThreeBytes_lightsIntledAndArmsItsTimer) {
    DisplayUpdate expected;
    expected.lamps.push_back({ctl::Intled, true});
    expected.interrogation = true;
    EXPECT_EQ(Decode("\x02*\x03"), expected);
    EXPECT_EQ(Decode("\x02*=anything\x03"), expected);
}

TEST(DisplayUpdate, silentLetters_decodeToAnEmptyUpdate) {
    // Still decoded (they count as answers for the poller), but nothing on the display changes.
    for (const char* message : {"\x02"
                                "e=0\x03",
                                "\x02l=5\x03", "\x02n=77\x03", "\x02q=1\x03", "\x02\x03"})
        EXPECT_TRUE(Decode(message).Empty()) << ::testing::PrintToString(message);
}

TEST(DisplayUpdate, highAndZeroBytes_reachTheLabelUnchanged) {
    const std::string value = "\xB0\x00\xFF"s;
    EXPECT_EQ(Decode("\x02z="s + value + "\x03"), Labels(ctl::lblVersion, value));
}

} // namespace
