#include "KxLED.h"
#include "KxFlashT.h"
#include "_KxProc.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QColor kPaper(255, 0, 255);
const QColor kLime(0, 255, 0);

// Records every paint a widget receives.
class PaintSpy : public QObject {
public:
    explicit PaintSpy(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
    std::vector<QRect> rects;
};

QImage Render(QWidget& w) {
    QImage image(w.size(), QImage::Format_RGB32);
    image.fill(kPaper);
    w.render(&image, {}, {}, QWidget::RenderFlags());
    return image;
}

// What the window really shows: the offscreen screen composes it from the backing store.
QImage OnScreen(QWidget& window) {
    QCoreApplication::processEvents();
    return window.screen()->grabWindow(window.winId()).toImage();
}

class LedWidgetTest : public ::testing::Test {
protected:
    void SetUp() override { StopFlashTimer(); }
    void ShowForm() {
        form.resize(200, 100);
        form.show();
        QCoreApplication::processEvents();
    }
    QWidget form;
    TKxLED* led = new TKxLED(&form);
};

} // namespace

TEST_F(LedWidgetTest, creation_defaultsAndNameBecomesCaption) {
    EXPECT_EQ(led->size(), QSize(73, 33));
    EXPECT_EQ(led->Spacing(), 5);
    EXPECT_EQ(led->LED_Position(), lpLeft);
    EXPECT_EQ(led->Mode(), mIndicator);
    EXPECT_EQ(led->Frequency(), ff1Hz);
    EXPECT_EQ(led->LED()->ColorOn(), clLime);
    EXPECT_EQ(led->LED()->ColorOff(), clBtnFace);
    EXPECT_TRUE(led->Caption().isEmpty());
    led->setObjectName("ledPing"); // as layout code names a control right after creating it
    EXPECT_EQ(led->Caption(), "ledPing");
    led->SetCaption("Ping");
    EXPECT_EQ(led->Caption(), "Ping");
}

TEST_F(LedWidgetTest, defaultPaint_lampAt0_10_captionFrom18CentredOn16_noBackground) {
    led->SetCaption("Ping");
    led->SetChecked(true);
    const QImage image = Render(*led);
    EXPECT_EQ(led->LED()->LEDRect(), (TRect{0, 10, 13, 23}));
    EXPECT_EQ(image.pixelColor(6, 16), kLime);
    EXPECT_EQ(image.pixelColor(6, 5), kPaper);
    EXPECT_EQ(image.pixelColor(72, 32), kPaper);
    // Caption ink lies right of x = 18 and inside the text box centred on y = 16.
    const int h = led->fontMetrics().height();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 14; x < image.width(); ++x)
            if (image.pixelColor(x, y) != kPaper)
                ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), 18);
    EXPECT_LE(ink.left(), 20);
    EXPECT_GE(ink.top(), 16 - h / 2);
    EXPECT_LT(ink.bottom(), 16 - h / 2 + h);
}

TEST_F(LedWidgetTest, paint_uncheckedShowsColorOff_roundLampSquaredToLargerSide) {
    led->SetLEDColorOff(clOlive);
    led->SetLEDWidth(20);
    led->SetLEDHeight(10);
    const QImage image = Render(*led);
    EXPECT_EQ(led->LED()->LEDRect(), (TRect{0, 6, 20, 26}));
    EXPECT_EQ(image.pixelColor(10, 16), QColor(128, 128, 0));
}

TEST_F(LedWidgetTest, positions_placeLampOnTheirSide) {
    led->SetLED_Position(lpRight);
    Render(*led);
    EXPECT_EQ(led->LED()->LEDRect(), (TRect{60, 10, 73, 23}));
    led->SetLED_Position(lpBottom);
    Render(*led);
    EXPECT_EQ(led->LED()->LEDRect(), (TRect{30, 20, 43, 33}));
}

TEST_F(LedWidgetTest, statusChange_redrawsLampAloneAtOnce) {
    ShowForm();
    PaintSpy spy(led);
    led->SetChecked(true);
    ASSERT_EQ(spy.rects.size(), 1u);
    EXPECT_EQ(spy.rects[0], QRect(0, 10, 13, 13));
    EXPECT_EQ(OnScreen(form).pixelColor(led->pos() + QPoint(6, 16)), kLime);
}

TEST_F(LedWidgetTest, appearance_repaintsOnEffectiveChangesOnly) {
    ShowForm();
    PaintSpy spy(led);
    led->SetLEDColorOn(clLime);
    led->SetLEDWidth(31);
    led->SetSpacing(5);
    EXPECT_TRUE(spy.rects.empty());
    led->SetLEDColorOn(clRed);
    led->SetCaption("SPI");
    ASSERT_EQ(spy.rects.size(), 2u);
    EXPECT_EQ(spy.rects[1], led->rect());
}

TEST_F(LedWidgetTest, hiddenLamp_drawsNothingThenShowsItsState) {
    ShowForm();
    led->hide();
    PaintSpy spy(led);
    led->SetChecked(true);
    led->SetFlashing(true);
    QCoreApplication::postEvent(led, new TFlashStepEvent(8, 0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(spy.rects.empty());
    led->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(OnScreen(form).pixelColor(led->pos() + QPoint(6, 16)), kLime);
}

TEST_F(LedWidgetTest, flashClock_stepsTheLampOffAndOnAtItsBit) {
    ShowForm();
    led->SetFrequency(ff8Hz);
    led->SetChecked(true);
    led->SetFlashing(true);
    const QPoint centre = led->pos() + QPoint(6, 16);
    const QColor off = ColorToQColor(clBtnFace);
    // Code 1 follows bit 0: odd counters show the lamp on, even ones off.
    for (int i = 0; i < 4; ++i) {
        FlashTick();
        QCoreApplication::sendPostedEvents(led, WM_FLASHSTEP);
        const bool on = FlashList().Counter() & 1;
        EXPECT_EQ(OnScreen(form).pixelColor(centre), on ? kLime : off) << "counter " << FlashList().Counter();
    }
    led->SetChecked(false);
    EXPECT_EQ(OnScreen(form).pixelColor(centre), off);
}

TEST_F(LedWidgetTest, staleStepAfterFlashingStopped_isIgnored) {
    ShowForm();
    led->SetChecked(true);
    led->SetFlashing(true);
    QCoreApplication::postEvent(led, new TFlashStepEvent(2, 0));
    led->SetFlashing(false);
    QCoreApplication::sendPostedEvents(led, WM_FLASHSTEP);
    EXPECT_EQ(OnScreen(form).pixelColor(led->pos() + QPoint(6, 16)), kLime);
}

TEST(LampScreenshot, writesAFewLampsAsArtifact) {
    QWidget sheet;
    sheet.resize(320, 120);
    sheet.setAutoFillBackground(true);
    struct Sample {
        QString caption;
        TLEDShape shape;
        TLEDPos pos;
        TColor on;
        TColor off;
        bool checked;
    };
    const Sample samples[] = {
        {"Auto Sequence", sRound, lpLeft, clLime, clOlive, true},
        {"SPI", sRound, lpLeft, clRed, clBtnFace, false},
        {"Ping", sRound, lpLeft, clRed, clBtnFace, true},
        {"Left", sArrowLeft, lpRight, clLime, clBtnFace, true},
        {"Up", sArrowUp, lpTop, clLime, clBtnFace, true},
        {"Down", sArrowDown, lpBottom, clRed, clBtnFace, false},
        {"Right", sArrowRight, lpLeft, clGreen, clBtnFace, true},
        {"Box", sRectangle, lpLeft, clRed, clBtnFace, true},
    };
    int i = 0;
    for (const Sample& s : samples) {
        auto* led = new TKxLED(&sheet);
        led->move((i % 4) * 80, (i / 4) * 60);
        led->SetCaption(s.caption);
        led->SetLEDShape(s.shape);
        led->SetLED_Position(s.pos);
        led->SetLEDColorOn(s.on);
        led->SetLEDColorOff(s.off);
        led->SetChecked(s.checked);
        if (s.shape != sRound)
            led->SetLEDWidth(16);
        ++i;
    }
    const QString dir = QStringLiteral(UAV_ARTIFACT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    const QImage shot = sheet.grab().toImage();
    EXPECT_TRUE(shot.save(dir + "/lamps.png"));
    EXPECT_EQ(shot.pixelColor(6, 16), kLime); // the first lamp, lit
}
