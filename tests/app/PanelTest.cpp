// The panel's handlers on the real window, talking over a real pseudo-terminal: connecting, the exact
// bytes of every command, the console, and replies reaching the "System Parameters" display.
#include "KxTypes.h"
#include "PanelFixture.h"

#include <QHelpEvent>
#include <QPlainTextEdit>
#include <QToolTip>
#include <cerrno>

namespace {

class Panel : public PanelFixture {};

const std::vector<QWidget*> CommandButtons(TForm1& f) {
    return {f.statusBtn, f.BitBtn2, f.BitBtn3, f.voltsetBtn, f.BitBtn1,       f.BitBtn4,
            f.autobtn,   f.BitBtn5, f.BitBtn7, f.btnPing,    f.InterrogateBtn};
}

} // namespace

TEST_F(Panel, connectAndDisconnect_followTheButtonTag) {
    for (QWidget* b : CommandButtons(*form))
        EXPECT_FALSE(b->isEnabled());
    Connect();
    EXPECT_TRUE(form->SerialComm->Active());
    EXPECT_EQ(form->SerialComm->Port(), 7);
    EXPECT_EQ(form->BitBtn6->Tag(), 1);
    EXPECT_EQ(form->BitBtn6->text(), "Disconnect");
    for (QWidget* b : CommandButtons(*form))
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

    // Disconnecting stops the poller's countdown and query timers, not the watchdog.
    form->autobtn->click();
    form->wdt->SetEnabled(true);
    form->queryTimer->SetEnabled(true);
    form->BitBtn6->click();
    EXPECT_FALSE(form->SerialComm->Active());
    EXPECT_FALSE(form->autoIndi->Checked());
    EXPECT_FALSE(form->autoSequencer->Enabled());
    EXPECT_FALSE(form->queryTimer->Enabled());
    EXPECT_TRUE(form->wdt->Enabled());
    EXPECT_EQ(form->BitBtn6->Tag(), 0);
    EXPECT_EQ(form->BitBtn6->text(), "Connect");
    for (QWidget* b : CommandButtons(*form))
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Panel, portField_blankDoesNothing_badTextReportsAndStaysDisconnected) {
    Connect(QStringLiteral("   "));
    EXPECT_EQ(form->BitBtn6->Tag(), 0);
    EXPECT_TRUE(boxes.boxes.empty());

    for (const char* text : {"abc", "7 ", "1\t", "99999999999"}) {
        boxes.boxes.clear();
        Connect(QString::fromLatin1(text));
        ASSERT_EQ(boxes.boxes.size(), 1u) << text;
        EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(text));
        EXPECT_EQ(boxes.boxes[0].caption, app->Title());
        EXPECT_EQ(form->BitBtn6->Tag(), 0);
        EXPECT_FALSE(form->SerialComm->Active());
    }
    // Leading blanks convert; the port keeps the number's low eight bits (263 = 256 + 7).
    boxes.boxes.clear();
    Connect(QStringLiteral("  263"));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(form->SerialComm->Port(), 7);
    EXPECT_TRUE(form->SerialComm->Active());
}

TEST_F(Panel, portThatFailsToOpen_isReported_yetPanelEntersConnectedState) {
    Connect(QStringLiteral("200"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "No such file or directory");
    EXPECT_EQ(form->BitBtn6->Tag(), 1);
    EXPECT_FALSE(form->SerialComm->Active());
    // Guarded buttons stay quiet; the others hand their frame to the closed port, which reports once.
    form->BitBtn2->click();
    form->voltsetBtn->click();
    EXPECT_EQ(form->SerialComm->ErrorCode(), ENOENT);
    form->BitBtn3->click();
    form->btnPing->click();
    EXPECT_EQ(form->SerialComm->ErrorCode(), EBADF);
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(Panel, commandButtons_sendTheirExactFrames) {
    Connect();
    struct Case {
        const char* what;
        std::function<void(TForm1&)> act;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"mode, nothing selected", [](TForm1& f) { f.statusBtn->click(); }, ""},
        {"mode Standby", [](TForm1& f) { f.rbStatus->SetItemIndex(0), f.statusBtn->click(); }, F("s=t")},
        {"mode A", [](TForm1& f) { f.rbStatus->SetItemIndex(1), f.statusBtn->click(); }, F("s=a")},
        {"mode C", [](TForm1& f) { f.rbStatus->SetItemIndex(2), f.statusBtn->click(); }, F("s=c")},
        {"empty code", [](TForm1& f) { f.BitBtn2->click(); },
         std::string("\x02"
                     "c=\x03",
                     4)},
        {"code as typed", [](TForm1& f) { f.Edit1->setText(" 7 70"), f.BitBtn2->click(); }, F("c= 7 70")},
        {"SPI", [](TForm1& f) { f.BitBtn3->click(); }, F("i=s")},
        {"voltage, nothing selected", [](TForm1& f) { f.voltsetBtn->click(); }, ""},
        {"14V", [](TForm1& f) { f.rbVoltage->SetItemIndex(0), f.voltsetBtn->click(); }, F("v=1")},
        {"28V", [](TForm1& f) { f.rbVoltage->SetItemIndex(1), f.voltsetBtn->click(); }, F("v=2")},
        {"low set-point empty", [](TForm1& f) { f.BitBtn1->click(); }, ""},
        {"low set-point blank", [](TForm1& f) { f.lvEdit->setText(" "), f.BitBtn1->click(); }, F("u= ")},
        {"high set-point", [](TForm1& f) { f.hvEdit->setText("28.5"), f.BitBtn4->click(); }, F("o=28.5")},
        {"replies, nothing selected", [](TForm1& f) { f.InterrogateBtn->click(); }, ""},
        {"replies on", [](TForm1& f) { f.rbInterrogate->SetItemIndex(0), f.InterrogateBtn->click(); },
         F("r=y")},
        {"replies off", [](TForm1& f) { f.rbInterrogate->SetItemIndex(1), f.InterrogateBtn->click(); },
         F("r=n")},
        {"encoder Gillham", [](TForm1& f) { f.BitBtn7->click(); }, F("d=g")},
        {"encoder serial", [](TForm1& f) { f.rbEncSource->SetItemIndex(1), f.BitBtn7->click(); }, F("d=s")},
        {"ping", [](TForm1& f) { f.btnPing->click(); }, F("p=y")},
    };
    for (const Case& c : cases) {
        c.act(*form);
        EXPECT_EQ(Sent(c.bytes.size(), c.bytes.empty() ? 50 : 3000), c.bytes) << c.what;
    }
    EXPECT_EQ(Caption("lblPing"), "Requested");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Panel, console_closedPortAsksNothingSent_openPortSendsEchoesAndWaitsForAnswer) {
    form->commStr->setText("s=?");
    form->BitBtn5->setEnabled(true);
    form->BitBtn5->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Comm Port not Initialised");
    EXPECT_EQ(boxes.boxes[0].caption, "Information");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(MB_OKCANCEL));
    EXPECT_EQ(form->commStr->text(), "s=?");
    EXPECT_FALSE(form->manualPending);

    Connect();
    CountDeliveries();
    form->BitBtn5->click();
    EXPECT_EQ(Sent(5), F("s=?"));
    EXPECT_EQ(form->RxData->toPlainText(), "<02>s=?<03>");
    EXPECT_TRUE(form->commStr->text().isEmpty());
    EXPECT_TRUE(form->manualPending);
    Reply(F("s=a"));
    Reply(F("z=1.2")); // only the first answer after a command is echoed
    EXPECT_EQ(form->RxData->toPlainText(), "<02>s=?<03>\n<STX>s=a<ETX>");
    EXPECT_FALSE(form->manualPending);

    // An empty line is a frame too; a very long one goes out whole.
    form->BitBtn5->click();
    EXPECT_EQ(Sent(2), std::string("\x02\x03", 2));
    EXPECT_TRUE(form->RxData->toPlainText().endsWith("\n<02><03>"));
    const QString longLine(10000, QLatin1Char('x'));
    form->commStr->setText(longLine);
    form->BitBtn5->click();
    EXPECT_EQ(Sent(10002, 10000), F(std::string(10000, 'x')));
}

TEST_F(Panel, replies_updateTheDisplayByLetter) {
    Connect();
    CountDeliveries();
    struct Case {
        std::string frame;
        const char* label;
        const char* text;
    };
    const Case cases[] = {
        {F("a=12300"), "lblAltitude", "12300"},
        {F("c=7700"), "lblCode", "7700"},
        {F("c=12"), "lblCode", "7700"},     // fewer than four characters: unchanged
        {F("c=123"), "lblCode", "123\x03"}, // three: the end byte is the fourth
        {F("i=1"), "lblIdent", "Active"},
        {F("i=0"), "lblIdent", ""},
        {F("i="), "lblIdent", "Active"}, // only "0" puts it out
        {F("r=Y"), "ReplyIndi", "Enabled"},
        {F("r=y"), "ReplyIndi", "Enabled"}, // lower case is not understood
        {F("r=N"), "ReplyIndi", "Disabled"},
        {F("s=a"), "funcDisplay", "Mode A"},
        {F("s=l"), "funcDisplay", "Mode C/Alt"},
        {F("s#t"), "funcDisplay", "Standby"}, // the separator is not examined
        {F("s=f"), "funcDisplay", "Off"},
        {F("v=2"), "lblVoltage", "2"},
        {F("o=30"), "lblHigh", "30"},
        {F("u=11"), "lblLow", "11"},
        {F("z=<b>2.1</b>"), "lblVersion", "<b>2.1</b>"},
        {"\x02"
         "a\x03",
         "lblAltitude", ""},
        {F("p=N"), "lblPing", ""},
        {F("p=Y"), "lblPing", "Received"},
    };
    for (const Case& c : cases) {
        Reply(c.frame);
        EXPECT_EQ(Caption(c.label), QString::fromLatin1(c.text)) << c.frame;
    }
    EXPECT_TRUE(form->ledPing->Checked());
    EXPECT_NE(form->pingTick, 0u);
    EXPECT_TRUE(form->Ident->Checked()) << "an empty ident value lights the lamp";
}

TEST_F(Panel, statusAndEncoderReplies_selectRadioItems_encoderChangeShowsItsControls) {
    Connect();
    CountDeliveries();
    Reply(F("s=c"));
    EXPECT_EQ(form->rbStatus->ItemIndex(), 2);
    Reply(F("s=f")); // "Off" leaves the selection
    EXPECT_EQ(form->rbStatus->ItemIndex(), 2);
    Reply(F("s=t"));
    EXPECT_EQ(form->rbStatus->ItemIndex(), 0);
    EXPECT_TRUE(form->lblAltActual->isHidden());
    Reply(F("d=s"));
    EXPECT_EQ(form->rbEncSource->ItemIndex(), 1);
    EXPECT_FALSE(form->lblAltActual->isHidden()) << "a changed selection runs the click handler";
    // While the label itself is set visible, altitude answers go to it too, group hidden or not.
    Reply(F("a=500"));
    EXPECT_EQ(Caption("lblAltitudeSource"), "500");
    Reply(F("d=x"));
    EXPECT_EQ(form->rbEncSource->ItemIndex(), 1);
    Reply(F("d=g"));
    EXPECT_TRUE(form->lblAltActual->isHidden());
    Reply(F("a=600"));
    EXPECT_EQ(Caption("lblAltitude"), "600");
    EXPECT_EQ(Caption("lblAltitudeSource"), "500");
}

TEST_F(Panel, interrogation_lightsLampFor500msFromTheFirstIndication) {
    Connect();
    CountDeliveries();
    int starts = 0;
    TTimer::SetStarterForTesting([&](QObject* target, std::uint32_t ms) {
        if (target == form->rxTimer)
            ++starts;
        return target->startTimer(static_cast<int>(ms));
    });
    Reply(std::string("\x02*\x03", 3));
    EXPECT_TRUE(form->Intled->Checked());
    EXPECT_TRUE(form->rxTimer->Counting());
    EXPECT_EQ(form->rxTimer->Interval(), 500u);
    Reply(F("*=1"));
    EXPECT_EQ(starts, 1) << "a second indication must not restart the countdown";
    TTimer::SetStarterForTesting({});
    EXPECT_TRUE(RunUntil([&] { return !form->Intled->Checked(); }, 3000));
    EXPECT_FALSE(form->rxTimer->Enabled());
}

TEST_F(Panel, twoMessagesBeforeTheIdleHandler_bothReachTheDisplayInOrder) {
    form->SerialCommMessage(form->SerialComm, F("c=1234"));
    form->SerialCommMessage(form->SerialComm, F("c=5670"));
    form->SerialCommMessage(form->SerialComm, F("v=1"));
    bool done = true;
    form->AppIdle(form.get(), done);
    EXPECT_FALSE(done);
    EXPECT_TRUE(form->rxMsg.empty());
    EXPECT_EQ(Caption("lblCode"), "5670");
    EXPECT_EQ(Caption("lblVoltage"), "1");
}

TEST_F(Panel, everyDecodedMessage_movesARunningSequenceOn) {
    form->autoIndi->SetChecked(true);
    form->seqCount = 0;
    form->SerialCommMessage(form->SerialComm, F("c=1234"));
    form->SerialCommMessage(form->SerialComm, std::string("\x02Q\x03", 3));
    bool done = true;
    form->AppIdle(form.get(), done);
    EXPECT_TRUE(form->queryTimer->Enabled());
    // Not while the countdown runs.
    form->queryTimer->SetEnabled(false);
    form->seqCount = 3;
    form->SerialCommMessage(form->SerialComm, F("c=1234"));
    form->AppIdle(form.get(), done);
    EXPECT_FALSE(form->queryTimer->Enabled());
}

TEST_F(Panel, controlBytesAndHighBytes_showByteForByte) {
    Connect();
    CountDeliveries();
    form->commStr->setText(QStringLiteral("z=?"));
    form->BitBtn5->click();
    Sent(5);
    const std::string value("\x01\x7f\xe9\xff", 4);
    Reply(F("z=" + value));
    EXPECT_EQ(Caption("lblVersion"), QString::fromLatin1(value.data(), 4));
    EXPECT_TRUE(form->RxData->toPlainText().endsWith(
        QStringLiteral("<STX>z=") + QString::fromLatin1(value.data(), 4) + QStringLiteral("<ETX>")));
}

TEST_F(Panel, portFieldTooltip_listsWhereEachNumberLeads) {
    form->show();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), form->edCommPort->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(form->edCommPort, &help);
    const QString tip = QToolTip::text();
    EXPECT_TRUE(tip.contains(QStringLiteral("7: %1").arg(QString::fromStdString((mapDir / "com7").string()))))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("-> /dev/pts/"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QString::fromStdString(mapDir.string()))) << tip.toStdString();
    QToolTip::hideText();
}
