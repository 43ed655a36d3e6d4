#include "KxFlashT.h"
#include "_KxProc.h"

#include <QObject>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct Step {
    std::uint32_t Tick;
    QObject* Control;
    bool On;
};

// Steps a private list tick by tick and records what each control was told.
class FlashListTest : public ::testing::Test {
protected:
    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i)
            list.Tick([this](QObject* c, std::uint32_t w, std::int32_t l) {
                if (c == thrower)
                    throw std::runtime_error("broken lamp");
                steps.push_back({w, c, l != 0});
            });
    }
    std::vector<Step> StepsOf(QObject* c) const {
        std::vector<Step> out;
        for (const Step& s : steps)
            if (s.Control == c)
                out.push_back(s);
        return out;
    }
    TFlashList list;
    std::vector<Step> steps;
    QObject* thrower = nullptr;
    QObject a, b, c;
};

} // namespace

TEST_F(FlashListTest, stepComesOnlyWhenTheControlsBitChanges) {
    list.Add(&a, 8, 0); // stamp 8: bit 3 set, counter bit 3 clear at the first ticks
    Tick(31);
    const auto got = StepsOf(&a);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].Tick, 1u); // first tick already differs from the stamp
    EXPECT_FALSE(got[0].On);
    EXPECT_EQ(got[1].Tick, 8u);
    EXPECT_TRUE(got[1].On);
    EXPECT_EQ(got[2].Tick, 16u);
    EXPECT_EQ(got[3].Tick, 24u);
}

TEST_F(FlashListTest, stampMatchingCounterBit_firstStepWaitsForNextChange) {
    list.Add(&a, 8, 0x10); // stamp 0x18 has bit 3 set
    list.SetCounterForTesting(8);
    Tick(8);
    const auto got = StepsOf(&a);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Tick, 16u);
}

TEST_F(FlashListTest, twoLampsOfOneRate_blinkInPhaseFromSecondsFirstStep) {
    list.Add(&a, 8, 1000);
    Tick(13);
    list.Add(&b, 8, 2005);
    Tick(40);
    ASSERT_GE(StepsOf(&b).size(), 3u);
    // Replay both lamps' states tick by tick; once b has had its first step they must agree.
    bool aOn = true, bOn = true, bStarted = false;
    auto next = steps.begin();
    for (std::uint32_t t = 1; t <= list.Counter(); ++t) {
        for (; next != steps.end() && next->Tick == t; ++next) {
            (next->Control == &a ? aOn : bOn) = next->On;
            bStarted |= next->Control == &b;
        }
        if (bStarted) {
            EXPECT_EQ(aOn, bOn) << "tick " << t;
        }
    }
}

TEST_F(FlashListTest, fasterLampIsOffWheneverSlowerOneChanges) {
    list.Add(&a, 4, 0);
    list.Add(&b, 8, 0);
    Tick(64);
    bool fastOn = false;
    for (const Step& s : steps) {
        if (s.Control == &a)
            fastOn = s.On;
        if (s.Control == &b) {
            EXPECT_FALSE(fastOn) << "tick " << s.Tick;
        }
    }
}

TEST_F(FlashListTest, reRegistering_keepsOneEntryWithNewCodeAndStamp) {
    list.Add(&a, 8, 100);
    list.Add(&b, 2, 100);
    list.Add(&a, 16, 500);
    const auto entries = list.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Control, &a);
    EXPECT_EQ(entries[0].Code, 16u);
    EXPECT_EQ(entries[0].Stamp, 516u);
}

TEST_F(FlashListTest, removeWithoutEntryAndNullAdd_changeNothing) {
    list.Add(&a, 8, 0);
    list.Add(nullptr, 8, 0);
    list.Remove(&b);
    ASSERT_EQ(list.Entries().size(), 1u);
    list.Remove(&a);
    EXPECT_TRUE(list.Entries().empty());
}

TEST_F(FlashListTest, throwingControl_othersGoOnAndItsStampStays) {
    thrower = &b;
    for (QObject* o : {&a, &b, &c})
        list.Add(o, 1, 1); // stamp 2: bit 0 differs at the first tick
    Tick();
    EXPECT_EQ(list.Entries()[1].Stamp, 2u); // still the registration stamp
    EXPECT_EQ(list.Entries()[2].Stamp, 1u);
    Tick(3);
    EXPECT_EQ(StepsOf(&a).size(), 4u);
    EXPECT_EQ(StepsOf(&c).size(), 4u);
}

TEST_F(FlashListTest, deliveryThatRemovesALaterEntry_skipsItAndReachesTheRest) {
    for (QObject* o : {&a, &b, &c})
        list.Add(o, 1, 1);
    list.Tick([this](QObject* ctl, std::uint32_t w, std::int32_t) {
        steps.push_back({w, ctl, false});
        if (ctl == &a)
            list.Remove(&b);
    });
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1].Control, &c);
    const auto entries = list.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Stamp, 1u);
    EXPECT_EQ(entries[1].Stamp, 1u);
}

TEST_F(FlashListTest, counterWrapsToZero) {
    list.SetCounterForTesting(0xFFFFFFFFu);
    list.Add(&a, 1, 0); // stamp 1: bit 0 set, counter after wrap has it clear
    Tick();
    EXPECT_EQ(list.Counter(), 0u);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_FALSE(steps[0].On);
}

TEST_F(FlashListTest, storageKeepsTwoFreePlacesAfterEachAdd) {
    QObject extra[12];
    for (QObject& o : extra) {
        list.Add(&o, 1, 0);
        EXPECT_GE(list.Capacity() - list.Entries().size(), 2u);
    }
}

TEST(FlashTimer, runsTheProgramWideClockUntilStopped) {
    StartFlashTimer();
    StartFlashTimer(); // a second start keeps the one timer
    const std::uint32_t before = FlashList().Counter();
    for (int i = 0; i < 200 && FlashList().Counter() - before < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(FlashList().Counter() - before, 2u);
    StopFlashTimer();
    EXPECT_FALSE(FlashTimerRunning());
    const std::uint32_t stopped = FlashList().Counter();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(FlashList().Counter(), stopped);
}
