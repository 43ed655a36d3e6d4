// The component on a real pseudo-terminal: the POSIX device, port naming, line settings as the driver
// sees them, framing of what the other end writes, and device loss.
#include "PtySpeedProbe.h"
#include "Serial2.h"
#include "SerialTestSupport.h"
#include "TestSupport.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

namespace fs = std::filesystem;

namespace {

const std::string STX = "\x02";
const std::string ETX = "\x03";

class PtyPort : public ::testing::Test, public TSerialAppFixture {
protected:
    void SetUp() override {
        ports = std::make_unique<uavtest::PortMap>("pty");
        mapDir = ports->Dir();
        line = std::make_unique<uavtest::LinkedPty>(mapDir, 7);
        ASSERT_TRUE(line->Ok());
        serial = std::make_unique<TSerial>();
        serial->SetPort(7);
        serial->SetDataBits(d8bit);
    }
    void TearDown() override {
        serial.reset();
        line.reset();
        ports.reset();
    }
    // What the other end has received within `limitMs`, until `count` bytes came.
    std::string ReadMaster(std::size_t count, int limitMs = 5000) {
        std::string got;
        RunUntil(
            [&] {
                got += line->ReadAvailable();
                return got.size() >= count;
            },
            limitMs);
        return got;
    }
    void WriteMaster(const std::string& bytes) { ASSERT_TRUE(line->Write(bytes)); }
    // The line settings as the port left them. Read through the master: a pty's settings are the slave's
    // whichever end asks, and the port holds the slave exclusively, which an ordinary user cannot open.
    termios SlaveSettings() {
        termios t{};
        EXPECT_EQ(tcgetattr(line->Master(), &t), 0);
        return t;
    }

    std::unique_ptr<uavtest::PortMap> ports;
    std::unique_ptr<uavtest::LinkedPty> line;
    fs::path mapDir;
    std::unique_ptr<TSerial> serial;
};

} // namespace

TEST_F(PtyPort, opening_appliesRawLineSettings_andSendReachesOtherEnd) {
    serial->SetBaudrate(19200);
    serial->SetStopBits(st2bit);
    serial->SetParity(PaOdd);
    serial->SetFlowMode(fcRTS_CTS);
    serial->SetActive(true);
    ASSERT_TRUE(serial->Active()) << serial->ErrorCode();
    const termios t = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_TRUE(boxes.boxes.empty());

    const std::string frame = STX + "S=\x80\xff\n\r" + ETX;
    serial->SendString(frame);
    EXPECT_EQ(ReadMaster(frame.size()), frame) << "bytes go out unchanged, line ends included";
}

TEST_F(PtyPort, rateWithoutClassicConstant_isSetExactly) {
    serial->SetBaudrate(14400);
    serial->SetActive(true);
    ASSERT_TRUE(serial->Active()) << serial->ErrorCode();
    EXPECT_EQ(ExactOutputSpeed(line->Master()), 14400u);
    serial->SetBaudrate(57600);
    EXPECT_EQ(ExactOutputSpeed(line->Master()), 57600u);
}

TEST_F(PtyPort, repliesFromOtherEnd_areFramedAndDelivered) {
    std::vector<std::string> messages;
    serial->SetRxEventMode(rxMessage);
    serial->SetOnMessage([&](TObject*, const std::string& m) { messages.push_back(m); });
    serial->SetActive(true);
    WriteMaster("noise" + STX + "A=1");
    ASSERT_TRUE(RunUntil([&] { return serial->RxWaiting() == 0; }));
    WriteMaster("2" + ETX + STX + "B=" + std::string(1, '\0') + ETX);
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages[0], STX + "A=12" + ETX);
    EXPECT_EQ(messages[1], STX + "B=" + std::string(1, '\0') + ETX);
}

TEST_F(PtyPort, rawMode_announcesNewBytesOnce_andLeavesThemQueued) {
    int notices = 0;
    serial->SetOnRxData([&](TObject*) { ++notices; });
    serial->SetActive(true);
    WriteMaster("abc");
    ASSERT_TRUE(RunUntil([&] { return notices == 1; }));
    // Unread bytes are old news: give a spinning thread time to show itself.
    RunUntil([] { return false; }, 200);
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(serial->RxWaiting(), 3);
    char b = 0;
    EXPECT_EQ(serial->ReadByte(b), 1);
    EXPECT_EQ(b, 'a');
}

TEST_F(PtyPort, txEmpty_followsASend) {
    int empties = 0;
    serial->SetOnTxEmpty([&](TObject*) { ++empties; });
    serial->SetActive(true);
    serial->SendString("ping");
    ASSERT_TRUE(RunUntil([&] { return empties == 1; }));
    EXPECT_EQ(ReadMaster(4), "ping");
}

TEST_F(PtyPort, otherEndGone_isReportedOnce_laterConnectionsReportTheirOwn_andReconnectRecovers) {
    serial->SetRxEventMode(rxMessage);
    serial->SetOnMessage([](TObject*, const std::string&) {});
    serial->SetActive(true);
    line->Unplug();
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 1 && !serial->ThreadBusy(); }));
    EXPECT_EQ(boxes.boxes[0].text, "Input/output error");
    EXPECT_EQ(serial->ErrorCode(), EIO);
    serial->SendString("poll");
    serial->SendString("poll");
    serial->SetActive(false);
    EXPECT_EQ(boxes.boxes.size(), 1u) << "the lost connection is reported once, its closing included";

    // The lost connection is over: opening the vanished device, and sending on the closed port, say so.
    serial->SetActive(true);
    EXPECT_FALSE(serial->Active());
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "No such file or directory");
    serial->SendString("poll");
    serial->SendString("poll");
    EXPECT_EQ(serial->ErrorCode(), EBADF);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[2].text, "Bad file descriptor");

    ASSERT_TRUE(line->PlugAgain());
    serial->SetActive(true);
    EXPECT_TRUE(serial->Active());
    serial->SendString("again");
    EXPECT_EQ(ReadMaster(5), "again");
    EXPECT_EQ(boxes.boxes.size(), 3u);
}

TEST_F(PtyPort, portHeldByAnotherComponent_isBusy_untilItCloses) {
    serial->SetActive(true);
    TSerial other;
    other.SetPort(7);
    other.SetNotifyErrors(neNone);
    other.SetActive(true);
    EXPECT_FALSE(other.Active());
    EXPECT_EQ(other.ErrorCode(), EBUSY);
    serial->SetActive(false);
    other.SetActive(true);
    EXPECT_TRUE(other.Active());
}

TEST_F(PtyPort, missingDeviceAndNonTerminal_failWithSystemCodes) {
    std::ofstream(mapDir / "plain") << "not a tty";
    fs::create_symlink(mapDir / "plain", mapDir / "com8");
    fs::create_symlink(mapDir / "gone", mapDir / "com9");
    serial->SetNotifyErrors(neNone);
    serial->SetPort(8);
    serial->SetActive(true);
    EXPECT_FALSE(serial->Active());
    EXPECT_EQ(serial->ErrorCode(), ENOTTY);
    EXPECT_EQ(fs::file_size(mapDir / "plain"), 9u) << "nothing is written to a file that is not a port";
    serial->SetPort(9);
    serial->SetActive(true);
    EXPECT_EQ(serial->ErrorCode(), ENOENT);
    EXPECT_TRUE(boxes.boxes.empty());
}
