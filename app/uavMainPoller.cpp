// The automatic poller (thirteen queries in turn on the operator's period, with its watchdog) and the
// simulated serial altitude encoder whose value replaces the first query.
#include "uavMain.h"

#include "IntConv.h"
#include "KxTypes.h"
#include "Latin1.h"
#include "Serial2.h"
#include "TickClock.h"
#include "Timer.h"
#include "TransponderFrames.h"

namespace {

std::int32_t IntegerOf(const QString& text) {
    return StrToInt(Bytes(text));
}

// 32-bit arithmetic that wraps like the registers it was written for, instead of overflowing.
std::int32_t Wrapped(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

constexpr std::uint32_t kQueryDelayMs = 60;
constexpr std::uint32_t kWatchdogMs = 5000;
constexpr std::uint32_t kPingLampMs = 500;
constexpr std::int32_t kAltitudeStep = 25;

} // namespace

void TForm1::autobtnClick(TObject*) {
    queryStep = 0;
    if (autoIndi->Checked()) {
        autoIndi->SetChecked(false);
        autoSequencer->SetEnabled(false);
    } else {
        autoIndi->SetChecked(true);
        autoSequencer->SetEnabled(true);
        seqCount = IntegerOf(seqEdit->text());
    }
    autoSequencer->SetEnabled(autoIndi->Checked());
}

void TForm1::autoSequencerTimer(TObject*) {
    seqCount = Wrapped(std::int64_t{seqCount} - 1);
    if (seqCount != 0)
        return;
    autoIndi->LED()->SetColorOn(clRed);
    queryTimer->SetInterval(kQueryDelayMs);
    queryTimer->SetEnabled(true);
    autoSequencer->SetEnabled(false);
    // A watchdog already counting keeps its course.
    wdt->SetInterval(kWatchdogMs);
    wdt->SetEnabled(true);
}

void TForm1::queryTimerTimer(TObject*) {
    queryDue = true;
    queryTimer->SetEnabled(false);
}

void TForm1::PollAfterReply() {
    if (seqCount == 0 && autoIndi->Checked())
        queryTimer->SetEnabled(true);
}

void TForm1::SendDueQuery() {
    queryDue = false;
    ++queryStep;
    Label16->SetCaption(QString::number(queryStep));
    const std::string frame = queryStep == 1 && indiAlt->Checked()
                                  ? proto::SimulatedAltitudeFrame(Bytes(lblAltActual->Caption()))
                                  : proto::QueryFrame(queryStep);
    if (queryStep == proto::kQueryStepCount) {
        queryTimer->SetEnabled(false);
        autoIndi->LED()->SetColorOn(clGreen);
        queryStep = 0;
        seqCount = IntegerOf(seqEdit->text());
        autoSequencer->SetEnabled(true);
    }
    Send(frame);
    ExpirePingLamp();
}

void TForm1::ExpirePingLamp() {
    // Unsigned difference: right across the tick count's wrap to 0.
    if (pingTick != 0 && GetTickCount() - pingTick > kPingLampMs) {
        pingTick = 0;
        ledPing->SetChecked(false);
        lblPing->SetCaption(QString());
    }
}

void TForm1::wdtTimer(TObject*) {
    autoIndi->LED()->SetColorOn(clGreen);
    seqCount = 1;
    queryStep = 0;
    autoSequencer->SetEnabled(true);
    wdt->SetEnabled(false);
}

void TForm1::rbEncSourceClick(TObject*) {
    const bool serial = rbEncSource->ItemIndex() != 0;
    for (QWidget* control : std::initializer_list<QWidget*>{
             edMaxAlt, edMinAlt, Label13, Label14, lblAltActual, lblAltitudeSource, altitudeBtn, indiAlt})
        control->setVisible(serial);
}

void TForm1::BitBtn7Click(TObject*) {
    if (!SerialComm->Active())
        return;
    const std::string frame = proto::EncoderSourceFrameForIndex(rbEncSource->ItemIndex());
    if (!frame.empty())
        Send(frame);
}

void TForm1::altitudeBtnClick(TObject*) {
    indiAlt->SetChecked(!indiAlt->Checked());
    altTimer->SetEnabled(indiAlt->Checked());
}

void TForm1::altTimerTimer(TObject*) {
    const std::int32_t current = IntegerOf(lblAltActual->Caption());
    const std::int32_t limit = Wrapped(std::int64_t{IntegerOf(edMaxAlt->text())} + kAltitudeStep);
    const std::int32_t next = current < limit
                                  ? Wrapped(std::int64_t{IntegerOf(lblAltActual->Caption())} + kAltitudeStep)
                                  : IntegerOf(edMinAlt->text());
    lblAltActual->SetCaption(QString::number(static_cast<std::uint16_t>(next)));
}

void TForm1::edMinAltChange(TObject*) {
    lblAltActual->SetCaption(edMinAlt->text());
}

void TForm1::lblAltActualDblClick(TObject*) {
    lblAltActual->SetCaption(QStringLiteral("0"));
}
