// TSerial's rules against a scripted device: defaults, validation, the order of opening and closing,
// error reporting, and the event thread's delivery on the user-interface thread.
#include "FakeSerialDevice.h"
#include "Serial2.h"
#include "SerialTestSupport.h"
#include "SystemError.h"
#include "TestSupport.h"

#include <QThread>
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>

namespace {

const std::string STX = "\x02";
const std::string ETX = "\x03";

const std::vector<std::string> kOpenSteps{
    "SetupQueues 1024 1024", "ApplyDcb", "ApplyTimeouts", "Purge", "Raise DTR", "Raise RTS",
    "SetEventMask 381"};
const std::vector<std::string> kCloseCalls{"QueueCounts", "Purge",          "Drop DTR",
                                           "Drop RTS",    "SetEventMask 0", "Close"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Serial : public ::testing::Test, public TSerialAppFixture {
protected:
    Serial() {
        // Numbers 1, 3 and 4 stand for devices (the fake opens none); 0 for nothing.
        for (int com : {1, 3, 4})
            path[com] = ports.StandIn(com);
        kOpenCalls = Concat({"Open " + path[1]}, kOpenSteps);
        auto device = std::make_unique<TFakeSerialDevice>();
        dev = device.get();
        serial = std::make_unique<TSerial>(nullptr, std::move(device));
    }
    // Opens in message mode with a handler that records what arrives and on which thread.
    void OpenForMessages() {
        serial->SetRxEventMode(rxMessage);
        serial->SetOnMessage([this](TObject* sender, const std::string& m) {
            EXPECT_EQ(sender, serial.get());
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
            messages.push_back(m);
        });
        serial->SetActive(true);
        dev->ClearCalls();
    }

    uavtest::PortMap ports{"fake"};
    std::map<int, std::string> path;
    std::vector<std::string> kOpenCalls;
    TFakeSerialDevice* dev = nullptr;
    std::unique_ptr<TSerial> serial;
    std::vector<std::string> messages;
    bool onUiThread = true;
    long long closeMs = -1;
};

} // namespace

TEST_F(Serial, newComponent_hasItsDefaults) {
    EXPECT_EQ(serial->Port(), 1);
    EXPECT_EQ(serial->Baudrate(), 9600);
    EXPECT_EQ(serial->Parity(), paNone);
    EXPECT_EQ(serial->DataBits(), d7bit);
    EXPECT_EQ(serial->StopBits(), st1bit);
    EXPECT_EQ(serial->RxQueueSize(), 1024);
    EXPECT_EQ(serial->TxQueueSize(), 1024);
    EXPECT_EQ(serial->FlowMode(), fcNone);
    EXPECT_TRUE(serial->CheckParity());
    EXPECT_EQ(serial->RxEventMode(), rxNormal);
    EXPECT_EQ(serial->MessageStartChar(), 0x02);
    EXPECT_EQ(serial->MessageEndChar(), 0x03);
    EXPECT_EQ(serial->MessageAppendCount(), 0);
    EXPECT_EQ(serial->NotifyErrors(), neDialog);
    EXPECT_EQ(serial->ErrorCode(), 0);
    EXPECT_FALSE(serial->Active());
    EXPECT_TRUE(dev->Calls().empty()) << "creating opens nothing";
}

TEST_F(Serial, invalidBaudrate_showsDialogAndKeepsOldValue) {
    serial->SetNotifyErrors(neNone); // the baud check ignores it
    serial->SetBaudrate(110);
    EXPECT_EQ(serial->Baudrate(), 9600);
    EXPECT_EQ(serial->ErrorCode(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Baudrate is not valid");
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(MB_OK | MB_ICONSTOP));
    serial->SetBaudrate(14400);
    EXPECT_EQ(serial->Baudrate(), 14400);
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(Serial, openAndClose_runTheirStepsInOrder) {
    serial->SetActive(true);
    EXPECT_TRUE(serial->Active());
    serial->SetActive(false);
    EXPECT_FALSE(serial->Active());
    EXPECT_EQ(dev->Calls(), Concat(kOpenCalls, kCloseCalls));
    EXPECT_EQ(serial->DevicePath(), path[1]) << "the path opened is the path reported";
    serial->SetActive(false);
    EXPECT_EQ(dev->Calls().size(), kOpenCalls.size() + kCloseCalls.size())
        << "closing a closed port does nothing";
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Serial, openingTwice_closesAndReopens) {
    serial->SetActive(true);
    serial->SetActive(true);
    EXPECT_TRUE(serial->Active());
    EXPECT_EQ(dev->Calls(), Concat(Concat(kOpenCalls, kCloseCalls), kOpenCalls));
}

TEST_F(Serial, settingsWhileOpen_reopenOnlyWhenChanged_exceptQueueSizes) {
    serial->SetActive(true);
    dev->ClearCalls();
    serial->SetPort(1);
    serial->SetParity(paNone);
    serial->SetDataBits(d7bit);
    serial->SetStopBits(st1bit);
    serial->SetFlowMode(fcNone);
    serial->SetCheckParity(true);
    serial->SetBaudrate(9600);
    EXPECT_TRUE(dev->Calls().empty());
    serial->SetRxQueueSize(1024);
    EXPECT_EQ(dev->Calls(), Concat(kCloseCalls, kOpenCalls));
    dev->ClearCalls();
    serial->SetDataBits(d8bit);
    EXPECT_EQ(dev->Calls(), Concat(kCloseCalls, kOpenCalls));
    EXPECT_EQ(dev->LastDcb().ByteSize, 8);
    dev->ClearCalls();
    serial->SetPort(3);
    EXPECT_EQ(dev->Calls()[kCloseCalls.size()], "Open " + path[3]);
}

TEST_F(Serial, settingsWhileClosed_areOnlyStored) {
    serial->SetPort(4);
    serial->SetParity(paEven);
    serial->SetTxQueueSize(64);
    EXPECT_TRUE(dev->Calls().empty());
    EXPECT_EQ(serial->Dcb().Parity, 0) << "the record is built when the port opens";
    serial->SetActive(true);
    EXPECT_EQ(dev->Calls()[0], "Open " + path[4]);
    EXPECT_EQ(dev->Calls()[1], "SetupQueues 1024 64");
    EXPECT_EQ(dev->LastDcb().Parity, 2);
}

TEST_F(Serial, failedOpen_staysClosedAndShowsSystemText) {
    dev->Fail("Open", SystemError::NotFound);
    serial->SetActive(true);
    EXPECT_FALSE(serial->Active());
    EXPECT_EQ(serial->ErrorCode(), SystemError::NotFound);
    EXPECT_EQ(dev->Calls(), std::vector<std::string>{kOpenCalls[0]});
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), SystemErrorText(SystemError::NotFound));
    EXPECT_EQ(boxes.boxes[0].caption, "Error");

    serial->SetNotifyErrors(neNone);
    dev->Fail("Open", SystemError::Busy);
    serial->SetActive(true);
    EXPECT_EQ(serial->ErrorCode(), SystemError::Busy);
    EXPECT_EQ(boxes.boxes.size(), 1u) << "neNone shows nothing";
    EXPECT_EQ(serial->DevicePath(), path[1]) << "kept when opening it failed";

    dev->ClearCalls();
    serial->SetPort(0);
    serial->SetActive(true);
    EXPECT_EQ(serial->ErrorCode(), SystemError::NotFound) << "a number that names no device";
    EXPECT_TRUE(dev->Calls().empty());
    EXPECT_EQ(serial->DevicePath(), "");
}

TEST_F(Serial, failedStepsWhileOpening_areReportedAndOpeningGoesOn) {
    int events = 0;
    serial->SetNotifyErrors(neEvent);
    serial->SetOnError([&](TObject* sender) {
        EXPECT_EQ(sender, serial.get());
        EXPECT_EQ(serial->ErrorCode(), SystemError::Invalid);
        ++events;
    });
    dev->Fail("ApplyDcb", SystemError::Invalid);
    dev->Fail("SetupQueues", SystemError::Invalid);
    serial->SetActive(true);
    EXPECT_TRUE(serial->Active());
    EXPECT_EQ(events, 2);
    EXPECT_EQ(dev->Calls(), kOpenCalls);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Serial, sendOnClosedPort_writesNothingAndShowsOncePerClosedPeriod) {
    serial->SendString("abc");
    serial->SendString("abc");
    EXPECT_EQ(serial->ErrorCode(), SystemError::BadHandle);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    serial->SetActive(true);
    serial->SendString("x");
    ASSERT_TRUE(RunUntil([&] { return dev->Written() == "x"; }));
    serial->SetActive(false);
    serial->SendString("y");
    EXPECT_EQ(dev->Written(), "x");
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(Serial, eventMode_everyFailureFiresOnErrorWithItsCode_dialogsStayRationed) {
    std::vector<int> codes;
    serial->SetNotifyErrors(neEvent);
    serial->SetOnError([&](TObject*) { codes.push_back(serial->ErrorCode()); });
    serial->SendString("a");
    serial->SendString("b");
    EXPECT_EQ(codes, (std::vector<int>{SystemError::BadHandle, SystemError::BadHandle})) << "the closed port";
    OpenForMessages();
    dev->FailWait(SystemError::Lost);
    ASSERT_TRUE(RunUntil([&] { return codes.size() == 3 && !serial->ThreadBusy(); }));
    dev->Fail("Write", SystemError::Lost);
    serial->SendString("c");
    serial->SendString("d");
    EXPECT_EQ(codes, (std::vector<int>{SystemError::BadHandle, SystemError::BadHandle, SystemError::Lost,
                                       SystemError::Lost, SystemError::Lost}))
        << "the lost device";
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Serial, sendOnOpenPort_writesWholeStringsInOrder_asTheDeviceTakesThem_andReportsFailure) {
    std::vector<std::string> sent;
    serial->SetOnSent([&](const std::string& bytes) { sent.push_back(bytes); });
    serial->SetActive(true);
    dev->SetWriteRoom(4);
    const std::string longFrame = STX + std::string(600, 'k') + ETX;
    serial->SendString(longFrame);
    serial->SendString("gh");
    ASSERT_TRUE(RunUntil([&] { return dev->Written().size() == 4; }));
    EXPECT_EQ(serial->TxWaiting(), 600) << "queued but not yet taken is waiting output";
    EXPECT_TRUE(sent.empty()) << "noticed only when the device has taken it all";
    dev->SetWriteRoom(SIZE_MAX);
    ASSERT_TRUE(RunUntil([&] { return sent.size() == 2; }));
    EXPECT_EQ(sent, (std::vector<std::string>{longFrame, "gh"}));
    EXPECT_EQ(dev->Written(), longFrame + "gh") << "no 256-byte cut";
    // 602 bytes of 9 bits (7 data bits, no parity, one stop bit) at 9600 baud take 565 ms on the wire;
    // the second of grace comes after that.
    EXPECT_EQ(serial->WriteTimeoutMs(longFrame.size()), 1000 + 565);

    dev->Fail("Write", SystemError::TimedOut);
    serial->SendString("z");
    ASSERT_TRUE(RunUntil([&] { return !boxes.boxes.empty(); }));
    EXPECT_EQ(serial->ErrorCode(), SystemError::TimedOut);
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), SystemErrorText(SystemError::TimedOut));
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(Serial, closing_dropsOutputTheDeviceHasNotTaken) {
    std::vector<std::string> sent;
    serial->SetOnSent([&](const std::string& bytes) { sent.push_back(bytes); });
    serial->SetActive(true);
    dev->SetWriteRoom(0);
    serial->SendString("stale");
    EXPECT_EQ(serial->TxWaiting(), 5);
    dev->ClearCalls();
    serial->SetActive(false);
    EXPECT_EQ(dev->Calls(), kCloseCalls) << "the driver's queues are flushed too";
    dev->SetWriteRoom(SIZE_MAX);
    serial->SetActive(true);
    serial->SendString("new");
    ASSERT_TRUE(RunUntil([&] { return !sent.empty(); }));
    EXPECT_EQ(sent, std::vector<std::string>{"new"});
    EXPECT_EQ(dev->Written(), "new");
}

TEST_F(Serial, closing_letsSentOutputGoUnlessFlowControlMayHoldIt_andSaysWhatItDropped) {
    const struct {
        const char* what;
        eFlowControl flow;
        std::size_t begun; // bytes of a string in progress that the device took (never reported sent)
        std::deque<std::int32_t> queued;
        std::size_t dropped;
        int counts;
    } cases[] = {
        {"goes out", fcNone, 0, {12, 5, 0}, 0, 3},
        {"held by flow control: not waited for", fcRTS_CTS, 0, {12}, 12, 1},
        {"stuck past its wire time", fcNone, 0, {12, 12}, 12, -1},
        {"only the string in progress", fcNone, 4, {4}, 0, 1},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> dropped;
        serial->SetOnDropped([&](std::size_t bytes) { dropped.push_back(bytes); });
        serial->SetFlowMode(c.flow);
        serial->SetActive(true);
        dev->SetWriteRoom(c.begun);
        if (c.begun) {
            serial->SendString("abcdefgh");
            ASSERT_TRUE(RunUntil([&] { return dev->Written().size() == c.begun; }));
        }
        dev->SetOutputQueued(c.queued);
        dev->ClearCalls();
        serial->SetActive(false);
        const auto calls = dev->Calls();
        EXPECT_EQ(dropped, c.dropped ? std::vector<std::size_t>{c.dropped} : std::vector<std::size_t>{})
            << c.what;
        if (c.counts > 0) {
            EXPECT_EQ(std::count(calls.begin(), calls.end(), "QueueCounts"), c.counts) << c.what;
        }
        EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
                  std::vector<std::string>(kCloseCalls.begin() + 1, kCloseCalls.end()))
            << c.what << ": the driver is flushed after";
        dev->SetOutputQueued({});
        dev->SetWriteRoom(SIZE_MAX);
    }
}

TEST_F(Serial, portWhoseEventsCannotBeWatched_isReportedAndClosed) {
    dev->Fail("SetEventMask", SystemError::NoResources); // the device's own thread did not start
    serial->SetActive(true);
    EXPECT_FALSE(serial->Active());
    EXPECT_EQ(serial->ErrorCode(), SystemError::NoResources);
    EXPECT_EQ(dev->Calls(), Concat(kOpenCalls, kCloseCalls)) << "DTR and RTS go down again, the port closes";
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), SystemErrorText(SystemError::NoResources));
}

TEST_F(Serial, queueCounts_areZeroWhileClosed) {
    serial->SetActive(true);
    dev->Push(0, "abc"); // readable bytes, no event
    EXPECT_EQ(serial->RxWaiting(), 3);
    serial->SetActive(false);
    dev->ClearCalls();
    EXPECT_EQ(serial->RxWaiting(), 0);
    EXPECT_EQ(serial->TxWaiting(), 0);
    EXPECT_TRUE(dev->Calls().empty());
}

TEST_F(Serial, messages_arriveWholeInOrderOnUiThread) {
    OpenForMessages();
    dev->Push(CommEvent::RxChar, "x" + STX + "a=1");
    dev->Push(CommEvent::RxChar, ETX + STX + "b=2" + ETX + STX + "c");
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages, (std::vector<std::string>{STX + "a=1" + ETX, STX + "b=2" + ETX}));
    EXPECT_TRUE(onUiThread);
}

TEST_F(Serial, partialMessage_continuesAfterReopening) {
    OpenForMessages();
    dev->Push(CommEvent::RxChar, STX + "half");
    ASSERT_TRUE(RunUntil([&] { return serial->RxWaiting() == 0 && dev->Waits() >= 2; }));
    serial->SetActive(true);
    dev->Push(CommEvent::RxChar, "way" + ETX);
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 1; }));
    EXPECT_EQ(messages[0], STX + "halfway" + ETX);
}

TEST_F(Serial, messageModeWithoutHandler_readsNothingUntilOneIsAssigned) {
    serial->SetRxEventMode(rxMessage);
    serial->SetActive(true);
    ASSERT_TRUE(RunUntil([&] { return dev->Waits() >= 1; }));
    EXPECT_EQ(dev->LastWanted() & CommEvent::RxChar, 0u);
    dev->Push(0, STX + "q" + ETX);
    EXPECT_EQ(serial->RxWaiting(), 3);
    serial->SetOnMessage([&](TObject*, const std::string& m) { messages.push_back(m); });
    ASSERT_TRUE(RunUntil([&] { return dev->LastWanted() & CommEvent::RxChar; }));
    dev->Push(CommEvent::RxChar);
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 1; }));
    EXPECT_EQ(serial->RxWaiting(), 0);
}

TEST_F(Serial, oneEventSet_isHandledInItsFixedOrder) {
    std::vector<std::string> seen;
    serial->SetOnSignalChange([&](TObject*, eModemInSignal s, bool on) {
        seen.push_back("signal " + std::to_string(s) + (on ? " on" : " off"));
    });
    serial->SetOnTxEmpty([&](TObject*) { seen.push_back("txempty"); });
    serial->SetOnBreak([&](TObject*) { seen.push_back("break"); });
    serial->SetOnRing([&](TObject*) { seen.push_back("ring"); });
    serial->SetOnRxData([&](TObject*) { seen.push_back("rxdata"); });
    dev->SetModemBits(ModemBit::CtsOn | ModemBit::RlsdOn);
    serial->SetActive(true);
    dev->Push(CommEvent::OpenMask, "ab");
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 7; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"signal 0 on", "signal 1 off", "signal 2 on", "txempty",
                                              "break", "ring", "rxdata"}));
    EXPECT_EQ(serial->RxWaiting(), 2) << "raw mode leaves the bytes for the application";
}

TEST_F(Serial, closingFromHandler_doesNotWait) {
    OpenForMessages();
    serial->SetOnMessage([&](TObject*, const std::string& m) {
        messages.push_back(m);
        const auto start = std::chrono::steady_clock::now();
        serial->SetActive(false);
        closeMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
    });
    dev->Push(CommEvent::RxChar, STX + "1" + ETX + STX + "2" + ETX);
    ASSERT_TRUE(RunUntil([&] { return !serial->ThreadBusy() && !messages.empty(); }));
    EXPECT_LT(closeMs, TSerial::kCloseWaitMs / 2) << "the closer must not sit out the thread's handler call";
    EXPECT_EQ(messages.size(), 1u) << "nothing is delivered after the port was closed";
    EXPECT_EQ(dev->Calls(), kCloseCalls);
}

TEST_F(Serial, handlerException_isReported_andThreadGoesOn) {
    OpenForMessages();
    serial->SetOnMessage([&](TObject*, const std::string& m) {
        messages.push_back(m);
        if (messages.size() == 1)
            throw Exception("bad reply");
    });
    dev->Push(CommEvent::RxChar, STX + "1" + ETX);
    dev->Push(CommEvent::RxChar, STX + "2" + ETX);
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 2; }));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "bad reply.");
}

TEST_F(Serial, deviceLoss_isReportedOnce_andReopeningRecovers) {
    OpenForMessages();
    dev->FailWait(SystemError::Lost);
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 1 && !serial->ThreadBusy(); }));
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), SystemErrorText(SystemError::Lost));
    EXPECT_EQ(serial->ErrorCode(), SystemError::Lost);
    EXPECT_TRUE(serial->Active()) << "the port counts as open until it is closed";

    dev->Fail("Write", SystemError::Lost);
    serial->SendString("poll");
    serial->SendString("poll");
    EXPECT_EQ(boxes.boxes.size(), 1u) << "later failures of the lost device are recorded, not shown";

    dev->FailWait(0);
    dev->Fail("Write", 0);
    serial->SetActive(false);
    serial->SetActive(true);
    dev->Push(CommEvent::RxChar, STX + "back" + ETX);
    ASSERT_TRUE(RunUntil([&] { return messages.size() == 1; }));
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(Serial, deviceLossMetFirstByASend_isReportedOnce_whenTheThreadFindsItToo) {
    OpenForMessages();
    dev->Fail("Write", SystemError::Lost);
    serial->SendString("poll");
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 1; })) << "reported from the event thread";
    EXPECT_EQ(boxes.boxes[0].text.toStdString(), SystemErrorText(SystemError::Lost));
    dev->FailWait(SystemError::Lost);
    ASSERT_TRUE(RunUntil([&] { return !serial->ThreadBusy(); }));
    serial->SendString("poll");
    EXPECT_EQ(boxes.boxes.size(), 1u) << "one loss, one report";
    EXPECT_EQ(serial->ErrorCode(), SystemError::Lost);

    // A failure that leaves the device usable is no loss: the next one is shown too.
    dev->FailWait(0);
    dev->Fail("Write", 0);
    serial->SetActive(false);
    serial->SetActive(true);
    dev->Fail("Write", SystemError::TimedOut);
    serial->SendString("a");
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 2; }));
    serial->SendString("b");
    ASSERT_TRUE(RunUntil([&] { return boxes.boxes.size() == 3; }));
}

TEST_F(Serial, destroyedFromItsOwnHandler_endsCleanly) {
    OpenForMessages();
    bool destroyed = false;
    serial->SetOnMessage([&](TObject*, const std::string&) {
        serial.reset();
        destroyed = true;
    });
    dev->Push(CommEvent::RxChar, STX + "bye" + ETX);
    ASSERT_TRUE(RunUntil([&] { return destroyed; }));
}
