// The panel's behaviour behind its controls: connecting, the command buttons, the console, reception and
// the idle handler that decodes replies into the "System Parameters" display.
#include "uavMain.h"

#include "Application.h"
#include "DeviceControl.h"
#include "DisplayUpdate.h"
#include "IntConv.h"
#include "Latin1.h"
#include "OpenFailureHint.h"
#include "PortNames.h"
#include "Serial2.h"
#include "TickClock.h"
#include "Timer.h"
#include "TrafficLog.h"
#include "TransponderFrames.h"

#include <QHelpEvent>
#include <QToolTip>

namespace {

// The simulated altitude encoder steps every 3.5 s.
constexpr std::uint32_t kAltitudeStepMs = 3500;
// The interrogation lamp goes out this long after the indication that lit it.
constexpr std::uint32_t kInterrogationLampMs = 500;
// The port field's tooltip names this many COM numbers at most.
constexpr std::size_t kTooltipPorts = 16;

// Trimming as the port field's blank test knows it: every character up to the space counts as blank.
bool IsBlank(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > ' ')
            return false;
    return true;
}

} // namespace

void TForm1::FormCreate(TObject*) {
    if (Application)
        Application->SetOnIdle([this](TObject* sender, bool& done) { AppIdle(sender, done); });
    seqCount = StrToInt(Bytes(seqEdit->text()));
    lblAltActual->SetCaption(edMinAlt->text());
    altTimer->SetInterval(kAltitudeStepMs);
}

void TForm1::Send(const std::string& frame) {
    // Logged by the component's sent notice (CreateComponents) once the device has taken it.
    SerialComm->SendString(frame);
}

void TForm1::LogConnection(bool connected) {
    if (!trafficLog_)
        return;
    const std::string port = ComPortName(SerialComm->Port());
    if (connected) {
        // The link or adapter the operator's number stood for when the component opened it.
        loggedDevice_ = SerialComm->DevicePath();
        trafficLog_->Connected(port, loggedDevice_);
    } else {
        trafficLog_->Disconnected(port, loggedDevice_);
    }
}

void TForm1::CloseLine() {
    if (!SerialComm->Active())
        return;
    LogConnection(false);
    SerialComm->SetActive(false);
}

void TForm1::SetCommandButtonsEnabled(bool enabled) {
    for (QWidget* button :
         std::initializer_list<QWidget*>{statusBtn, BitBtn2, BitBtn3, voltsetBtn, BitBtn1, BitBtn4, autobtn,
                                         BitBtn5, BitBtn7, btnPing, InterrogateBtn})
        button->setEnabled(enabled);
}

void TForm1::BitBtn6Click(TObject*) {
    switch (BitBtn6->Tag()) {
    case 0:
        if (IsBlank(edCommPort->text()))
            return;
        // The port number is one byte: a larger number keeps its low eight bits.
        SerialComm->SetPort(static_cast<sPorts>(StrToInt(Bytes(edCommPort->text())) & 0xFF));
        opening_ = true;
        SerialComm->SetActive(true);
        opening_ = false;
        if (SerialComm->Active())
            LogConnection(true);
        // Connected even when opening failed: the component has told the operator why.
        BitBtn6->SetTag(1);
        BitBtn6->setText(QStringLiteral("Disconnect"));
        SetCommandButtonsEnabled(true);
        break;
    case 1:
        autoIndi->SetChecked(false);
        autoSequencer->SetEnabled(false);
        queryTimer->SetEnabled(false);
        CloseLine();
        BitBtn6->SetTag(0);
        BitBtn6->setText(QStringLiteral("Connect"));
        SetCommandButtonsEnabled(false);
        break;
    default:
        break;
    }
}

void TForm1::statusBtnClick(TObject*) {
    const std::string frame = proto::StatusFrameForIndex(rbStatus->ItemIndex());
    if (!frame.empty())
        Send(frame);
}

void TForm1::BitBtn2Click(TObject*) {
    if (SerialComm->Active())
        Send(proto::CodeFrame(Bytes(Edit1->text())));
}

void TForm1::BitBtn3Click(TObject*) {
    Send(proto::IdentFrame());
}

void TForm1::voltsetBtnClick(TObject*) {
    if (!SerialComm->Active())
        return;
    const std::string frame = proto::VoltageFrameForIndex(rbVoltage->ItemIndex());
    if (!frame.empty())
        Send(frame);
}

void TForm1::BitBtn1Click(TObject*) {
    if (!lvEdit->text().isEmpty())
        Send(proto::LowSetpointFrame(Bytes(lvEdit->text())));
}

void TForm1::BitBtn4Click(TObject*) {
    if (!hvEdit->text().isEmpty())
        Send(proto::HighSetpointFrame(Bytes(hvEdit->text())));
}

void TForm1::InterrogateBtnClick(TObject*) {
    if (!SerialComm->Active())
        return;
    const std::string frame = proto::InterrogateFrameForIndex(rbInterrogate->ItemIndex());
    if (!frame.empty())
        Send(frame);
}

void TForm1::btnPingClick(TObject*) {
    lblPing->SetCaption(QStringLiteral("Requested"));
    Send(proto::PingFrame());
}

void TForm1::EchoCommand(const QString& text) {
    RxData->appendPlainText(QStringLiteral("<02>") + text + QStringLiteral("<03>"));
}

void TForm1::BitBtn5Click(TObject*) {
    if (!SerialComm->Active()) {
        if (Application)
            Application->MessageBox(QStringLiteral("Comm Port not Initialised"),
                                    QStringLiteral("Information"), MB_OKCANCEL);
        return;
    }
    const QString text = commStr->text();
    Send(proto::ConsoleFrame(Bytes(text)));
    EchoCommand(text);
    commStr->clear();
    commStr->setFocus();
    manualPending = true;
}

void TForm1::SerialCommMessage(TObject*, const std::string& RxMessage) {
    if (trafficLog_)
        trafficLog_->Received(RxMessage);
    QString display;
    display.reserve(static_cast<qsizetype>(RxMessage.size()) + 8);
    for (char c : RxMessage) {
        if (c == proto::STX)
            display += QStringLiteral("<STX>");
        else if (c == proto::ETX)
            display += QStringLiteral("<ETX>");
        else
            display += QChar(static_cast<uchar>(c));
    }
    if (display.isEmpty())
        return;
    if (manualPending)
        RxData->appendPlainText(display);
    if (rxMsg.size() >= kMaxPendingMessages) {
        rxMsg.pop_front();
        ++rxMsgDropped;
    }
    rxMsg.push_back(RxMessage);
    manualPending = false;
}

void TForm1::AppIdle(TObject*, bool& Done) {
    DecodePendingMessages();
    if (queryDue)
        SendDueQuery();
    // Never done: the application calls this again whenever the queue has drained.
    Done = false;
}

void TForm1::DecodePendingMessages() {
    while (!rxMsg.empty()) {
        std::optional<proto::DisplayUpdate> update = proto::DecodeMessage(rxMsg.front());
        if (!update) {
            // Not a whole frame: it waits, unless a later message has already replaced it.
            if (rxMsg.size() == 1)
                return;
            rxMsg.pop_front();
            continue;
        }
        // Taken off the queue before it is applied, so a failing reply cannot be applied twice.
        rxMsg.pop_front();
        ApplyReply(*update);
        PollAfterReply();
    }
}

void TForm1::ApplyReply(const proto::DisplayUpdate& update) {
    for (const proto::LabelText& label : update.labels)
        if (auto* target = findChild<TLabel*>(QString::fromLatin1(label.control)))
            target->SetCaption(Text(label.text));
    for (const proto::LampState& lamp : update.lamps)
        if (auto* target = findChild<TKxLED*>(QString::fromLatin1(lamp.control)))
            target->SetChecked(lamp.lit);
    // The label's own Visible, not whether it shows: it holds while its group is hidden.
    if (update.altitudeSourceText && !lblAltitudeSource->isHidden())
        lblAltitudeSource->SetCaption(Text(*update.altitudeSourceText));
    if (update.pingReceived)
        pingTick = GetTickCount();
    if (update.interrogation) {
        // A running countdown is left alone: the lamp goes out after the indication that lit it.
        rxTimer->SetInterval(kInterrogationLampMs);
        rxTimer->SetEnabled(true);
    }
    // Last: selecting another encoder source runs its click handler, as the operator's click would.
    for (const proto::RadioChoice& radio : update.radios)
        if (auto* target = findChild<TRadioGroup*>(QString::fromLatin1(radio.control)))
            target->SetItemIndex(radio.itemIndex);
}

void TForm1::rxTimerTimer(TObject*) {
    rxTimer->SetEnabled(false);
    Intled->SetChecked(false);
}

void TForm1::Exit1Click(TObject*) {
    close();
}

void TForm1::mnuAutoSequenceClick(TObject*) {
    gbSequence->setVisible(true);
    seqEdit->setFocus();
}

void TForm1::Button1Click(TObject*) {
    gbSequence->setVisible(false);
}

void TForm1::mnuAltitudeSequencerClick(TObject*) {
    GroupBox9->setVisible(true);
    rbEncSource->setFocus();
}

QString TForm1::PortMapHint() const {
    const TPortRoots roots = TPortRoots::FromEnvironment();
    const std::vector<TComPort> ports = ListComPorts(roots);
    QStringList lines;
    lines << QStringLiteral("COM port numbers on this computer:");
    for (std::size_t i = 0; i < ports.size() && i < kTooltipPorts; ++i) {
        const TComPort& port = ports[i];
        const QString path = QString::fromLocal8Bit(port.Path.c_str());
        const QString device = QString::fromLocal8Bit(port.Device.c_str());
        lines << QStringLiteral("%1: %2").arg(port.Com).arg(
            device == path ? path : path + QStringLiteral(" -> ") + device);
        std::string about = DescribePortIdentity(port.Identity);
        if (!port.Identity.ById.empty())
            about += (about.empty() ? "by-id " : ", by-id ") + port.Identity.ById;
        if (!about.empty())
            lines << QStringLiteral("    ") + QString::fromUtf8(about.c_str());
    }
    if (ports.empty())
        lines << QStringLiteral("(none found)");
    else if (ports.size() > kTooltipPorts)
        lines
            << QStringLiteral("and %1 more (uavctl ports lists them all)").arg(ports.size() - kTooltipPorts);
    lines << QStringLiteral("Port map folder: %1").arg(QString::fromLocal8Bit(roots.MapDir.c_str()));
    return lines.join(QLatin1Char('\n'));
}

std::string TForm1::OpenFailureNote() const {
    if (!opening_ || !SerialComm->ErrorCode())
        return {};
    // The path the component resolved and tried, not a second lookup that a changed port map could
    // answer differently.
    return OpenFailureHint(SerialComm->ErrorCode(), SerialComm->DevicePath(), TPortRoots::FromEnvironment());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // Built when asked for, so it shows the links and adapters present now.
    if (watched == edCommPort && event->type() == QEvent::ToolTip) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), PortMapHint(), edCommPort);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
