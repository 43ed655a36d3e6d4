#include "TransponderModel.h"

#include "DisplayUpdate.h"
#include "TransponderFrames.h"

#include <gtest/gtest.h>

using sim::TransponderModel;

namespace {

std::optional<std::string> Ask(TransponderModel& model, const std::string& text, sim::Millis now = 0) {
    return model.Handle(proto::ConsoleFrame(text), now);
}

TEST(TransponderModel, everyPollerQuery_isAnsweredWithItsOwnLetterAndADecodableFrame) {
    TransponderModel model;
    for (int step = 1; step <= proto::kQueryStepCount; ++step) {
        const auto reply = model.Handle(proto::QueryFrame(step), 0);
        ASSERT_TRUE(reply) << "step " << step;
        EXPECT_EQ((*reply)[1], proto::kQueryLetters[static_cast<std::size_t>(step - 1)]);
        EXPECT_TRUE(proto::DecodeMessage(*reply));
    }
}

TEST(TransponderModel, messagesNotShapedLikeAFrameOrWithUnknownLetters_getNoAnswer) {
    TransponderModel model;
    EXPECT_FALSE(Ask(model, "q=?"));
    EXPECT_FALSE(Ask(model, "c?"));
    EXPECT_FALSE(Ask(model, ""));
    EXPECT_FALSE(model.Handle("c=?\x03", 0));
    EXPECT_FALSE(model.Handle("\x02"
                              "c=?",
                              0));
}

TEST(TransponderModel, validSetCommands_takeEffectAndAreAnsweredWithTheNewValue) {
    TransponderModel model;
    const std::pair<std::string, std::string> cases[] = {
        {"s=a", "s=a"},   {"s=l", "s=l"}, {"c=7700", "c=7700"}, {"v=2", "v=2"}, {"u=22.5", "u=22.5"},
        {"o=31", "o=31"}, {"d=s", "d=s"}, {"r=n", "r=N"},       {"r=Y", "r=Y"}, {"p=y", "p=Y"},
    };
    for (const auto& [command, answer] : cases) {
        EXPECT_EQ(Ask(model, command), proto::ConsoleFrame(answer)) << command;
        const std::string query = command.substr(0, 2) + "?";
        EXPECT_EQ(Ask(model, query), proto::ConsoleFrame(answer)) << query;
    }
}

TEST(TransponderModel, invalidSetValues_leaveTheStateAndAnswerWhatIsInForce) {
    TransponderModel model;
    for (const char* bad : {"c=1280", "c=123", "c=12345", "c="})
        EXPECT_EQ(Ask(model, bad), proto::Frame('c', "1200")) << bad;
    for (const char* bad : {"s=x", "s=A", "s=", "s=ta"})
        EXPECT_EQ(Ask(model, bad), proto::Frame('s', "t")) << bad;
    EXPECT_EQ(Ask(model, "v=3"), proto::Frame('v', "1"));
    for (const char* bad : {"u=", "u=abc", "u=1.2.3", "u=.", "u=1234567"})
        EXPECT_EQ(Ask(model, bad), proto::Frame('u', "11.0")) << bad;
    EXPECT_EQ(Ask(model, "d=x"), proto::Frame('d', "g"));
    EXPECT_EQ(Ask(model, "r=x"), proto::Frame('r', "Y"));
}

TEST(TransponderModel, ignoredLetters_answerSetsWithTheOldValueWhileOthersApply) {
    TransponderModel model;
    model.IgnoreSets("c");
    EXPECT_EQ(Ask(model, "c=4567"), proto::Frame('c', "1200"));
    EXPECT_EQ(Ask(model, "c=?"), proto::Frame('c', "1200"));
    EXPECT_EQ(Ask(model, "s=a"), proto::Frame('s', "a"));
}

TEST(TransponderModel, readOnlyLetters_answerTheirValueToAnySet) {
    TransponderModel model;
    EXPECT_EQ(Ask(model, "z=9.99"), proto::Frame('z', "1.04"));
    EXPECT_EQ(Ask(model, "e=5"), proto::Frame('e', "0"));
}

TEST(TransponderModel, identAfterSpi_isActiveForEighteenSecondsThenOff) {
    TransponderModel model;
    EXPECT_EQ(Ask(model, "i=s", 1000), proto::Frame('i', "1"));
    EXPECT_EQ(Ask(model, "i=?", 1000 + sim::kIdentMillis - 1), proto::Frame('i', "1"));
    EXPECT_EQ(Ask(model, "i=?", 1000 + sim::kIdentMillis), proto::Frame('i', "0"));
    // Anything but "s" triggers no pulse.
    EXPECT_EQ(Ask(model, "i=1", 50000), proto::Frame('i', "0"));
}

TEST(TransponderModel, serialAltitude_countsOnlyWithTheSerialSource) {
    TransponderModel model;
    EXPECT_EQ(Ask(model, "a=3000"), proto::Frame('a', "2500")); // Gillham: own encoder wins
    Ask(model, "d=s");
    EXPECT_EQ(Ask(model, "a=3000"), proto::Frame('a', "3000"));
    EXPECT_EQ(Ask(model, "a=65536"), proto::Frame('a', "3000"));
    EXPECT_EQ(Ask(model, "a=-5"), proto::Frame('a', "3000"));
    EXPECT_EQ(Ask(model, "a=00120"), proto::Frame('a', "120"));
    EXPECT_EQ(Ask(model, "a=?"), proto::Frame('a', "120"));
}

TEST(TransponderModel, interrogable_onlyWithRepliesOnInAReplyingMode) {
    TransponderModel model;
    EXPECT_FALSE(model.Interrogable()); // starts in Standby
    for (const char* mode : {"s=a", "s=c", "s=l"}) {
        Ask(model, mode);
        EXPECT_TRUE(model.Interrogable()) << mode;
    }
    Ask(model, "r=n");
    EXPECT_FALSE(model.Interrogable());
    Ask(model, "r=y");
    Ask(model, "s=f");
    EXPECT_FALSE(model.Interrogable());
}

TEST(TransponderModel, interrogationFrame_isTheBareThreeBytesThePanelLightsItsLampFor) {
    const std::string frame = TransponderModel::InterrogationFrame();
    EXPECT_EQ(frame, std::string("\x02*\x03"));
    EXPECT_TRUE(proto::DecodeMessage(frame)->interrogation);
}

TEST(TransponderModel, answersToSetCommands_driveThePanelDisplay) {
    TransponderModel model;
    const auto mode = proto::DecodeMessage(*Ask(model, "s=l"));
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->labels.at(0).text, "Mode C/Alt");
    const auto ping = proto::DecodeMessage(*Ask(model, "p=y"));
    ASSERT_TRUE(ping);
    EXPECT_TRUE(ping->pingReceived);
    const auto replies = proto::DecodeMessage(*Ask(model, "r=y"));
    ASSERT_TRUE(replies);
    EXPECT_EQ(replies->labels.at(0).text, "Enabled");
}

} // namespace
