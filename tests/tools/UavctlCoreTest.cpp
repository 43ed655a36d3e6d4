// uavctl's rules without a port: the command line, the settings, profiles and what is printed; and the
// link's opening on a scripted device.
#include "CtlArgs.h"
#include "CtlLink.h"
#include "CtlOutput.h"
#include "CtlProfile.h"
#include "FakeSerialDevice.h"
#include "PortListing.h"
#include "ReplyDecoder.h"
#include "SimOptions.h"
#include "SystemError.h"
#include "TestSupport.h"
#include "TransponderFrames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace ctl;

namespace {

std::string FrameFor(const std::string& name, const std::string& value) {
    const CheckedSetting checked = CheckSetting(name, value);
    return checked.setting ? SetFrame(*checked.setting) : "refused: " + checked.error;
}

proto::Reply ReplyOf(const std::string& text) {
    return *proto::ParseReply(proto::ConsoleFrame(text));
}

TEST(UavctlSettings, everySettingsWords_becomeTheFrameThePanelsButtonSends) {
    EXPECT_EQ(FrameFor("mode", "standby"), proto::StatusFrame(proto::OperatingMode::Standby));
    EXPECT_EQ(FrameFor("mode", "a"), proto::StatusFrame(proto::OperatingMode::ModeA));
    EXPECT_EQ(FrameFor("mode", "c"), proto::StatusFrame(proto::OperatingMode::ModeC));
    EXPECT_EQ(FrameFor("code", "0417"), proto::CodeFrame("0417"));
    EXPECT_EQ(FrameFor("voltage", "14"), proto::VoltageFrame(proto::SupplyVoltage::V14));
    EXPECT_EQ(FrameFor("voltage", "28"), proto::VoltageFrame(proto::SupplyVoltage::V28));
    EXPECT_EQ(FrameFor("low", "11.5"), proto::LowSetpointFrame("11.5"));
    EXPECT_EQ(FrameFor("high", "16"), proto::HighSetpointFrame("16"));
    EXPECT_EQ(FrameFor("replies", "on"), proto::InterrogateFrame(proto::InterrogationReplies::On));
    EXPECT_EQ(FrameFor("replies", "off"), proto::InterrogateFrame(proto::InterrogationReplies::Off));
    EXPECT_EQ(FrameFor("source", "gillham"), proto::EncoderSourceFrame(proto::EncoderSource::Gillham));
    EXPECT_EQ(FrameFor("source", "serial"), proto::EncoderSourceFrame(proto::EncoderSource::Serial));
}

TEST(UavctlSettings, badNamesAndValues_areRefusedWithTheReason) {
    const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> cases = {
        {{"volts", "14"}, "unknown setting 'volts'"},
        {{"code", "1280"}, "four octal digits"},
        {{"code", "123"}, "four octal digits"},
        {{"code", "12345"}, "four octal digits"},
        {{"voltage", "12"}, "not one of 14|28"},
        {{"mode", "A"}, "not one of standby|a|c"},
        {{"replies", "yes"}, "not one of on|off"},
        {{"source", ""}, "not one of gillham|serial"},
        {{"low", ""}, "decimal point"},
        {{"high", "1.2.3"}, "decimal point"},
        {{"low", "-5"}, "decimal point"},
    };
    for (const auto& [input, reason] : cases) {
        const CheckedSetting checked = CheckSetting(input.first, input.second);
        EXPECT_FALSE(checked.setting) << input.first << " " << input.second;
        EXPECT_NE(checked.error.find(reason), std::string::npos) << checked.error;
    }
}

TEST(UavctlSettings, readBack_isJudgedAsTheDisplayJudgesItAndShownInTheSettingsWords) {
    auto word = [](const std::string& name, const std::string& value, const std::string& reply) {
        return ReadBackWord(*CheckSetting(name, value).setting, ReplyOf(reply));
    };
    EXPECT_EQ(word("voltage", "28", "v=2"), "28");
    EXPECT_EQ(word("voltage", "28", "v=28"), "28"); // a class the transponder does not report as "2"
    EXPECT_EQ(word("replies", "on", "r=Y"), "on");
    EXPECT_EQ(word("replies", "on", "r=y"), "y"); // the display ignores a lower-case answer
    EXPECT_EQ(word("mode", "c", "s=l"), "c");     // Mode C/Alt selects Mode C
    EXPECT_EQ(word("mode", "a", "s=f"), "f");
    EXPECT_EQ(word("source", "serial", "d=s"), "serial");
    EXPECT_EQ(word("code", "1234", "c=12345"), "1234"); // exactly four characters, as the display takes
    EXPECT_EQ(word("low", "11.0", "u=11"), "11");
}

TEST(UavctlArgs, optionsAnywhereInBothSpellings_andGetLettersInThePollersOrderOnceEach) {
    const ParsedArgs parsed = ParseArgs({"get", "zcaz", "--port=3", "--json", "-t", "250"});
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(parsed.request->verb, Verb::Get);
    EXPECT_EQ(parsed.request->letters, "acz");
    EXPECT_EQ(parsed.request->port, 3);
    EXPECT_TRUE(parsed.request->json);
    EXPECT_EQ(parsed.request->timeoutMs, 250);
    EXPECT_EQ(ParseArgs({"get"}).request->letters, "acirsvounldze");
    EXPECT_EQ(ParseArgs({"-p", "2", "get", "all"}).request->letters, "acirsvounldze");
    EXPECT_EQ(ParseArgs({"send", "--", "-x"}).request->text, "-x");
    const ParsedArgs set = ParseArgs({"set", "--verify", "code", "0400"});
    ASSERT_TRUE(set.request) << set.error;
    EXPECT_TRUE(set.request->verify);
    EXPECT_EQ(set.request->setting, (Setting{"code", 'c', "0400"}));
}

TEST(UavctlArgs, badCommandLines_areRefusedWithTheReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"frob"}, "unknown command 'frob'"},
        {{"get", "x"}, "'x' is not a query letter"},
        {{"get", "a", "c"}, "expects LETTERS"},
        {{"set", "code"}, "expects NAME VALUE"},
        {{"set", "voltage", "12"}, "not one of 14|28"},
        {{"--port", "256", "get"}, "1..255 in decimal, not '256'"},
        {{"--port", "one", "get"}, "not 'one'"},
        {{"get", "--port"}, "expects a COM port number"},
        {{"--timeout", "0", "get"}, "milliseconds"},
        {{"--verify", "get"}, "--verify belongs to set"},
        {{"--reconnect", "get"}, "--reconnect belongs to watch"},
        {{"--json=yes", "get"}, "takes no value"},
        {{"send", std::string("a\x03") + "b"}, "must not hold STX"},
        {{"apply"}, "expects FILE"},
        {{"ports", "1"}, "expects no operands"},
        {{"--bogus", "get"}, "unknown option --bogus"},
    };
    for (const auto& [args, reason] : cases) {
        const ParsedArgs parsed = ParseArgs(args);
        EXPECT_FALSE(parsed.request) << reason;
        EXPECT_NE(parsed.error.find(reason), std::string::npos) << parsed.error;
    }
}

TEST(UavctlArgs, portNumbers_followOneRuleInUavctlAndTheSimulator_decimal1To255) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"1", 1},
        {"255", 255},
        {"007", 7},
        {"0", std::nullopt},
        {"256", std::nullopt},
        {"0x10", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"$1", std::nullopt},
    };
    for (const auto& [text, number] : cases) {
        const auto uavctl = ParseArgs({"--port", text, "get"}).request;
        const auto simulator = sim::ParseOptions({"--com", text}).options;
        EXPECT_EQ(uavctl ? std::optional(uavctl->port) : std::nullopt, number) << text;
        EXPECT_EQ(simulator ? std::optional(simulator->com) : std::nullopt, number) << text;
    }
    EXPECT_FALSE(ParseArgs({"--timeout", "0x100", "get"}).request);
}

TEST(UavctlLink, aLineThatCannotBeSetUp_isNotOpen_andTheSystemsCodeSaysWhy) {
    const uavtest::PortMap ports("uavctl-link");
    ports.StandIn(7); // resolved; the fake never opens it
    auto device = std::make_unique<TFakeSerialDevice>();
    device->Fail("ApplyDcb", SystemError::Invalid);
    TLink link(std::move(device));
    EXPECT_EQ(link.Open(7), SystemError::Invalid);
}

TEST(UavctlProfile, settings_comeInTheFixedOrderWhateverTheFilesOrder) {
    const ParsedProfile profile =
        ParseProfile(R"({"mode": "a", "code": "0400", "voltage": 28, "replies": "on", "low": "11.5"})");
    ASSERT_TRUE(profile.error.empty()) << profile.error;
    std::vector<std::string> order;
    for (const Setting& s : profile.settings)
        order.push_back(s.name + "=" + s.value);
    EXPECT_EQ(order,
              (std::vector<std::string>{"voltage=28", "low=11.5", "code=0400", "replies=on", "mode=a"}));
}

TEST(UavctlProfile, badProfiles_areRefusedWholeWithTheReason) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"mode": "a",)", "not JSON"},
        {R"(["mode", "a"])", "one JSON object"},
        {R"({"mode": "a", "volts": 14})", "unknown setting 'volts'"},
        {R"({"code": 400})", "code: takes a string, not a number"},
        {R"({"low": 11.5})", "low: takes a string, not a number"},
        {R"({"voltage": 12})", "voltage: '12' is not one of 14|28"},
        {R"({"voltage": [28]})", "voltage: takes a string or a number, not an array"},
        {R"({"code": "0400", "mode": "a", "code": "7000"})", "'code' is given twice"},
        {R"("x")",
         "one JSON object of settings, e.g. {\"mode\": \"a\", \"code\": \"1200\"}; this is a string"},
        {R"({"code": "12\u000034"})", "code: '12<00>34' expects four octal digits"},
        {R"({"mode": "a", "code": "9999"})", "four octal digits"},
        {R"({})", "no settings"},
    };
    for (const auto& [json, reason] : cases) {
        const ParsedProfile profile = ParseProfile(json);
        EXPECT_TRUE(profile.settings.empty()) << json;
        EXPECT_NE(profile.error.find(reason), std::string::npos) << json << ": " << profile.error;
    }
}

TEST(UavctlProfile, filesThatAreNoProfile_areRefusedWithTheSystemsTextOrTheLimit) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/dev/zero", "larger than the 1 MiB a profile may hold"},
        {"/nonexistent/bench.json", "No such file or directory"},
    };
    for (const auto& [path, reason] : cases)
        EXPECT_EQ(ReadProfile(path).error.find(reason), 0u) << path << ": " << ReadProfile(path).error;
    // A folder: the C library's own reason, which differs by system (Linux: "Is a directory"; Windows:
    // "Permission denied").
    const std::string folder = ReadProfile(fs::temp_directory_path().string()).error;
    EXPECT_TRUE(folder == ErrnoText(EISDIR) || folder == ErrnoText(EACCES)) << folder;
}

TEST(UavctlOutput, textForm_isTabSeparatedWithControlBytesShownAndMissingAnswersLeftToStandardError) {
    Outcome o;
    o.values = {{'a', "2500"}, {'c', std::nullopt}, {'z', std::string("1\t\x02\xff<", 5)}};
    o.settings = {{"code", "1234", "1234"},
                  {"mode", "a", "standby"},
                  {"voltage", "28", std::nullopt},
                  {"low", "24.0", std::nullopt, false}};
    EXPECT_EQ(TextOf(o), "a\tAltitude\t2500\n"
                         "z\tFirmware Version\t1<09><STX><ff><3c>\n"
                         "code\t1234\t1234\tok\n"
                         "mode\ta\tstandby\tdiffers\n"
                         "voltage\t28\t-\tno answer\n"
                         "low\t24.0\t-\tsent, not verified\n");
}

TEST(UavctlOutput, jsonForm_isOneObjectWithRawBytesAndNullForNoAnswer) {
    Outcome o;
    o.command = "get";
    o.port = 3;
    o.device = "/dev/ttyUSB0";
    o.exit = kExitNoAnswer;
    o.errors = {"no answer to c=? within 1000 ms"};
    o.values = {{'a', std::string("x\x02", 2)}, {'c', std::nullopt}};
    const std::string text = JsonOf(o);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    EXPECT_EQ(root["command"].toString(), "get");
    EXPECT_EQ(root["port"].toInt(), 3);
    EXPECT_EQ(root["exit"].toInt(), 3);
    EXPECT_EQ(root["errors"].toArray().at(0).toString(), "no answer to c=? within 1000 ms");
    const QJsonArray values = root["values"].toArray();
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].toObject()["name"].toString(), "Altitude");
    EXPECT_EQ(values[0].toObject()["value"].toString(), QString::fromLatin1("x\x02", 2));
    EXPECT_TRUE(values[1].toObject()["value"].isNull());
}

TEST(UavctlOutput, watchLines_decodeIndicationsAndRepliesInBothForms) {
    EXPECT_EQ(WatchLine("T", "\x02*\x03", false), "T\t*\tInterrogation\t\n");
    EXPECT_EQ(WatchLine("T", "\x02s=a\x03", false), "T\ts\tOperational Status\ta\n");
    const QJsonObject line =
        QJsonDocument::fromJson(QByteArray::fromStdString(WatchLine("T", "\x02r=N\x03", true))).object();
    EXPECT_EQ(line["letter"].toString(), "r");
    EXPECT_EQ(line["name"].toString(), "Interrogation Status");
    EXPECT_EQ(line["value"].toString(), "N");
    EXPECT_EQ(line["message"].toString(), "\x02r=N\x03");
}

// watch --reconnect reopens only the adapter it first opened, whatever has taken its number meanwhile.
TEST(UavctlPorts, sameAdapter_isTheSameUsbSerialNumberElseTheSameByIdName_elseAnyDevice) {
    const TPortIdentity ftdi{"usb-FTDI_A1-if00-port0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "A1"},
        other{"usb-FTDI_Z9-if00-port0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "Z9"},
        ftdiMoved{"usb-FTDI_A1-if00-port1", "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "A1"},
        noSerial{"usb-Prolific-if00-port0", "pl2303", "067b", "2303", "", "", ""}, builtIn{};
    EXPECT_TRUE(SameAdapter(ftdi, ftdiMoved));
    EXPECT_FALSE(SameAdapter(ftdi, other));
    EXPECT_FALSE(SameAdapter(ftdi, builtIn));
    EXPECT_TRUE(SameAdapter(noSerial, noSerial));
    EXPECT_FALSE(SameAdapter(noSerial, ftdi));
    EXPECT_TRUE(SameAdapter(builtIn, other));
}

} // namespace
