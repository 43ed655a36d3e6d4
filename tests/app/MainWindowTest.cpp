// The main window as laid out: every named control in place with its text and state, the lamps, menu,
// components, keyboard order and resizing. Leaves a picture of the window in the artifacts folder.
#include "Application.h"
#include "Fonts.h"
#include "KxLED.h"
#include "ParameterNames.h"
#include "Serial2.h"
#include "Timer.h"
#include "uavMain.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Control {
    const char* name;
    const char* parent; // "" for the unnamed "Ping Control" box
    const char* cls;
    int left, top, width, height;
    const char* text;
    const char* font; // W, B10, B12, B16, R10
    bool off = false;
    bool hidden = false;
};

// The layout, container by container.
const Control kControls[] = {
    {"Panel1", "centralwidget", "QFrame", 405, 0, 388, 559, "", "W"},
    {"Panel2", "centralwidget", "QFrame", 0, 0, 393, 559, "", "W"},
    {"GroupBox2", "Panel2", "QGroupBox", 6, 6, 307, 53, "Operational Function", "W"},
    {"GroupBox3", "Panel2", "QGroupBox", 6, 58, 144, 45, "Assigned Code", "W"},
    {"GroupBox4", "Panel2", "QGroupBox", 152, 58, 163, 45, "SPI Status", "W"},
    {"GroupBox6", "Panel2", "QGroupBox", 4, 344, 383, 219, "Manual Command", "W"},
    {"GroupBox5", "Panel2", "QGroupBox", 6, 102, 193, 49, "A/C Voltage", "W"},
    {"GroupBox7", "Panel2", "QGroupBox", 6, 150, 144, 49, "Low Voltage Setpoint", "W"},
    {"GroupBox8", "Panel2", "QGroupBox", 152, 150, 144, 49, "High Voltage Setpoint", "W"},
    {"GroupBox9", "Panel2", "QGroupBox", 8, 244, 309, 99, "Altitude Encoder", "W", false, true},
    {"GroupBox10", "Panel2", "QGroupBox", 202, 102, 179, 49, "Interrogation Status", "W"},
    {"rbStatus", "GroupBox2", "TRadioGroup", 6, 12, 219, 35, "", "W"},
    {"statusBtn", "GroupBox2", "TBitBtn", 225, 20, 64, 25, "Set", "B12", true},
    {"Edit1", "GroupBox3", "QLineEdit", 16, 16, 37, 21, "", "W"},
    {"BitBtn2", "GroupBox3", "TBitBtn", 64, 14, 75, 25, "Set", "B12", true},
    {"BitBtn3", "GroupBox4", "TBitBtn", 8, 13, 141, 25, "Transmit SPI", "B12", true},
    {"RxData", "GroupBox6", "QPlainTextEdit", 6, 16, 367, 165, "", "W"},
    {"commStr", "GroupBox6", "QLineEdit", 6, 186, 239, 21, "", "W"},
    {"BitBtn5", "GroupBox6", "TBitBtn", 248, 186, 75, 25, "Send", "B12", true},
    {"rbVoltage", "GroupBox5", "TRadioGroup", 6, 12, 103, 35, "", "W"},
    {"voltsetBtn", "GroupBox5", "TBitBtn", 113, 20, 75, 25, "Select", "B12", true},
    {"lvEdit", "GroupBox7", "QLineEdit", 16, 20, 37, 21, "", "W"},
    {"BitBtn1", "GroupBox7", "TBitBtn", 64, 18, 75, 25, "Set", "B12", true},
    {"hvEdit", "GroupBox8", "QLineEdit", 16, 20, 37, 21, "", "W"},
    {"BitBtn4", "GroupBox8", "TBitBtn", 64, 18, 75, 25, "Set", "B12", true},
    {"rbInterrogate", "GroupBox10", "TRadioGroup", 6, 12, 83, 35, "", "W"},
    {"InterrogateBtn", "GroupBox10", "TBitBtn", 92, 17, 75, 25, "Set", "B12", true},
    {"btnPing", "", "TBitBtn", 24, 16, 75, 25, "Fire", "B12", true},
    {"rbEncSource", "GroupBox9", "TRadioGroup", 8, 14, 69, 61, "", "W"},
    {"BitBtn7", "GroupBox9", "TBitBtn", 82, 34, 75, 25, "Set", "B12", true},
    {"edMaxAlt", "GroupBox9", "QLineEdit", 180, 8, 50, 21, "10000", "W", false, true},
    {"edMinAlt", "GroupBox9", "QLineEdit", 180, 74, 50, 21, "100", "W", false, true},
    {"Label13", "GroupBox9", "TLabel", 238, 12, 58, 13, "Max Altitude", "W", false, true},
    {"Label14", "GroupBox9", "TLabel", 236, 78, 55, 13, "Min Altitude", "W", false, true},
    {"lblAltitudeSource", "GroupBox9", "TLabel", 180, 34, 5, 16, "", "B10", false, true},
    // Empty in the layout; the window's creation copies the minimum altitude into it.
    {"lblAltActual", "GroupBox9", "TLabel", 180, 58, 3, 13, "100", "W", false, true},
    {"altitudeBtn", "GroupBox9", "TSpeedButton", 262, 42, 23, 22, "", "W", false, true},
    {"indiAlt", "GroupBox9", "TKxLED", 290, 36, 17, 33, "", "W", false, true},
    {"GroupBox1", "Panel1", "QGroupBox", 6, 6, 379, 323, "System Parameters", "W"},
    {"Panel3", "Panel1", "QFrame", 12, 448, 367, 109, "", "W"},
    {"autobtn", "Panel1", "TBitBtn", 16, 370, 63, 25, "Auto", "W", true},
    {"edCommPort", "Panel1", "QLineEdit", 66, 338, 21, 21, "1", "W"},
    {"BitBtn6", "Panel1", "TBitBtn", 90, 334, 155, 29, "Connect", "B12"},
    {"gbSequence", "Panel1", "QGroupBox", 18, 400, 175, 45, "Auto Sequence Timer", "W", false, true},
    {"Label7", "Panel1", "TLabel", 12, 342, 51, 13, "Comm Port", "W"},
    {"autoIndi", "Panel1", "TKxLED", 88, 366, 105, 33, "Auto Sequence", "W"},
    {"Label16", "Panel1", "TLabel", 194, 378, 38, 13, "Label16", "W"},
    {"seqEdit", "gbSequence", "QLineEdit", 14, 16, 19, 21, "1", "W"},
    {"Label12", "gbSequence", "TLabel", 36, 18, 54, 16, "Seconds", "R10"},
    {"Button1", "gbSequence", "QPushButton", 94, 14, 75, 25, "Set", "B12"},
    {"Label1", "GroupBox1", "TLabel", 36, 41, 152, 20, "Operational Status", "B12"},
    {"Label2", "GroupBox1", "TLabel", 66, 70, 122, 20, "Assigned Code", "B12"},
    {"Label17", "GroupBox1", "TLabel", 25, 96, 163, 20, "Interrogation Status", "B12"},
    {"Label3", "GroupBox1", "TLabel", 100, 123, 88, 20, "SPI Status", "B12"},
    {"Label4", "GroupBox1", "TLabel", 125, 152, 63, 20, "Altitude", "B12"},
    {"Label8", "GroupBox1", "TLabel", 91, 182, 97, 20, "A/C Voltage", "B12"},
    {"Label10", "GroupBox1", "TLabel", 15, 211, 173, 20, "High VoltageSetpoint", "B12"},
    {"Label11", "GroupBox1", "TLabel", 15, 240, 173, 20, "Low Voltage Setpoint", "B12"},
    {"Label15", "GroupBox1", "TLabel", 48, 268, 140, 20, "Firmware Version", "B12"},
    {"Label18", "GroupBox1", "TLabel", 68, 296, 120, 20, "Ping Operation", "B12"},
    {"funcDisplay", "GroupBox1", "TLabel", 212, 41, 6, 20, "", "B12"},
    {"lblCode", "GroupBox1", "TLabel", 212, 70, 6, 20, "", "B12"},
    {"ReplyIndi", "GroupBox1", "TLabel", 212, 96, 6, 20, "", "B12"},
    {"lblIdent", "GroupBox1", "TLabel", 212, 123, 6, 20, "", "B12"},
    {"lblAltitude", "GroupBox1", "TLabel", 212, 152, 6, 20, "", "B12"},
    {"lblVoltage", "GroupBox1", "TLabel", 212, 182, 6, 20, "", "B12"},
    {"lblHigh", "GroupBox1", "TLabel", 212, 211, 6, 20, "", "B12"},
    {"lblLow", "GroupBox1", "TLabel", 212, 240, 6, 20, "", "B12"},
    {"lblVersion", "GroupBox1", "TLabel", 212, 268, 6, 20, "", "B12"},
    {"lblPing", "GroupBox1", "TLabel", 212, 296, 6, 20, "", "B12"},
    {"Intled", "GroupBox1", "TKxLED", 318, 94, 17, 25, "", "W"},
    {"Ident", "GroupBox1", "TKxLED", 318, 118, 39, 31, "SPI", "W"},
    {"ledPing", "GroupBox1", "TKxLED", 318, 290, 73, 33, "Ping", "W"},
    {"Label5", "Panel3", "TLabel", 14, 10, 238, 24, "Q7400 UAV  Transponder", "B16"},
    {"Label6", "Panel3", "TLabel", 14, 36, 127, 24, "Control Panel", "B16"},
    {"Label9", "Panel3", "TLabel", 14, 84, 145, 16, "Vantorix Avionics Pty Ltd", "R10"},
    {"Image1", "Panel3", "TImage", 254, 4, 111, 87, "", "W"},
    {"StatusBar1", "TForm1", "QStatusBar", 0, 0, 793, 19, "", "W"},
};

QString TextOf(QWidget* w) {
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        return memo->toPlainText();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* lamp = qobject_cast<TKxLED*>(w))
        return lamp->Caption();
    return {};
}

QFont FontNamed(const char* key) {
    const QString k = QString::fromLatin1(key);
    if (k == "B10")
        return LayoutFont(13, true);
    if (k == "B12")
        return LayoutFont(16, true);
    if (k == "B16")
        return LayoutFont(21, true);
    if (k == "R10")
        return LayoutFont(13, false);
    return LayoutFont(11, false);
}

QString FocusName(QWidget* w) {
    if (!w)
        return QStringLiteral("(none)");
    if (qobject_cast<QRadioButton*>(w))
        return w->parentWidget()->objectName() + "[" + static_cast<QRadioButton*>(w)->text() + "]";
    return w->objectName();
}

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Application)
            new TApplication(*static_cast<QApplication*>(QCoreApplication::instance()));
    }
    void SetUp() override {
        form = new TForm1;
        form->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override { delete form; }

    template <class T = QWidget> T* Named(const char* name) {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    // Follows the Tab key from `start` until it comes back round.
    QStringList TabCycle(QWidget* start) {
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form));
        start->setFocus(Qt::TabFocusReason);
        QStringList names{FocusName(QApplication::focusWidget())};
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            const QString name = FocusName(QApplication::focusWidget());
            if (name == names.front())
                break;
            names << name;
        }
        return names;
    }

    TForm1* form = nullptr;
};

TEST_F(MainWindow, EveryNamedControlStandsWhereTheLayoutPutsIt) {
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        QWidget* w = Named(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.cls)) << w->metaObject()->className();
        if (*c.parent)
            EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        else
            EXPECT_EQ(w->parentWidget()->objectName(), QString()) << "the Ping Control box has no name";
        const QRect stored(c.left, c.top, c.width, c.height);
        if (QString::fromLatin1(c.name) == "StatusBar1") {
            EXPECT_EQ(w->size(), stored.size());
        } else if (auto* label = qobject_cast<TLabel*>(w)) {
            // Labels show their whole text: the aligned edge and the top stay, the box may grow.
            if (label->alignment() & Qt::AlignRight)
                EXPECT_EQ(w->geometry().right(), stored.right());
            else
                EXPECT_EQ(w->pos(), stored.topLeft());
            EXPECT_EQ(w->y(), stored.y());
            EXPECT_GE(w->width(), stored.width());
            EXPECT_GE(w->height(), stored.height());
            EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(label->text()));
        } else {
            EXPECT_EQ(w->geometry(), stored);
        }
        EXPECT_EQ(TextOf(w), QString::fromLatin1(c.text));
        EXPECT_EQ(w->isEnabled(), !c.off);
        EXPECT_EQ(w->isHidden(), c.hidden);
        const QFont expected = FontNamed(c.font);
        EXPECT_EQ(w->font().pixelSize(), expected.pixelSize());
        EXPECT_EQ(w->font().bold(), expected.bold());
        EXPECT_EQ(w->font().family(), expected.family());
    }
}

TEST_F(MainWindow, CaptionSizeAndStartingState) {
    EXPECT_EQ(form->windowTitle(), "Vantorix UAV Control");
    EXPECT_EQ(form->centralWidget()->size(), QSize(793, 559));
    EXPECT_EQ(form->height() - form->menuBar()->height(), TForm1::kClientHeight);
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->windowIcon().availableSizes().value(0), QSize(32, 32));
    EXPECT_TRUE(form->StatusBar1->isSizeGripEnabled());
    EXPECT_TRUE(form->StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(form->BitBtn6->Tag(), 0);
    EXPECT_EQ(form->rbStatus->ItemIndex(), -1);
    EXPECT_EQ(form->rbVoltage->ItemIndex(), -1);
    EXPECT_EQ(form->rbInterrogate->ItemIndex(), -1);
    EXPECT_EQ(form->rbEncSource->ItemIndex(), 0);
    EXPECT_EQ(form->rbStatus->Items(), QStringList({"Standby", "Mode A", "Mode C"}));
    EXPECT_EQ(form->rbVoltage->Items(), QStringList({"14V", "28V"}));
    EXPECT_EQ(form->rbInterrogate->Items(), QStringList({"On", "Off"}));
    EXPECT_EQ(form->rbEncSource->Items(), QStringList({"Gillham", "Serial"}));
    EXPECT_FALSE(form->RxData->isReadOnly());
    EXPECT_EQ(form->RxData->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(form->RxData->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form->RxData->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(form->Image1->Stretch());
    EXPECT_EQ(form->autobtn->toolTip(), "Retrieve Transponder Settings");
    EXPECT_EQ(form->BitBtn6->toolTip(), "Control Comm Port");
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (w != form->autobtn && w != form->BitBtn6) {
            EXPECT_TRUE(w->toolTip().isEmpty()) << FocusName(w).toStdString();
        }
    }
    for (QAbstractButton* b :
         {static_cast<QAbstractButton*>(form->BitBtn6), static_cast<QAbstractButton*>(form->autobtn),
          static_cast<QAbstractButton*>(form->altitudeBtn)}) {
        EXPECT_EQ(b->iconSize(), QSize(16, 16)) << FocusName(b).toStdString();
        EXPECT_FALSE(b->icon().isNull());
    }
}

// uavctl prints values under these names; they must not drift from the display's captions.
TEST_F(MainWindow, SystemParametersCaptions_areTheNamesTheProtocolGivesTheirLetters) {
    const std::pair<const char*, char> rows[] = {
        {"Label1", 's'}, {"Label2", 'c'},  {"Label17", 'r'}, {"Label3", 'i'},  {"Label4", 'a'},
        {"Label8", 'v'}, {"Label10", 'o'}, {"Label11", 'u'}, {"Label15", 'z'}, {"Label18", 'p'}};
    for (const auto& [label, letter] : rows)
        EXPECT_EQ(Named<QLabel>(label)->text().toStdString(), proto::ParameterName(letter)) << label;
}

TEST_F(MainWindow, RadioItemsFollowTheColumnArithmetic) {
    const struct {
        TRadioGroup* group;
        std::vector<QRect> items;
    } cases[] = {
        {form->rbStatus, {{8, 14, 69, 17}, {77, 14, 69, 17}, {146, 14, 69, 17}}},
        {form->rbVoltage, {{8, 14, 46, 17}, {54, 14, 46, 17}}},
        {form->rbInterrogate, {{8, 14, 36, 17}, {44, 14, 36, 17}}},
        {form->rbEncSource, {{8, 14, 59, 21}, {8, 35, 59, 21}}},
    };
    // Rows are centred below the caption's line: the tops and heights above are for the layout font's 13
    // pixel line. Where the system's own face draws (Windows), its line moves them; the columns stay.
    for (const auto& c : cases) {
        const bool layoutLine = QFontMetrics(c.group->font()).height() == 13;
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            const QRect got = c.group->Button(static_cast<int>(i))->geometry();
            const std::string what = c.group->objectName().toStdString() + " item " + std::to_string(i);
            if (layoutLine) {
                EXPECT_EQ(got, c.items[i]) << what;
            } else {
                EXPECT_EQ(got.left(), c.items[i].left()) << what;
                EXPECT_EQ(got.width(), c.items[i].width()) << what;
            }
        }
    }
}

TEST_F(MainWindow, CaptionStretchedOverItsField_leavesTheFieldOnTopForClicks) {
    // A wider face than the layout's (Windows' own) grows a caption over the field beside it.
    form->Label7->SetCaption(QStringLiteral("Comm Port, stretched over its field"));
    const QPoint inField = form->edCommPort->geometry().center();
    ASSERT_EQ(form->Label7->parentWidget(), form->edCommPort->parentWidget());
    ASSERT_TRUE(form->Label7->geometry().contains(inField));
    EXPECT_EQ(form->edCommPort->parentWidget()->childAt(inField), form->edCommPort);
}

TEST_F(MainWindow, LampsCarryTheirStoredSettings) {
    const TColor clBtnFace = 0x8000000F, clLime = 0x0000FF00, clOlive = 0x00008080, clRed = 0x000000FF;
    const struct {
        TKxLED* lamp;
        TColor on, off;
    } lamps[] = {{form->autoIndi, clLime, clOlive},
                 {form->Ident, clRed, clBtnFace},
                 {form->Intled, clRed, clBtnFace},
                 {form->ledPing, clLime, clBtnFace},
                 {form->indiAlt, clLime, clOlive}};
    for (const auto& l : lamps) {
        SCOPED_TRACE(l.lamp->objectName().toStdString());
        EXPECT_EQ(l.lamp->LEDColorOn(), l.on);
        EXPECT_EQ(l.lamp->LEDColorOff(), l.off);
        EXPECT_EQ(l.lamp->LED_Position(), TKxLED::lpLeft);
        EXPECT_EQ(l.lamp->Spacing(), 5);
        EXPECT_FALSE(l.lamp->Checked());
        EXPECT_FALSE(l.lamp->Flashing());
        EXPECT_EQ(l.lamp->Frequency(), TKxLED::ff1Hz);
        EXPECT_EQ(l.lamp->StatusInt(), 0);
        EXPECT_EQ(l.lamp->StatusBit(), 0);
        EXPECT_EQ(l.lamp->GroupIndex(), 0);
        EXPECT_EQ(l.lamp->Mode(), TKxLED::mIndicator);
        EXPECT_EQ(l.lamp->LEDShape(), TKxLED::sRound);
        EXPECT_EQ(l.lamp->LEDWidth(), 13);
        EXPECT_EQ(l.lamp->LEDHeight(), 13);
    }
}

TEST_F(MainWindow, MenuAndComponentsInTheirOrder) {
    EXPECT_EQ(form->File1->title(), "File");
    EXPECT_EQ(form->Setup1->title(), "Setup");
    const QList<QAction*> bar = form->MainMenu1->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->menu(), form->File1);
    EXPECT_EQ(bar[1]->menu(), form->Setup1);
    ASSERT_EQ(form->File1->actions(), QList<QAction*>({form->Exit1}));
    ASSERT_EQ(form->Setup1->actions(), QList<QAction*>({form->mnuAutoSequence, form->mnuAltitudeSequencer}));
    EXPECT_EQ(form->Exit1->text(), "E&xit");
    EXPECT_EQ(form->mnuAutoSequence->text(), "Auto Sequence");
    EXPECT_EQ(form->mnuAltitudeSequencer->text(), "Altitude Sequencer");
    for (QAction* a : {form->Exit1, form->mnuAutoSequence, form->mnuAltitudeSequencer})
        EXPECT_TRUE(a->shortcut().isEmpty());

    QStringList order;
    for (TComponent* c : form->findChildren<TComponent*>(Qt::FindDirectChildrenOnly))
        order << c->Name();
    EXPECT_EQ(order,
              QStringList({"SerialComm", "autoSequencer", "queryTimer", "wdt", "altTimer", "rxTimer"}));
    for (TTimer* t : {form->autoSequencer, form->queryTimer, form->wdt, form->altTimer, form->rxTimer}) {
        EXPECT_FALSE(t->Enabled()) << t->Name().toStdString();
        // The window's creation gives the altitude ramp its period; the others keep the default.
        EXPECT_EQ(t->Interval(), t == form->altTimer ? 3500u : 1000u);
        EXPECT_FALSE(t->Counting());
        EXPECT_TRUE(static_cast<bool>(t->OnTimer()));
    }
    EXPECT_EQ(form->SerialComm->DataBits(), d8bit);
    EXPECT_EQ(form->SerialComm->RxEventMode(), rxMessage);
    EXPECT_TRUE(static_cast<bool>(form->SerialComm->OnMessage()));
}

TEST_F(MainWindow, TabVisitsFocusableControlsContainerByContainer) {
    EXPECT_EQ(TabCycle(form->edCommPort),
              QStringList({"edCommPort", "BitBtn6", "rbStatus[Standby]", "Edit1", "RxData", "commStr",
                           "rbVoltage[14V]", "lvEdit", "hvEdit", "rbInterrogate[On]"}));
    // Connected, with the sequence group shown: every button joins in its place.
    for (QWidget* b : std::initializer_list<QWidget*>{
             form->statusBtn, form->BitBtn2, form->BitBtn3, form->voltsetBtn, form->BitBtn1, form->BitBtn4,
             form->autobtn, form->BitBtn5, form->BitBtn7, form->btnPing, form->InterrogateBtn})
        b->setEnabled(true);
    form->gbSequence->show();
    form->rbVoltage->SetItemIndex(1);
    EXPECT_EQ(TabCycle(form->autobtn), QStringList({"autobtn",        "edCommPort",
                                                    "BitBtn6",        "seqEdit",
                                                    "Button1",        "rbStatus[Standby]",
                                                    "statusBtn",      "Edit1",
                                                    "BitBtn2",        "BitBtn3",
                                                    "RxData",         "commStr",
                                                    "BitBtn5",        "rbVoltage[28V]",
                                                    "voltsetBtn",     "lvEdit",
                                                    "BitBtn1",        "hvEdit",
                                                    "BitBtn4",        "rbInterrogate[On]",
                                                    "InterrogateBtn", "btnPing"}));
}

TEST_F(MainWindow, ReturnAndEscapeInAnEditPressNoButton) {
    form->BitBtn5->setEnabled(true);
    QList<QSignalSpy*> spies;
    for (QPushButton* b : form->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->isDefault()) << FocusName(b).toStdString();
        EXPECT_FALSE(b->autoDefault()) << FocusName(b).toStdString();
        spies << new QSignalSpy(b, &QPushButton::clicked);
    }
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    form->commStr->setFocus();
    QTest::keyClick(form->commStr, Qt::Key_Return);
    QTest::keyClick(form->commStr, Qt::Key_Escape);
    for (QSignalSpy* spy : spies) {
        EXPECT_EQ(spy->count(), 0);
        delete spy;
    }
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainWindow, ResizingMovesTheRightPanelOnlyAndContentsStay) {
    form->show();
    const QRect group6 = form->GroupBox6->geometry(), group1 = form->GroupBox1->geometry();
    EXPECT_EQ(form->Panel1->x() - (form->Panel2->x() + form->Panel2->width()), 12)
        << "strip between the panels";
    form->resize(1000, form->height() + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Panel2->geometry(), QRect(0, 0, 393, 659));
    EXPECT_EQ(form->Panel1->geometry(), QRect(1000 - 388, 0, 388, 659));
    EXPECT_EQ(form->StatusBar1->geometry().width(), 1000);
    EXPECT_EQ(form->StatusBar1->geometry().bottom(), form->height() - 1);
    EXPECT_EQ(form->GroupBox6->geometry(), group6);
    EXPECT_EQ(form->GroupBox1->geometry(), group1);
    form->resize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Panel2->width(), 393) << "the panels never squeeze each other";
    EXPECT_EQ(form->Panel1->x(), form->width() - 388);
}

TEST_F(MainWindow, OverhangingControlsAreCutOffByTheirParents) {
    // "Manual Command" reaches 4 pixels below the left panel, the ping lamp 12 beyond "System Parameters".
    EXPECT_EQ(form->GroupBox6->geometry().bottom() - (form->Panel2->height() - 1), 4);
    EXPECT_EQ(form->ledPing->geometry().right() - (form->GroupBox1->width() - 1), 12);
    form->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->GroupBox6->visibleRegion().boundingRect().bottom(), form->GroupBox6->height() - 1 - 4);
    EXPECT_EQ(form->ledPing->visibleRegion().boundingRect().right(), form->ledPing->width() - 1 - 12);
    // The hidden encoder group overlaps "Ping Control" but leaves it whole.
    QWidget* ping = form->btnPing->parentWidget();
    EXPECT_TRUE(ping->geometry().intersects(form->GroupBox9->geometry()));
    EXPECT_EQ(ping->visibleRegion().boundingRect(), ping->rect());
}

TEST_F(MainWindow, OpensCentredAndFileExitClosesIt) {
    form->show();
    QCoreApplication::processEvents();
    const QRect area = form->screen()->availableGeometry();
    EXPECT_LE(std::abs(form->frameGeometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(form->frameGeometry().center().y() - area.center().y()), 1);
    EXPECT_EQ(CentredTopLeft(QSize(801, 632), QRect(0, 0, 1024, 768)), QPoint(111, 68));
    EXPECT_EQ(CentredTopLeft(QSize(801, 632), QRect(100, 20, 1024, 768)), QPoint(211, 88));
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindow, PictureOfTheWindowIsSavedForInspection) {
    form->show();
    QCoreApplication::processEvents();
    const QImage shot = form->grab().toImage();
    EXPECT_EQ(shot.width(), 793);
    EXPECT_EQ(form->Image1->DecodeCount(), 1);
    EXPECT_FALSE(form->Image1->Decoded().isNull());
    QDir().mkpath(UAV_ARTIFACTS_DIR);
    EXPECT_TRUE(shot.save(QStringLiteral(UAV_ARTIFACTS_DIR "/window.png")));
}

} // namespace
