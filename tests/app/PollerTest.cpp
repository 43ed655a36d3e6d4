// The automatic poller and the altitude ramp, driven handler by handler (no waiting on real seconds),
// with the frames read at the transponder's end of a real pseudo-terminal; and one run against the
// bundled simulator with real timers.
#include "KxTypes.h"
#include "PanelFixture.h"
#include "TickClock.h"

namespace {

class Poller : public PanelFixture {
protected:
    void SetUp() override {
        PanelFixture::SetUp();
        Connect();
        CountDeliveries();
    }
    void TearDown() override {
        SetTickSourceForTesting({});
        PanelFixture::TearDown();
    }
    void Idle() {
        bool done = true;
        form->AppIdle(form.get(), done);
    }
    // The query timer fires and the idle pass sends; returns the frame that went out.
    std::string NextQuery() {
        form->queryTimerTimer(form->queryTimer);
        EXPECT_FALSE(form->queryTimer->Enabled());
        Idle();
        return Sent(1, 200);
    }
    void Answer(const std::string& frame) {
        form->SerialCommMessage(form->SerialComm, frame);
        Idle();
    }
    TColor LampColour() const { return form->autoIndi->LED()->ColorOn(); }
};

const char* const kLetters = "acirsvounldze";

} // namespace

TEST_F(Poller, autoThenCountdown_runsThirteenQueriesInOrder_andRestartsThePeriod) {
    form->seqEdit->setText("2");
    form->autobtn->click();
    EXPECT_TRUE(form->autoIndi->Checked());
    EXPECT_TRUE(form->autoSequencer->Enabled());
    EXPECT_EQ(form->seqCount, 2);
    EXPECT_EQ(LampColour(), clLime);
    form->autoSequencerTimer(form->autoSequencer);
    EXPECT_EQ(form->seqCount, 1);
    EXPECT_FALSE(form->queryTimer->Enabled());
    form->autoSequencerTimer(form->autoSequencer);
    EXPECT_EQ(form->seqCount, 0);
    EXPECT_EQ(LampColour(), clRed);
    EXPECT_TRUE(form->queryTimer->Enabled());
    EXPECT_EQ(form->queryTimer->Interval(), 60u);
    EXPECT_FALSE(form->autoSequencer->Enabled());
    EXPECT_TRUE(form->wdt->Enabled());
    EXPECT_EQ(form->wdt->Interval(), 5000u);

    for (int step = 1; step <= 13; ++step) {
        const std::string query = NextQuery();
        EXPECT_EQ(query, std::string("\x02") + kLetters[step - 1] + "=?\x03") << "step " << step;
        EXPECT_EQ(form->Label16->Caption(), QString::number(step));
        if (step < 13) {
            EXPECT_EQ(form->queryStep, step);
            Answer(F(std::string(1, kLetters[step - 1]) + "=0"));
            EXPECT_TRUE(form->queryTimer->Enabled()) << "the answer arms the next query";
        }
    }
    EXPECT_EQ(LampColour(), clGreen);
    EXPECT_EQ(form->queryStep, 0);
    EXPECT_EQ(form->seqCount, 2);
    EXPECT_TRUE(form->autoSequencer->Enabled());
    EXPECT_FALSE(form->queryTimer->Enabled());
    EXPECT_EQ(form->Label16->Caption(), "13");
    // The watchdog was not stopped by the end of the sequence.
    EXPECT_TRUE(form->wdt->Enabled());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Poller, watchdog_cutsAStalledSequence_andTheNextStartsFromStepOne) {
    form->autobtn->click();
    form->autoSequencerTimer(form->autoSequencer);
    NextQuery();
    NextQuery(); // no answer: the chain stops here
    EXPECT_EQ(form->queryStep, 2);
    form->wdtTimer(form->wdt);
    EXPECT_EQ(LampColour(), clGreen);
    EXPECT_EQ(form->seqCount, 1);
    EXPECT_EQ(form->queryStep, 0);
    EXPECT_TRUE(form->autoSequencer->Enabled());
    EXPECT_FALSE(form->wdt->Enabled());
    form->autoSequencerTimer(form->autoSequencer);
    EXPECT_EQ(LampColour(), clRed);
    EXPECT_EQ(NextQuery(), F("a=?"));
    EXPECT_EQ(form->Label16->Caption(), "1");
}

TEST_F(Poller, autoOff_leavesAnArmedWatchdogRunning) {
    form->autobtn->click();
    form->autoSequencerTimer(form->autoSequencer);
    form->autobtn->click();
    EXPECT_FALSE(form->autoIndi->Checked());
    EXPECT_FALSE(form->autoSequencer->Enabled());
    EXPECT_TRUE(form->wdt->Enabled());
    EXPECT_EQ(form->queryStep, 0);
}

TEST_F(Poller, badPeriod_onAutoKeepsOldCount_atStepThirteenStopsBeforeSending) {
    form->seqCount = 5;
    form->seqEdit->setText("1x");
    form->autobtn->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "'1x' is not a valid integer value.");
    EXPECT_TRUE(form->autoIndi->Checked());
    EXPECT_TRUE(form->autoSequencer->Enabled());
    EXPECT_EQ(form->seqCount, 5);

    form->seqCount = 1;
    form->autoSequencerTimer(form->autoSequencer);
    form->queryStep = 12;
    form->queryTimerTimer(form->queryTimer);
    app->DoIdle(); // as the loop runs it: the error goes to the report
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(form->queryStep, 0);
    EXPECT_EQ(LampColour(), clGreen);
    EXPECT_FALSE(form->autoSequencer->Enabled());
    EXPECT_EQ(Sent(0, 50), "") << "the last query is not sent";
}

TEST_F(Poller, periodOfZero_neverStartsASequence_butAnyMessageArmsTheQuery) {
    form->seqEdit->setText("0");
    form->autobtn->click();
    EXPECT_EQ(form->seqCount, 0);
    Answer(std::string("\x02*\x03", 3));
    EXPECT_TRUE(form->queryTimer->Enabled());
    form->queryTimer->SetEnabled(false);
    form->autoSequencerTimer(form->autoSequencer);
    EXPECT_EQ(form->seqCount, -1);
    EXPECT_FALSE(form->queryTimer->Enabled());
}

TEST_F(Poller, pingLamp_expiresOnlyWhenAQueryGoesOut_acrossTheTickWrap) {
    std::uint32_t now = 0xFFFFFF00u;
    SetTickSourceForTesting([&] { return now; });
    Answer(F("p=Y"));
    EXPECT_EQ(form->pingTick, 0xFFFFFF00u);
    EXPECT_TRUE(form->ledPing->Checked());
    now = 0x000000F4u; // 500 ms later, past the wrap: not more than 500
    form->queryStep = 0;
    NextQuery();
    EXPECT_TRUE(form->ledPing->Checked());
    now = 0x000000F5u;
    NextQuery();
    EXPECT_FALSE(form->ledPing->Checked());
    EXPECT_EQ(form->pingTick, 0u);
    EXPECT_EQ(form->lblPing->Caption(), "");
}

TEST_F(Poller, simulatedAltitude_replacesTheFirstQuery) {
    form->altitudeBtnClick(form->altitudeBtn);
    EXPECT_TRUE(form->indiAlt->Checked());
    EXPECT_TRUE(form->altTimer->Enabled());
    EXPECT_EQ(form->altTimer->Interval(), 3500u);
    EXPECT_EQ(NextQuery(), F("a=100"));
    EXPECT_EQ(NextQuery(), F("c=?"));
    form->altitudeBtnClick(form->altitudeBtn);
    EXPECT_FALSE(form->altTimer->Enabled());
    form->queryStep = 0;
    EXPECT_EQ(NextQuery(), F("a=?"));
}

TEST_F(Poller, altitudeRamp_climbsWrapsAndRestartsAsTheTextsSay) {
    const auto step = [&] {
        form->altTimerTimer(form->altTimer);
        return form->lblAltActual->Caption();
    };
    EXPECT_EQ(form->lblAltActual->Caption(), "100");
    EXPECT_EQ(step(), "125");
    form->lblAltActual->SetCaption("9975");
    EXPECT_EQ(step(), "10000");
    EXPECT_EQ(step(), "10025");
    EXPECT_EQ(step(), "100");

    form->edMaxAlt->setText("65511"); // the limit is never reached: the ramp wraps through 16 bits
    form->lblAltActual->SetCaption("65500");
    EXPECT_EQ(step(), "65525");
    EXPECT_EQ(step(), "14");

    form->edMaxAlt->setText("10000");
    form->edMinAlt->setText("-100"); // copied unchanged, then wrapped by the next step
    EXPECT_EQ(form->lblAltActual->Caption(), "-100");
    EXPECT_EQ(step(), "65461");
    EXPECT_EQ(step(), "65436");

    form->edMinAlt->setText("20000"); // above max + 25: every step writes the minimum
    EXPECT_EQ(step(), "20000");
    EXPECT_EQ(step(), "20000");

    form->lblAltActualDblClick(form->lblAltActual);
    EXPECT_EQ(form->lblAltActual->Caption(), "0");
    EXPECT_EQ(step(), "25");
    EXPECT_EQ(step(), "50");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Poller, altitudeRamp_nonIntegerCaptionFailsEveryStep_timerGoesOn) {
    form->altitudeBtnClick(form->altitudeBtn);
    form->edMinAlt->setText("");
    for (int i = 0; i < 2; ++i)
        app->Guard([&] { form->altTimerTimer(form->altTimer); });
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "'' is not a valid integer value.");
    EXPECT_EQ(form->lblAltActual->Caption(), "");
    EXPECT_TRUE(form->altTimer->Enabled());
}

TEST_F(Poller, encoderSource_showsOrHidesItsEightControls_andMenuShowsTheGroup) {
    const std::vector<QWidget*> eight = {form->edMaxAlt,    form->edMinAlt,     form->Label13,
                                         form->Label14,     form->lblAltActual, form->lblAltitudeSource,
                                         form->altitudeBtn, form->indiAlt};
    form->rbEncSource->SetItemIndex(1);
    for (QWidget* w : eight)
        EXPECT_FALSE(w->isHidden()) << w->objectName().toStdString();
    form->altitudeBtnClick(form->altitudeBtn);
    form->rbEncSource->SetItemIndex(0);
    for (QWidget* w : eight)
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
    EXPECT_TRUE(form->altTimer->Enabled()) << "hiding stops nothing";
    EXPECT_TRUE(form->GroupBox9->isHidden());
    form->mnuAltitudeSequencer->trigger();
    EXPECT_FALSE(form->GroupBox9->isHidden());
    form->BitBtn7->click();
    EXPECT_EQ(Sent(5), F("d=g"));
}

// Real timers, the real idle hook and the bundled simulator: "Auto" runs a whole sequence on its own.
TEST(PollerEndToEnd, autoAgainstTheSimulator_fillsSystemParameters) {
    const uavtest::PortMap ports("e2e");
    uavtest::SimulatorProcess sim(ports.Dir(), 4);
    ASSERT_TRUE(RunUntil([&] { return sim.HasLink(); }, 5000)) << sim.Log();
    {
        RecordedBoxes boxes;
        TApplication app(*qApp);
        app.SetMessageBoxService(&boxes);
        TForm1 form;
        form.edCommPort->setText("4");
        form.BitBtn6->click();
        ASSERT_TRUE(form.SerialComm->Active());
        form.autobtn->click();
        EXPECT_TRUE(RunUntil(
            [&] { return form.autoIndi->LED()->ColorOn() == clGreen && form.Label16->Caption() == "13"; },
            10000));
        EXPECT_FALSE(form.lblCode->Caption().isEmpty());
        EXPECT_FALSE(form.funcDisplay->Caption().isEmpty());
        EXPECT_FALSE(form.lblVersion->Caption().isEmpty());
        EXPECT_FALSE(form.ReplyIndi->Caption().isEmpty());
        EXPECT_TRUE(boxes.boxes.empty());
        app.SetMessageBoxService(nullptr);
    }
}
