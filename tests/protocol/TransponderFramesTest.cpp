#include "TransponderFrames.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// The frames written out byte by byte, so a builder that got STX/ETX or the separator wrong shows.
std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(TransponderFrames, codeQuery_isTheFiveWireBytes) {
    EXPECT_EQ(proto::Query('c'), Bytes({0x02, 0x63, 0x3D, 0x3F, 0x03}));
}

TEST(TransponderFrames, queryFrames_followThePollerOrderFromStepOneToThirteen) {
    const std::string expected[] = {"a=?", "c=?", "i=?", "r=?", "s=?", "v=?", "o=?",
                                    "u=?", "n=?", "l=?", "d=?", "z=?", "e=?"};
    for (int step = 1; step <= 13; ++step)
        EXPECT_EQ(proto::QueryFrame(step), "\x02" + expected[step - 1] + "\x03") << "step " << step;
}

TEST(TransponderFrames, queryStepOutsideOneToThirteen_throws) {
    EXPECT_THROW(proto::QueryFrame(0), std::out_of_range);
    EXPECT_THROW(proto::QueryFrame(14), std::out_of_range);
}

TEST(TransponderFrames, radioSelections_sendTheirOneCharacterFrames) {
    EXPECT_EQ(proto::StatusFrame(proto::OperatingMode::Standby), "\x02s=t\x03");
    EXPECT_EQ(proto::StatusFrame(proto::OperatingMode::ModeA), "\x02s=a\x03");
    EXPECT_EQ(proto::StatusFrame(proto::OperatingMode::ModeC), "\x02s=c\x03");
    EXPECT_EQ(proto::VoltageFrame(proto::SupplyVoltage::V14), "\x02v=1\x03");
    EXPECT_EQ(proto::VoltageFrame(proto::SupplyVoltage::V28), "\x02v=2\x03");
    EXPECT_EQ(proto::EncoderSourceFrame(proto::EncoderSource::Gillham), "\x02"
                                                                        "d=g\x03");
    EXPECT_EQ(proto::EncoderSourceFrame(proto::EncoderSource::Serial), "\x02"
                                                                       "d=s\x03");
    EXPECT_EQ(proto::InterrogateFrame(proto::InterrogationReplies::On), "\x02r=y\x03");
    EXPECT_EQ(proto::InterrogateFrame(proto::InterrogationReplies::Off), "\x02r=n\x03");
}

TEST(TransponderFrames, radioItemIndexes_mapLikeTheEnumsAndNoSelectionSendsNothing) {
    EXPECT_EQ(proto::StatusFrameForIndex(1), "\x02s=a\x03");
    EXPECT_EQ(proto::VoltageFrameForIndex(1), "\x02v=2\x03");
    EXPECT_EQ(proto::EncoderSourceFrameForIndex(0), "\x02"
                                                    "d=g\x03");
    EXPECT_EQ(proto::InterrogateFrameForIndex(1), "\x02r=n\x03");
    for (int index : {-1, 3})
        EXPECT_EQ(proto::StatusFrameForIndex(index), "") << index;
    for (int index : {-1, 2}) {
        EXPECT_EQ(proto::VoltageFrameForIndex(index), "") << index;
        EXPECT_EQ(proto::EncoderSourceFrameForIndex(index), "") << index;
        EXPECT_EQ(proto::InterrogateFrameForIndex(index), "") << index;
    }
}

TEST(TransponderFrames, fixedCommands_identAndPing) {
    EXPECT_EQ(proto::IdentFrame(), "\x02i=s\x03");
    EXPECT_EQ(proto::PingFrame(), "\x02p=y\x03");
}

TEST(TransponderFrames, typedValues_goOutUntouched) {
    EXPECT_EQ(proto::CodeFrame("1234"), "\x02"
                                        "c=1234\x03");
    EXPECT_EQ(proto::LowSetpointFrame(" "), "\x02u= \x03");
    EXPECT_EQ(proto::HighSetpointFrame(" 30 "), "\x02o= 30 \x03");
    EXPECT_EQ(proto::SimulatedAltitudeFrame("65535"), "\x02"
                                                      "a=65535\x03");
    // No escaping: control bytes, zero bytes and high bytes inside a value stay as they are.
    const std::string odd = "\x00\x02\x03\xFF"s;
    EXPECT_EQ(proto::CodeFrame(odd), "\x02"
                                     "c="s +
                                         odd + "\x03");
}

TEST(TransponderFrames, emptyCode_isFourBytes) {
    EXPECT_EQ(proto::CodeFrame(""), Bytes({0x02, 'c', '=', 0x03}));
}

TEST(TransponderFrames, consoleFrame_wrapsTheTypedTextOnly) {
    EXPECT_EQ(proto::ConsoleFrame("z=?"), "\x02z=?\x03");
    EXPECT_EQ(proto::ConsoleFrame(""), Bytes({0x02, 0x03}));
    EXPECT_EQ(proto::ConsoleFrame("\x80\xFE"), "\x02\x80\xFE\x03");
}

} // namespace
