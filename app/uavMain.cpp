#include "uavMain.h"

#include "Application.h"
#include "Fonts.h"
#include "Serial2.h"
#include "Timer.h"
#include "TrafficLog.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <limits>
#include <vector>

TForm1* Form1 = nullptr;

static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

QPoint CentredTopLeft(const QSize& frame, const QRect& area) {
    return {area.left() + (area.width() - frame.width()) / 2,
            area.top() + (area.height() - frame.height()) / 2};
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    InitResources();
    LoadSansSerif();
    setupUi(this);
    // Edit fields hold text of any length: the toolkit's default cap would cut a long console line or
    // value before it is sent.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setMaxLength(std::numeric_limits<int>::max());
    StackWindowedControlsOnTop();
    ApplyFonts();
    // The layout names no "Ping Control" component; its box only frames the button.
    btnPing->parentWidget()->setObjectName(QString());
    // The menu bar takes its natural height; the client area below it is the layout's.
    resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
    CreateComponents();
    WireControls();
    TApplication::Guard([this] { FormCreate(this); });
}

TForm1::~TForm1() {
    if (Application)
        Application->SetOnIdle({});
    // The port closes with its component below; the log hears of it first.
    if (SerialComm->Active())
        LogConnection(false);
    // The native window goes first, then the controls, last created first. No handler can run meanwhile:
    // handlers run from the event loop, which runs again only inside a box the closing port may show, and
    // by then the idle hook is gone, the timers are gone and the port lets no call of its own through.
    destroy();
    std::vector<QPointer<QWidget>> controls;
    for (QObject* child : children())
        if (child->isWidgetType() && child != MainMenu1)
            controls.emplace_back(static_cast<QWidget*>(child));
    for (auto it = controls.rbegin(); it != controls.rend(); ++it)
        delete it->data();
    // Then the components, last created first: the timers stop counting, and the port closes as Close
    // does (its hold on the device released, the lines dropped) and its event thread is joined.
    for (TTimer* timer : {rxTimer, altTimer, wdt, queryTimer, autoSequencer})
        delete timer;
    delete SerialComm;
    // The menu goes with the window itself.
}

TTimer* TForm1::NewTimer(const char* name, void (TForm1::*handler)(TObject*)) {
    auto* timer = new TTimer(this);
    timer->SetName(QString::fromLatin1(name));
    timer->SetEnabled(false);
    timer->SetOnTimer([this, handler](TObject* sender) { (this->*handler)(sender); });
    return timer;
}

void TForm1::CreateComponents() {
    SerialComm = new TSerial(this);
    SerialComm->SetName(QStringLiteral("SerialComm"));
    SerialComm->SetDataBits(d8bit);
    SerialComm->SetRxEventMode(rxMessage);
    SerialComm->SetOnMessage(
        [this](TObject* sender, const std::string& message) { SerialCommMessage(sender, message); });
    // A frame is logged when the device has taken it: a lost line logs nothing it never sent.
    SerialComm->SetOnSent([this](const std::string& frame) {
        if (trafficLog_)
            trafficLog_->Sent(frame);
    });
    // Frames logged as sent that closing then dropped in the driver are not left standing as sent.
    SerialComm->SetOnDropped([this](std::size_t bytes) {
        if (trafficLog_)
            trafficLog_->Error(std::to_string(bytes) +
                               " bytes logged as sent were dropped when the port closed");
    });
    autoSequencer = NewTimer("autoSequencer", &TForm1::autoSequencerTimer);
    queryTimer = NewTimer("queryTimer", &TForm1::queryTimerTimer);
    wdt = NewTimer("wdt", &TForm1::wdtTimer);
    altTimer = NewTimer("altTimer", &TForm1::altTimerTimer);
    rxTimer = NewTimer("rxTimer", &TForm1::rxTimerTimer);
}

void TForm1::WireControls() {
    const auto click = [this](QAbstractButton* button, void (TForm1::*handler)(TObject*)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button, handler] { TApplication::Guard([&] { (this->*handler)(button); }); });
    };
    click(BitBtn6, &TForm1::BitBtn6Click);
    click(statusBtn, &TForm1::statusBtnClick);
    click(BitBtn2, &TForm1::BitBtn2Click);
    click(BitBtn3, &TForm1::BitBtn3Click);
    click(voltsetBtn, &TForm1::voltsetBtnClick);
    click(BitBtn1, &TForm1::BitBtn1Click);
    click(BitBtn4, &TForm1::BitBtn4Click);
    click(InterrogateBtn, &TForm1::InterrogateBtnClick);
    click(btnPing, &TForm1::btnPingClick);
    click(BitBtn5, &TForm1::BitBtn5Click);
    click(Button1, &TForm1::Button1Click);
    click(autobtn, &TForm1::autobtnClick);
    click(BitBtn7, &TForm1::BitBtn7Click);
    click(altitudeBtn, &TForm1::altitudeBtnClick);

    const auto menu = [this](QAction* action, void (TForm1::*handler)(TObject*)) {
        connect(action, &QAction::triggered, this,
                [this, action, handler] { TApplication::Guard([&] { (this->*handler)(action); }); });
    };
    menu(Exit1, &TForm1::Exit1Click);
    menu(mnuAutoSequence, &TForm1::mnuAutoSequenceClick);
    menu(mnuAltitudeSequencer, &TForm1::mnuAltitudeSequencerClick);

    connect(rbEncSource, &TRadioGroup::Click, this,
            [this] { TApplication::Guard([this] { rbEncSourceClick(rbEncSource); }); });
    // OnChange: every change of the text, typed or set by the program.
    connect(edMinAlt, &QLineEdit::textChanged, this,
            [this] { TApplication::Guard([this] { edMinAltChange(edMinAlt); }); });
    connect(lblAltActual, &TLabel::DblClick, this,
            [this] { TApplication::Guard([this] { lblAltActualDblClick(lblAltActual); }); });
    // Which device each COM number opens, shown where the operator types the number.
    edCommPort->installEventFilter(this);
}

void TForm1::StackWindowedControlsOnTop() {
    // As the layout was drawn: controls that paint on their parent (captions, pictures, lamps) lie under
    // the ones with windows of their own (fields, buttons, boxes), whatever order they were made in, so a
    // caption that a wider font stretches over its field never takes the field's clicks. Raised in the
    // order made, the windowed ones keep their order among themselves.
    for (QWidget* control : findChildren<QWidget*>()) {
        const bool paintsOnParent = dynamic_cast<TLabel*>(control) || dynamic_cast<TImage*>(control) ||
                                    dynamic_cast<TKxBinGControl*>(control);
        if (!paintsOnParent && control->parentWidget() && !control->isWindow())
            control->raise();
    }
}

void TForm1::ApplyFonts() {
    fontRatio_ = devicePixelRatioF();
    // A style sheet present while fonts change keeps the children on their old font.
    setStyleSheet(QString());
    ApplyLayoutFonts(this);
    // Group frames are an etched line with the caption set into their top edge.
    setStyleSheet(
        QStringLiteral("QGroupBox { border: 2px groove palette(mid); margin-top: 6px; }"
                       "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                       " left: 6px; padding: 0px 2px; }"));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    // A window dragged to a screen of another device pixel ratio draws its text in the family that ratio
    // calls for.
    connect(windowHandle(), &QWindow::screenChanged, this, [this] {
        if (devicePixelRatioF() != fontRatio_)
            ApplyFonts();
    });
    // Centred on the screen the first time it shows; later shows keep wherever the operator put it.
    if (QScreen* screen = this->screen())
        move(CentredTopLeft(frameGeometry().size(), screen->availableGeometry()));
}
