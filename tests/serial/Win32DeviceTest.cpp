// The Win32 backend on Windows' own calls: which failures end a session, the texts the operator reads, and
// what is refused before anything is written. With UAV_WINE_SIM_COM set (scripts/windows/test), the
// component also talks to the Linux simulator through Wine's COM mapping, end to end.
#include "Serial2.h"
#include "SerialDevice.h"
#include "SerialTestSupport.h"
#include "SystemError.h"
#include "TransponderFrames.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

TEST(Win32Errors, lossCodesEndTheSessionAndOurOwnAbortsDoNot) {
    const struct {
        int code;
        bool lost;
    } cases[] = {
        {ERROR_ACCESS_DENIED, true},      {ERROR_BAD_COMMAND, true},     {ERROR_DEVICE_REMOVED, true},
        {ERROR_GEN_FAILURE, true},        {ERROR_BROKEN_PIPE, true},     {ERROR_NOT_READY, true},
        {ERROR_OPERATION_ABORTED, false}, {ERROR_TIMEOUT, false},        {ERROR_INVALID_PARAMETER, false},
        {ERROR_NOT_SUPPORTED, false},     {ERROR_FILE_NOT_FOUND, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDeviceLoss(c.code), c.lost) << c.code;
}

TEST(Win32Errors, textsAreTheSystemsOwnTrimmedAsOnLinux) {
    // Windows says "The system cannot find the file specified.", Wine "File not found.": either, trimmed.
    for (const int code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ERROR_BROKEN_PIPE}) {
        const std::string text = SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find("Error "), std::string::npos) << "the system has a text for " << code;
        EXPECT_EQ(std::string(".\r\n ").find(text.back()), std::string::npos) << text;
    }
    EXPECT_NE(SystemErrorText(ERROR_FILE_NOT_FOUND).find("ot"), std::string::npos); // "cannot", "not"
    EXPECT_EQ(SystemError::NotFound, ERROR_FILE_NOT_FOUND);
}

TEST(Win32Device, missingPortAndNonPort_failBeforeAnythingIsWritten) {
    auto device = MakeSystemSerialDevice();
    EXPECT_EQ(device->Open("\\\\.\\COM250"), ERROR_FILE_NOT_FOUND);

    const auto file = std::filesystem::temp_directory_path() / "uav-not-a-port.txt";
    std::ofstream(file) << "";
    EXPECT_NE(device->Open(file.string()), 0) << "a file has no line settings";
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    std::filesystem::remove(file);
    EXPECT_EQ(device->Close(), SystemError::BadHandle) << "nothing was left open";
}

namespace {

class WineSimulator : public ::testing::Test, public TSerialAppFixture {
protected:
    void SetUp() override {
        const char* com = std::getenv("UAV_WINE_SIM_COM");
        if (!com)
            GTEST_SKIP() << "no simulator behind a COM number (scripts/windows/test sets UAV_WINE_SIM_COM)";
        serial = std::make_unique<TSerial>(nullptr);
        serial->SetPort(static_cast<sPorts>(std::atoi(com)));
        serial->SetDataBits(d8bit);
        serial->SetRxEventMode(rxMessage);
        serial->SetOnMessage([this](TObject*, const std::string& m) { messages.push_back(m); });
    }

    std::unique_ptr<TSerial> serial;
    std::vector<std::string> messages;
};

} // namespace

TEST_F(WineSimulator, everyQueryIsAnsweredInOrder_andClosingLetsTheNextOpenerIn) {
    for (int round = 0; round < 2; ++round) {
        messages.clear();
        serial->SetActive(true);
        ASSERT_TRUE(serial->Active()) << serial->ErrorCode() << " " << SystemErrorText(serial->ErrorCode());
        for (int step = 1; step <= proto::kQueryStepCount; ++step) {
            const std::size_t before = messages.size();
            serial->SendString(proto::QueryFrame(step));
            ASSERT_TRUE(RunUntil([&] { return messages.size() > before; }, 5000)) << "step " << step;
            EXPECT_EQ(messages.back().substr(1, 1), std::string(1, proto::kQueryLetters[step - 1]));
        }
        EXPECT_TRUE(boxes.boxes.empty());
        serial->SetActive(false);
    }
}
