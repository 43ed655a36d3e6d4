#include "_GClass.h"
#include "_KxProc.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const QColor kPaper(255, 0, 255);

QImage Paper(int w = 40, int h = 40) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kPaper);
    return image;
}

QImage Draw(TLEDShape shape, const TRect& r, TColor fill, Qt::BrushStyle style = Qt::SolidPattern) {
    QImage image = Paper();
    QPainter p(&image);
    p.setBrush(style);
    DrawLED(p, r, shape, clBtnShadow, fill);
    return image;
}

// Compared as 8-bit RGB: palette colours may carry more precision than a pixel keeps.
QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}
QRgb Rgb(const QColor& c) {
    return c.rgb();
}

int CountColour(const QImage& image, const QRect& area, const QColor& colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour.rgb();
    return n;
}

} // namespace

TEST(LampColours, fixedColoursAreBGR_systemColoursComeFromThePalette) {
    EXPECT_EQ(ColorToQColor(clRed), QColor(255, 0, 0));
    EXPECT_EQ(ColorToQColor(clOlive), QColor(128, 128, 0));
    EXPECT_EQ(ColorToQColor(clGreen), QColor(0, 128, 0));
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Dark, QColor(4, 5, 6));
    palette.setColor(QPalette::Light, QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clBtnFace, palette), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(clBtnShadow, palette), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(clBtnHighlight, palette), QColor(7, 8, 9));
}

TEST(DrawLED, arrowUp_cornersOutlinedInsideFilledOutsideUntouched) {
    const QImage image = Draw(sArrowUp, {0, 0, 10, 8}, clRed);
    const QRgb outline = Rgb(ColorToQColor(clBtnShadow));
    EXPECT_EQ(At(image, 5, 0), outline);
    EXPECT_EQ(At(image, 9, 7), outline);
    EXPECT_EQ(At(image, 0, 7), outline);
    EXPECT_EQ(At(image, 5, 5), Rgb(QColor(255, 0, 0)));
    EXPECT_EQ(At(image, 0, 0), Rgb(kPaper));
    EXPECT_EQ(At(image, 10, 7), Rgb(kPaper));
    EXPECT_EQ(At(image, 5, 8), Rgb(kPaper));
}

TEST(DrawLED, otherArrows_pointWhereTheirNamesSay) {
    const QRgb outline = Rgb(ColorToQColor(clBtnShadow));
    const QImage left = Draw(sArrowLeft, {0, 0, 10, 8}, clRed);
    EXPECT_EQ(At(left, 0, 4), outline);
    EXPECT_EQ(At(left, 0, 0), Rgb(kPaper));
    EXPECT_EQ(At(left, 9, 0), outline);
    const QImage right = Draw(sArrowRight, {0, 0, 10, 8}, clRed);
    EXPECT_EQ(At(right, 9, 4), outline);
    EXPECT_EQ(At(right, 9, 0), Rgb(kPaper));
    const QImage down = Draw(sArrowDown, {0, 0, 10, 8}, clRed);
    EXPECT_EQ(At(down, 5, 7), outline);
    EXPECT_EQ(At(down, 0, 7), Rgb(kPaper));
}

TEST(DrawLED, rectangle_squareCornersWithinExclusiveBounds) {
    const QImage image = Draw(sRectangle, {2, 3, 12, 9}, clLime);
    const QRgb outline = Rgb(ColorToQColor(clBtnShadow));
    EXPECT_EQ(At(image, 2, 3), outline);
    EXPECT_EQ(At(image, 11, 8), outline);
    EXPECT_EQ(At(image, 12, 8), Rgb(kPaper));
    EXPECT_EQ(At(image, 11, 9), Rgb(kPaper));
    EXPECT_EQ(At(image, 6, 6), Rgb(QColor(0, 255, 0)));
}

TEST(DrawLED, roundLamp_glintOnlyInUpperLeftAndPenLeftAsGlint) {
    QImage image = Paper();
    QPainter p(&image);
    p.setBrush(Qt::SolidPattern);
    DrawLED(p, {0, 10, 13, 23}, sRound, clBtnShadow, clLime);
    const QColor glint = ColorToQColor(clBtnHighlight);
    EXPECT_EQ(p.pen().color().rgb(), glint.rgb());
    p.end();
    EXPECT_EQ(At(image, 6, 16), Rgb(QColor(0, 255, 0)));
    EXPECT_EQ(At(image, 0, 10), Rgb(kPaper)); // outside the disc's corner
    EXPECT_EQ(At(image, 13, 16), Rgb(kPaper));
    // The glint lies on the inset ellipse (2, 12, 11, 21), upper-left quarter only.
    EXPECT_GT(CountColour(image, QRect(2, 12, 5, 5), glint), 2);
    EXPECT_EQ(CountColour(image, QRect(7, 12, 6, 11), glint), 0);
    EXPECT_EQ(CountColour(image, QRect(0, 17, 13, 6), glint), 0);
}

TEST(DrawLED, brushStyleIsTheCanvasOwn) {
    const QImage image = Draw(sRectangle, {0, 0, 10, 10}, clRed, Qt::NoBrush);
    EXPECT_EQ(At(image, 5, 5), Rgb(kPaper));
}

TEST(TLEDDraw, offState_filledWithColorOffInTheSameOutline) {
    TLED led;
    led.SetColorOff(clOlive);
    led.SetShape(sRectangle);
    led.SetLEDRect({0, 0, 10, 10});
    QImage image = Paper();
    QPainter p(&image);
    p.setBrush(Qt::SolidPattern);
    led.Draw(p, false);
    p.end();
    EXPECT_EQ(At(image, 5, 5), Rgb(QColor(128, 128, 0)));
    EXPECT_EQ(At(image, 0, 0), Rgb(ColorToQColor(clBtnShadow)));
}

TEST(TLEDProperties, onlyEffectiveChangesAnnounce) {
    TLED led;
    int changes = 0;
    led.SetOnChange([&](TObject* sender) {
        EXPECT_EQ(sender, &led);
        ++changes;
    });
    led.SetColorOn(clLime); // the default already
    led.SetWidth(3);
    led.SetWidth(31);
    led.SetHeight(13);
    EXPECT_EQ(changes, 0);
    led.SetWidth(4);
    led.SetHeight(30);
    led.SetColorOn(clRed);
    led.SetColorOff(clOlive);
    led.SetShape(sArrowDown);
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(led.Width(), 4);
    EXPECT_EQ(led.Height(), 30);
}

TEST(AlignedTextOut, inkStaysOnTheAlignedSideOfTheAnchor) {
    QImage image = Paper(200, 100);
    QPainter p(&image);
    p.setPen(Qt::black);
    AlignedTextOut(p, 100, 50, "Ping", 0); // right of and below the anchor
    AlignedTextOut(p, 100, 50, "Ping", 8); // left of and above it
    p.end();
    const QColor ink(0, 0, 0);
    EXPECT_GT(CountColour(image, QRect(100, 50, 100, 50), ink), 0);
    EXPECT_GT(CountColour(image, QRect(0, 0, 100, 50), ink), 0);
    EXPECT_EQ(CountColour(image, QRect(0, 50, 100, 50), ink), 0);
    EXPECT_EQ(CountColour(image, QRect(100, 0, 100, 50), ink), 0);
}
