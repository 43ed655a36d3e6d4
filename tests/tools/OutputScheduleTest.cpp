#include "OutputSchedule.h"

#include <gtest/gtest.h>

using sim::Nanos;
using sim::OutputSchedule;
using namespace std::chrono_literals;

namespace {

TEST(OutputSchedule, unpacedItem_isHeldUntilItsTimeThenGoesOutWhole) {
    OutputSchedule schedule;
    schedule.Push("\x02"
                  "c=1200\x03",
                  Nanos(5ms));
    EXPECT_EQ(schedule.NextDue(), Nanos(5ms));
    EXPECT_EQ(schedule.TakeDue(Nanos(4ms)).bytes, "");
    const auto batch = schedule.TakeDue(Nanos(5ms));
    EXPECT_EQ(batch.bytes, "\x02"
                           "c=1200\x03");
    ASSERT_EQ(batch.completed.size(), 1u);
    EXPECT_FALSE(batch.completed[0].garbage);
    EXPECT_TRUE(schedule.Empty());
    EXPECT_FALSE(schedule.NextDue());
}

TEST(OutputSchedule, itemsLeaveByReadinessAndEqualTimesKeepTheirOrder) {
    OutputSchedule schedule;
    schedule.Push("late", Nanos(50ms));
    schedule.Push("noise", Nanos(10ms), true);
    schedule.Push("frame", Nanos(10ms));
    const auto batch = schedule.TakeDue(Nanos(60ms));
    EXPECT_EQ(batch.bytes, "noiseframelate");
    ASSERT_EQ(batch.completed.size(), 3u);
    EXPECT_TRUE(batch.completed[0].garbage);
    EXPECT_EQ(batch.completed[2].bytes, "late");
}

TEST(OutputSchedule, pacedBytes_leaveOneAWireByteTimeApart) {
    OutputSchedule schedule(true);
    schedule.Push("abc", Nanos(0));
    EXPECT_EQ(schedule.TakeDue(Nanos(0)).bytes, "a");
    EXPECT_EQ(schedule.NextDue(), sim::kByteTime9600);
    EXPECT_EQ(schedule.TakeDue(sim::kByteTime9600 - Nanos(1)).bytes, "");
    EXPECT_EQ(schedule.TakeDue(sim::kByteTime9600).bytes, "b");
    const auto last = schedule.TakeDue(2 * sim::kByteTime9600);
    EXPECT_EQ(last.bytes, "c");
    ASSERT_EQ(last.completed.size(), 1u);
    EXPECT_EQ(last.completed[0].bytes, "abc");
}

TEST(OutputSchedule, pacedLateWake_sendsOneByteAndRestartsTheWireInsteadOfBursting) {
    OutputSchedule schedule(true);
    schedule.Push("abc", Nanos(0));
    EXPECT_EQ(schedule.TakeDue(Nanos(10ms)).bytes, "a");
    EXPECT_EQ(schedule.NextDue(), Nanos(10ms) + sim::kByteTime9600);
}

TEST(OutputSchedule, pacedFrameReadyEarlier_doesNotCutIntoAFrameOnTheWire) {
    OutputSchedule schedule(true);
    schedule.Push("long", Nanos(1ms));
    EXPECT_EQ(schedule.TakeDue(Nanos(1ms)).bytes, "l");
    schedule.Push("*", Nanos(0)); // ready before the started frame, still has to wait for it
    std::string wire = "l";
    for (int i = 1; i < 10; ++i)
        wire += schedule.TakeDue(Nanos(1ms) + i * sim::kByteTime9600).bytes;
    EXPECT_EQ(wire, "long*");
}

TEST(OutputSchedule, clear_dropsEverythingQueued) {
    OutputSchedule schedule;
    schedule.Push("a", Nanos(0));
    schedule.Push("", Nanos(0)); // nothing to send is not queued
    schedule.Clear();
    EXPECT_TRUE(schedule.Empty());
    EXPECT_EQ(schedule.TakeDue(Nanos(1s)).bytes, "");
}

} // namespace
