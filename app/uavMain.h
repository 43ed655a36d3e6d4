#pragma once
// TForm1, the panel's main window. Its controls come from uavMain.ui and are members under their layout
// names (Form1->BitBtn6, Form1->rbStatus, ...); the serial component and the timers are created after them.
#include "Component.h"
#include "ui_uavMain.h"

#include <QMainWindow>
#include <cstdint>
#include <deque>
#include <string>

class TSerial;
class TTimer;
class TTrafficLog;
namespace proto {
struct DisplayUpdate;
}

class TForm1 : public QMainWindow, public Ui::TForm1 {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Non-visual components, in their order of creation.
    TSerial* SerialComm = nullptr;
    TTimer* autoSequencer = nullptr;
    TTimer* queryTimer = nullptr;
    TTimer* wdt = nullptr;
    TTimer* altTimer = nullptr;
    TTimer* rxTimer = nullptr;

    // Event handlers, bound to the controls by the wiring below.
    void FormCreate(TObject* Sender);
    void BitBtn6Click(TObject* Sender);
    void statusBtnClick(TObject* Sender);
    void BitBtn2Click(TObject* Sender);
    void BitBtn3Click(TObject* Sender);
    void voltsetBtnClick(TObject* Sender);
    void BitBtn1Click(TObject* Sender);
    void BitBtn4Click(TObject* Sender);
    void InterrogateBtnClick(TObject* Sender);
    void btnPingClick(TObject* Sender);
    void BitBtn5Click(TObject* Sender);
    void SerialCommMessage(TObject* Sender, const std::string& RxMessage);
    void AppIdle(TObject* Sender, bool& Done);
    void rxTimerTimer(TObject* Sender);
    void Exit1Click(TObject* Sender);
    void mnuAutoSequenceClick(TObject* Sender);
    void Button1Click(TObject* Sender);
    void autobtnClick(TObject* Sender);
    void autoSequencerTimer(TObject* Sender);
    void queryTimerTimer(TObject* Sender);
    void wdtTimer(TObject* Sender);
    void rbEncSourceClick(TObject* Sender);
    void BitBtn7Click(TObject* Sender);
    void altitudeBtnClick(TObject* Sender);
    void altTimerTimer(TObject* Sender);
    void edMinAltChange(TObject* Sender);
    void lblAltActualDblClick(TObject* Sender);
    // Setup > Altitude Sequencer: shows the "Altitude Encoder" group, as Setup > Auto Sequence shows its own.
    void mnuAltitudeSequencerClick(TObject* Sender);

    // Panel state shared by the handlers (readable by tests; only the handlers write it).
    // Received messages waiting for the idle handler, oldest first: every one is decoded, in arrival order.
    std::deque<std::string> rxMsg;
    std::int32_t queryStep = 0;     // last query sent in the running sequence, 0..13
    std::int32_t seqCount = 0;      // seconds left before the next sequence; 0 while one runs
    bool queryDue = false;          // the query timer fired: the idle handler sends the next query
    bool manualPending = false;     // a console command was sent: echo the next received message
    std::uint32_t pingTick = 0;     // tick count of the last positive ping reply; 0: no lamp to expire
    std::uint64_t rxMsgDropped = 0; // messages dropped because the queue was full (idle handler held off)

    // Pending messages kept at most; past that the oldest go (a modal box can hold the idle handler off
    // while a transponder keeps talking).
    static constexpr std::size_t kMaxPendingMessages = 4096;

    // Frames sent, messages received and connections go to `log` as well (not owned; null: no log).
    void SetTrafficLog(TTrafficLog* log) { trafficLog_ = log; }
    TTrafficLog* TrafficLog() const { return trafficLog_; }
    // Closes the port, logging it, if it is open: Disconnect, and an end that cannot wait for the window to
    // go (Windows ending the session).
    void CloseLine();
    // While Connect opens the port: what the operator can do about the failure just reported (the traffic
    // log adds it to the error's line; the box keeps the system's text). Empty at any other time.
    std::string OpenFailureNote() const;

    // The client area the layout was drawn for: two panels over a status bar.
    static constexpr int kClientWidth = 793;
    static constexpr int kClientHeight = 578;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Panel logic (uavMainPanel.cpp, uavMainPoller.cpp).
    void EchoCommand(const QString& text);
    void SetCommandButtonsEnabled(bool enabled);
    void DecodePendingMessages();
    void ApplyReply(const proto::DisplayUpdate& update);
    void PollAfterReply();
    void SendDueQuery();
    void ExpirePingLamp();
    void Send(const std::string& frame);
    QString PortMapHint() const;

    void CreateComponents();
    void WireControls();
    TTimer* NewTimer(const char* name, void (TForm1::*handler)(TObject*));
    // The layout's fonts in the family the window's device pixel ratio calls for.
    void ApplyFonts();
    void StackWindowedControlsOnTop();

    void LogConnection(bool connected);

    bool shown_ = false;
    double fontRatio_ = 0;
    TTrafficLog* trafficLog_ = nullptr;
    std::string loggedDevice_; // the device the log was told was connected
    bool opening_ = false;     // Connect is opening the port
};

// Where a window of `frame` size stands when centred on `area` (the screen's available part).
QPoint CentredTopLeft(const QSize& frame, const QRect& area);

extern TForm1* Form1;
