#include "Application.h"
#include "FrameworkTestUtil.h"
#include "IntConv.h"
#include "Synchronize.h"
#include "TestSupport.h"

#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

class ApplicationTest : public ::testing::Test {
protected:
    ApplicationTest()
        : app(*static_cast<QApplication*>(QCoreApplication::instance()), "/opt/bin/uavControl.exe") {
        app.SetMessageBoxService(&boxes);
    }
    TApplication app;
    RecordedBoxes boxes;
};

// Ends a stuck exec() after 3 s. Scoped to its test: a free-standing timer would fire into a later test
// run in the same process and end that test's event loop early.
class ExecWatchdog {
public:
    ExecWatchdog() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        timer_.start(3000);
    }

private:
    QTimer timer_;
};

} // namespace

TEST(ApplicationTitle, fileNameCutAtFirstDot_restLowerCase) {
    EXPECT_EQ(TApplication::TitleFromPath("/usr/bin/uavControl"), "uavcontrol");
    EXPECT_EQ(TApplication::TitleFromPath("/x/UAVControl.tar.exe"), "Uavcontrol");
    EXPECT_EQ(TApplication::TitleFromPath("panel"), "panel");
    EXPECT_EQ(TApplication::TitleFromPath("/a.b/.hidden"), "");
}

TEST(ApplicationReport, fullStopAddedOnlyAfterCharactersSortingAfterDot) {
    EXPECT_EQ(TApplication::ReportText("'x' is not a valid integer value"),
              "'x' is not a valid integer value.");
    EXPECT_EQ(TApplication::ReportText("Done."), "Done.");
    EXPECT_EQ(TApplication::ReportText("Stop!"), "Stop!");
    EXPECT_EQ(TApplication::ReportText("(note)"), "(note)");
    EXPECT_EQ(TApplication::ReportText("value 7"), "value 7.");
    EXPECT_EQ(TApplication::ReportText("a/"), "a/.");
    EXPECT_EQ(TApplication::ReportText(""), "");
}

TEST_F(ApplicationTest, errorReport_showsMessageUnderTitleWithStopIcon_abortIsSilent_eachReleasesTheMouse) {
    QWidget dragged;
    dragged.show();
    const auto guardWhileDragging = [&](auto raise) {
        dragged.grabMouse();
        app.Guard(raise);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    };
    guardWhileDragging([] { throw EConvertError("'a' is not a valid integer value"); });
    guardWhileDragging([] { throw EAbort(); });
    guardWhileDragging([] { throw 42; });
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, "'a' is not a valid integer value.");
    EXPECT_EQ(boxes.boxes[0].caption, "uavcontrol");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(app.Title(), "uavcontrol");
}

TEST_F(ApplicationTest, errorReport_showsAMessageHoldingANulWhole) {
    app.Guard([] { throw EConvertError(InvalidIntegerMessage(std::string("4\0x", 3))); });
    ASSERT_EQ(boxes.boxes.size(), 1u);
    static const char kShown[] = "'4\0x' is not a valid integer value.";
    EXPECT_EQ(boxes.boxes[0].text, QString::fromLatin1(kShown, sizeof kShown - 1));
}

// Without windows (uavctl) the report and the serial component's errors go to the sink the program installed;
// the window side shows them in boxes until a sink is installed, and again once it is taken away.
TEST(ApplicationErrorSink, withoutWindows_reportAndErrorsReachTheInstalledSink_abortIsSilent) {
    TCoreApplication app(*QCoreApplication::instance(), "/usr/bin/uavctl");
    std::vector<QString> sunk;
    app.SetErrorSink([&](const QString& text) { sunk.push_back(text); });
    TCoreApplication::Guard([] { throw EConvertError("'a' is not a valid integer value"); });
    TCoreApplication::Guard([] { throw EAbort(); });
    TCoreApplication::ShowError("Baudrate is not valid");
    EXPECT_EQ(sunk, (std::vector<QString>{"'a' is not a valid integer value.", "Baudrate is not valid"}));
    EXPECT_EQ(Application, nullptr) << "a program without windows has no window side";
}

TEST_F(ApplicationTest, errorSink_isTheErrorBoxUntilTheProgramInstallsOne) {
    std::vector<QString> sunk;
    const auto showError = [] { TCoreApplication::ShowError("Input/output error"); };
    showError();
    app.SetErrorSink([&](const QString& text) { sunk.push_back(text); });
    showError();
    app.SetErrorSink({});
    showError();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(boxes.boxes[1].text, "Input/output error");
    EXPECT_EQ(sunk, std::vector<QString>{"Input/output error"});
}

TEST_F(ApplicationTest, fatalText_namesClassModuleAndMessage) {
    const QString text = TApplication::FatalText(EInvalidCast("Invalid class typecast"), "uavControl");
    EXPECT_TRUE(text.startsWith("Exception EInvalidCast in module uavControl at ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(".\nInvalid class typecast.")) << text.toStdString();
}

TEST_F(ApplicationTest, idleHandler_runsAfterEvents_butNotWhileABoxIsUp) {
    int idles = 0;
    int idlesDuringBox = -1;
    app.SetOnIdle([&](QObject* sender, bool& done) {
        EXPECT_EQ(sender, &app);
        ++idles;
        done = false;
    });
    boxes.during = [&] {
        const int before = idles;
        RunFor(30); // a modal loop keeps dispatching and waiting
        idlesDuringBox = idles - before;
    };
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(RunUntil([&] { return idles > 0; }));
    app.MessageBox("text", "caption", MB_OKCANCEL);
    EXPECT_EQ(idlesDuringBox, 0);
    const int before = idles;
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(RunUntil([&] { return idles > before; }));
    app.SetOnIdle({});
}

TEST_F(ApplicationTest, idleHandlerError_isReportedAndIdleGoesOn) {
    int calls = 0;
    app.SetOnIdle([&](QObject*, bool&) {
        ++calls;
        if (calls == 1)
            throw Exception("idle broke");
    });
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(RunUntil([&] { return calls >= 1; }));
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(RunUntil([&] { return calls >= 2; }));
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes[0].text, "idle broke.");
    app.SetOnIdle({});
}

TEST_F(ApplicationTest, idleLoop_doesNotSpinWhileNothingHappens) {
    int calls = 0;
    app.SetOnIdle([&](QObject*, bool& done) {
        ++calls;
        done = false;
    });
    QTimer::singleShot(0, [] {});
    ASSERT_TRUE(RunUntil([&] { return calls > 0; }));
    const int before = calls;
    // 100 ms with one timer event: a spinning loop would call the handler thousands of times.
    RunFor(100);
    EXPECT_LE(calls - before, 5);
    app.SetOnIdle({});
}

TEST_F(ApplicationTest, synchronize_runsOnUiThreadAndReturnsErrorsToTheWorker) {
    TSyncChannel channel;
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> sawError{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        channel.Call([&] { ranOnUi = QThread::currentThread() == qApp->thread(); });
        try {
            channel.Call([] { throw Exception("handler failed"); });
        } catch (const Exception& e) {
            sawError = e.Message() == "handler failed";
        }
        finished = true;
    });
    EXPECT_TRUE(RunUntil([&] { return finished.load(); }));
    if (!finished)
        channel.Cancel(); // a failure, not a hang
    worker.join();
    EXPECT_TRUE(ranOnUi);
    EXPECT_TRUE(sawError);
}

// A worker that hands calls to the UI thread stays a plain thread: taken for one of Qt's own (adopted), it
// would get a watcher thread of Qt's on Windows, which ends with it and raced the program's exit there.
TEST_F(ApplicationTest, synchronize_callsFromAWorker_startNoOtherThread) {
    TSyncChannel channel;
    std::atomic<int> before{0};
    std::atomic<int> after{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        before = uavtest::ThreadCount();
        channel.Call([] {});
        channel.Call([] {});
        after = uavtest::ThreadCount();
        finished = true;
    });
    // The loop turned by hand: RunUntil's 2 ms timer is a multimedia timer on Windows, with a thread of its
    // own that would come and go meanwhile.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!finished && std::chrono::steady_clock::now() < limit)
        QCoreApplication::processEvents();
    if (!finished)
        channel.Cancel(); // a failure, not a hang
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_GT(before.load(), 0); // the count itself worked
    EXPECT_LE(after.load(), before.load());
}

// Back-to-back failing calls race the worker's handling of each error against the UI thread's disposal
// of the finished call; under ThreadSanitizer this showed the error being freed on the UI thread while
// the worker still read it.
TEST_F(ApplicationTest, synchronize_manyFailingCalls_eachErrorReachesTheWorkerIntact) {
    constexpr int kCalls = 300;
    TSyncChannel channel;
    std::atomic<int> intact{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < kCalls; ++i) {
            try {
                channel.Call([i] { throw Exception("call " + std::to_string(i) + " failed"); });
            } catch (const Exception& e) {
                if (e.Message() == "call " + std::to_string(i) + " failed")
                    ++intact;
            }
        }
        finished = true;
    });
    EXPECT_TRUE(RunUntil([&] { return finished.load(); }, 30000));
    if (!finished)
        channel.Cancel(); // a failure, not a hang
    worker.join();
    EXPECT_EQ(intact.load(), kCalls);
}

TEST_F(ApplicationTest, synchronize_cancelReleasesAWaitingWorker_withoutRunningTheCall) {
    TSyncChannel channel;
    std::atomic<int> result{-1};
    bool ran = false;
    std::thread worker([&] { result = static_cast<int>(channel.Call([&] { ran = true; })); });
    // The UI thread does not pump: the call stays queued until cancelled.
    QThread::msleep(20);
    channel.Cancel();
    worker.join();
    EXPECT_EQ(result.load(), static_cast<int>(TSyncChannel::Result::Cancelled));
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran) << "an abandoned call must not run later";
    EXPECT_EQ(channel.Call([] {}), TSyncChannel::Result::Ran) << "on the UI thread the call runs directly";
}

TEST_F(ApplicationTest, terminate_endsTheLoopWhenTheRequestIsTaken) {
    EXPECT_FALSE(app.Terminated());
    QTimer::singleShot(0, [&] { app.Terminate(); });
    ExecWatchdog watchdog;
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(app.Terminated());
}

namespace {
struct FailingForm : QWidget {
    FailingForm() { throw EInvalidCast("Invalid class typecast"); }
};
} // namespace

TEST_F(ApplicationTest, createForm_firstFormIsMain_closingItEndsRunWithZero) {
    QWidget* form = nullptr;
    QWidget* second = nullptr;
    app.CreateForm(form);
    app.CreateForm(second);
    EXPECT_EQ(app.MainForm(), form);
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, [&] {
        second->close();
        form->close();
    });
    ExecWatchdog watchdog;
    EXPECT_EQ(app.Run(), 0);
    QApplication::setQuitOnLastWindowClosed(false);
    delete second;
    delete form;
}

TEST(ApplicationForms, applicationObjectGoing_destroysItsFormsLastCreatedFirst_andClearsTheirReferences) {
    static QWidget* first = nullptr;
    static QWidget* second = nullptr;
    std::vector<std::string> destroyed;
    {
        TApplication app(*static_cast<QApplication*>(QCoreApplication::instance()));
        app.CreateForm(first);
        app.CreateForm(second);
        QObject::connect(first, &QObject::destroyed, [&] { destroyed.push_back("first"); });
        QObject::connect(second, &QObject::destroyed, [&] { destroyed.push_back("second"); });
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
}

TEST_F(ApplicationTest, createForm_constructorError_clearsReferenceAndPropagates) {
    FailingForm* form = reinterpret_cast<FailingForm*>(0x1);
    EXPECT_THROW(app.CreateForm(form), EInvalidCast);
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(app.MainForm(), nullptr);
}
