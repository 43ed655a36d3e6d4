#pragma once
// TForm1, the panel's main window. Its controls come from uavMain.ui and are members under their layout
// names (Form1->BitBtn6, Form1->rbStatus, ...); the serial component and the timers are created after them.
#include "Component.h"
#include "ui_uavMain.h"

#include <QMainWindow>
#include <string>

class TSerial;
class TTimer;

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

    // The client area the layout was drawn for: two panels over a status bar.
    static constexpr int kClientWidth = 793;
    static constexpr int kClientHeight = 578;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateComponents();
    void WireControls();
    TTimer* NewTimer(const char* name, void (TForm1::*handler)(TObject*));

    bool shown_ = false;
};

// Where a window of `frame` size stands when centred on `area` (the screen's available part).
QPoint CentredTopLeft(const QSize& frame, const QRect& area);

extern TForm1* Form1;
