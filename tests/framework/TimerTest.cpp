#include "Timer.h"
#include "Application.h"
#include "Exceptions.h"
#include "FrameworkTestUtil.h"

#include <QThread>
#include <gtest/gtest.h>

namespace {

class TimerTest : public ::testing::Test {
protected:
    void TearDown() override { TTimer::SetStarterForTesting({}); }
    QApplication& qapp = *static_cast<QApplication*>(QCoreApplication::instance());
};

} // namespace

TEST_F(TimerTest, newTimer_isEnabledAt1000msButDoesNotCountWithoutHandler) {
    TTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Counting());
    timer.SetOnTimer([](TObject*) {});
    EXPECT_TRUE(timer.Counting());
}

TEST_F(TimerTest, countdownExistsOnlyWithEnabledNonZeroIntervalAndHandler) {
    TTimer timer;
    timer.SetEnabled(false);
    timer.SetOnTimer([](TObject*) {});
    EXPECT_FALSE(timer.Counting());
    timer.SetInterval(0);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.Counting());
    timer.SetInterval(50);
    EXPECT_TRUE(timer.Counting());
    timer.SetOnTimer({});
    EXPECT_FALSE(timer.Counting());
}

TEST_F(TimerTest, sameValue_leavesCountdownAlone_newValueRestartsIt) {
    int starts = 0;
    TTimer::SetStarterForTesting([&](QObject* target, std::uint32_t ms) {
        ++starts;
        return target->startTimer(static_cast<int>(ms));
    });
    TTimer timer;
    timer.SetOnTimer([](TObject*) {});
    ASSERT_EQ(starts, 1);
    timer.SetEnabled(true);
    timer.SetInterval(1000);
    EXPECT_EQ(starts, 1) << "an unchanged value must not restart the countdown";
    timer.SetInterval(500);
    EXPECT_EQ(starts, 2);
    timer.SetOnTimer([](TObject*) {});
    EXPECT_EQ(starts, 3) << "assigning the handler always re-arms";
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    EXPECT_EQ(starts, 4);
}

TEST_F(TimerTest, refusedCountdown_raisesNotEnoughTimers_andKeepsTheNewValue) {
    TTimer timer;
    timer.SetEnabled(false);
    timer.SetOnTimer([](TObject*) {});
    TTimer::SetStarterForTesting([](QObject*, std::uint32_t) { return 0; });
    try {
        timer.SetEnabled(true);
        FAIL() << "no error";
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Not enough timers available");
    }
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.Counting());
}

TEST_F(TimerTest, firesPeriodically_withItselfAsSender) {
    TTimer timer;
    int fired = 0;
    TObject* sender = nullptr;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        ++fired;
    });
    ASSERT_TRUE(RunUntil([&] { return fired >= 3; }));
    EXPECT_EQ(sender, &timer);
}

TEST_F(TimerTest, timerDisablingItselfInHandler_firesNoMore) {
    TTimer timer;
    int fired = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject*) {
        ++fired;
        timer.SetEnabled(false);
    });
    ASSERT_TRUE(RunUntil([&] { return fired >= 1; }));
    TTimer watch; // a second timer proves time went on
    int ticks = 0;
    watch.SetInterval(5);
    watch.SetOnTimer([&](TObject*) { ++ticks; });
    ASSERT_TRUE(RunUntil([&] { return ticks >= 5; }));
    EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, severalMissedPeriods_yieldOneEvent) {
    TTimer timer;
    int fired = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TObject*) { ++fired; });
    QThread::msleep(120); // the UI thread is busy for many periods
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, handlerError_isReported_andTimerKeepsRunning) {
    TApplication app(qapp);
    RecordedBoxes boxes;
    app.SetMessageBoxService(&boxes);
    TTimer timer;
    int fired = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject*) {
        ++fired;
        throw Exception("tick failed");
    });
    ASSERT_TRUE(RunUntil([&] { return fired >= 2; }));
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.front().text, "tick failed.");
    EXPECT_TRUE(timer.Counting());
}

TEST_F(TimerTest, handlerThrowingANonStandardError_withoutApplicationObject_stopsAtTheGuard) {
    ASSERT_EQ(Application, nullptr);
    TTimer timer;
    int fired = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject*) {
        ++fired;
        throw 42; // would end the process if it reached Qt
    });
    ASSERT_TRUE(RunUntil([&] { return fired >= 2; }));
    EXPECT_TRUE(timer.Counting());
}
