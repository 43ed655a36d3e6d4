#include "SimOptions.h"
#include "WireLog.h"

#include <gtest/gtest.h>

using sim::ParseOptions;

namespace {

TEST(SimOptions, everySwitch_isTakenInBothSpellings) {
    const auto parsed = ParseOptions({"--com", "3", "--ports=/tmp/p", "--delay", "40", "--pace", "--mute",
                                      "cz*", "--garbage", "--drop-after=7", "--interrogations", "2.5",
                                      "--link", "/tmp/x", "--ignore", "cs", "--replace",
                                      "--device", "/dev/ttyS2"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const sim::SimOptions& o = *parsed.options;
    EXPECT_EQ(o.com, 3);
    EXPECT_EQ(o.portsDir, "/tmp/p");
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.delayMs, 40);
    EXPECT_TRUE(o.pace);
    EXPECT_EQ(o.mute, "cz*");
    EXPECT_TRUE(o.garbage);
    EXPECT_EQ(o.dropAfter, 7);
    EXPECT_DOUBLE_EQ(o.interrogationsHz, 2.5);
    EXPECT_EQ(o.ignore, "cs");
    EXPECT_TRUE(o.replace);
    EXPECT_EQ(o.device, "/dev/ttyS2");
    EXPECT_TRUE(o.linkAsked);
    EXPECT_FALSE(ParseOptions({"--device", "/dev/ttyS2"}).options->linkAsked)
        << "a device is linked only if asked";
}

TEST(SimOptions, badValuesAndUnknownSwitches_failWithTheSwitchNamed) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--com", "0"},
                                                 {"--com"},
                                                 {"--delay", "-1"},
                                                 {"--drop-after", "0"},
                                                 {"--interrogations", "fast"},
                                                 {"--interrogations", "-1"},
                                                 {"--ports", ""},
                                                 {"--device"},
                                                 {"--ignore"},
                                                 {"--bogus"}}) {
        const auto parsed = ParseOptions(args);
        EXPECT_FALSE(parsed.options) << args[0];
        EXPECT_NE(parsed.error.find(args[0]), std::string::npos) << parsed.error;
    }
}

TEST(SimOptions, linkPath_explicitLinkThenPortsThenEnvironmentThenHome) {
    sim::SimOptions o;
    o.com = 4;
    EXPECT_EQ(sim::LinkPathFor(o, nullptr, "/home/op"), "/home/op/.config/uavcontrol/ports/com4");
    EXPECT_TRUE(sim::MayMakeLinkFolder(o, nullptr)); // only the default folder is made when missing
    EXPECT_EQ(sim::LinkPathFor(o, "/env/ports", "/home/op"), "/env/ports/com4");
    EXPECT_FALSE(sim::MayMakeLinkFolder(o, "/env/ports"));
    o.portsDir = "/given";
    EXPECT_EQ(sim::LinkPathFor(o, "/env/ports", "/home/op"), "/given/com4");
    o.linkPath = "/exact/dev";
    EXPECT_EQ(sim::LinkPathFor(o, "/env/ports", "/home/op"), "/exact/dev");
}

TEST(WireLog, printable_namesControlBytesAndEscapesTheRest) {
    EXPECT_EQ(sim::Printable("\x02"
                             "c=12<3\x03"),
              "<STX>c=12<3c>3<ETX>");
    EXPECT_EQ(sim::Printable(std::string("\x00\x7f\x80\xff", 4)), "<00><7f><80><ff>");
}

TEST(WireLog, logLine_hasTimeDirectionAndBytes) {
    const auto line = sim::LogLine(std::chrono::system_clock::now(), "in", "\x02z=?\x03", "(x)");
    ASSERT_GT(line.size(), 12u);
    EXPECT_EQ(line[2], ':');
    EXPECT_EQ(line[8], '.');
    EXPECT_EQ(line.substr(12), " in  <STX>z=?<ETX> (x)");
}

} // namespace
