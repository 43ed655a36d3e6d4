// Pictures: glyph bitmaps with their transparent colour and disabled image; the JPEG picture box.
#include "Glyph.h"
#include "JpegDecode.h"
#include "PictureBox.h"
#include "uavMain.h"

#include <QAbstractButton>
#include <QFile>
#include <QIcon>
#include <gtest/gtest.h>

namespace {

QByteArray ReadResource(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class Pictures : public ::testing::Test {
protected:
    // The window's constructor registers the compiled-in pictures.
    static void SetUpTestSuite() { delete new TForm1; }
};

TEST_F(Pictures, GlyphBitmapsAreTwoImagesWithTheLowerLeftColourTransparent) {
    for (const char* name : {":/connect.bmp", ":/auto.bmp", ":/altitude.bmp", ":/connect@2x.bmp",
                             ":/auto@2x.bmp", ":/altitude@2x.bmp"}) {
        const QImage bitmap(QString::fromLatin1(name));
        const int n = QByteArray(name).contains("@2x") ? 32 : 16;
        ASSERT_EQ(bitmap.size(), QSize(2 * n, n)) << name;
        EXPECT_LE(bitmap.colorCount(), 16) << name;
        const QRgb key = bitmap.pixel(0, n - 1);
        const QList<QImage> images = SplitGlyph(bitmap, 2);
        ASSERT_EQ(images.size(), 2) << name;
        int keyed = 0, opaque = 0, differing = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                for (int g = 0; g < 2; ++g) {
                    const bool isKey = bitmap.pixel(n * g + x, y) == key;
                    EXPECT_EQ(qAlpha(images[g].pixel(x, y)) == 0, isKey)
                        << name << " image " << g << " at " << x << "," << y;
                    keyed += isKey;
                    opaque += !isKey;
                }
                differing += images[0].pixel(x, y) != images[1].pixel(x, y);
            }
        EXPECT_GT(keyed, 0) << name;
        EXPECT_GT(opaque, 0) << name;
        EXPECT_GT(differing, 0) << name << ": the disabled image is its own drawing";
    }
}

TEST_F(Pictures, AtTwiceThePixelsButtonsAndIconShowTheir2xDrawing) {
    TForm1 form;
    for (const auto& [button, name] :
         {std::pair{"BitBtn6", "connect"}, {"autobtn", "auto"}, {"altitudeBtn", "altitude"}}) {
        const auto* glyphButton = form.findChild<QAbstractButton*>(QString::fromLatin1(button));
        ASSERT_NE(glyphButton, nullptr) << button;
        const QList<QImage> art =
            SplitGlyph(QImage(QStringLiteral(":/%1@2x.bmp").arg(QLatin1String(name))), 2);
        ASSERT_EQ(art.size(), 2) << name;
        for (const auto& [mode, image] : {std::pair{QIcon::Normal, 0}, {QIcon::Disabled, 1}}) {
            const QImage shown = glyphButton->icon()
                                     .pixmap(glyphButton->iconSize(), 2.0, mode)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32);
            EXPECT_EQ(shown, art[image])
                << button << (image ? " disabled" : " enabled") << ": not an enlarged 1x image";
        }
    }
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(64, 64)));
}

TEST(Glyph, OneImageOrNothingWhenTheBitmapSaysSo) {
    QImage bitmap(32, 16, QImage::Format_RGB32);
    bitmap.fill(Qt::red);
    bitmap.setPixel(0, 15, qRgb(0, 0, 255));
    EXPECT_EQ(SplitGlyph(bitmap, 1).size(), 1);
    EXPECT_EQ(SplitGlyph(bitmap, 1)[0].width(), 32);
    EXPECT_TRUE(SplitGlyph(bitmap, 0).isEmpty());
    EXPECT_TRUE(SplitGlyph(QImage(), 2).isEmpty());
}

TEST(Glyph, DisabledButtonShowsTheSecondImage) {
    QImage bitmap(32, 16, QImage::Format_RGB32);
    bitmap.fill(qRgb(128, 128, 0));
    for (int y = 2; y < 10; ++y) {
        bitmap.setPixel(4, y, qRgb(255, 0, 0));
        bitmap.setPixel(20, y, qRgb(128, 128, 128));
    }
    const QIcon icon = GlyphIcon(bitmap, 2);
    const QImage enabled = icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    EXPECT_EQ(enabled.pixel(4, 5), qRgb(255, 0, 0));
    EXPECT_EQ(disabled.pixel(4, 5), qRgb(128, 128, 128));
    EXPECT_EQ(qAlpha(disabled.pixel(0, 0)), 0);
}

TEST_F(Pictures, TitlePictureIsABaselineColourJfif) {
    const QByteArray jpeg = ReadResource(":/title.jpg");
    ASSERT_GT(jpeg.size(), 25000);
    EXPECT_LT(jpeg.size(), 35000);
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8\xFF\xE0")) << "JFIF APP0 first";
    EXPECT_EQ(jpeg.mid(6, 5), QByteArray("JFIF\0", 5));
    EXPECT_TRUE(jpeg.contains("\xFF\xC0")) << "baseline frame";
    const QImage image = DecodeJpeg(jpeg);
    EXPECT_EQ(image.size(), QSize(435, 309));
}

TEST_F(Pictures, PictureIsDecodedOnceOnFirstPaintAndDrawnStretched) {
    TImage box;
    box.setGeometry(0, 0, 111, 87);
    box.SetStretch(true);
    box.SetPicture(":/title.jpg");
    EXPECT_EQ(box.DecodeCount(), 0) << "nothing decoded before the first paint";
    QImage first = box.grab().toImage();
    EXPECT_EQ(box.DecodeCount(), 1);
    EXPECT_EQ(box.Decoded().size(), QSize(435, 309));
    for (int i = 0; i < 3; ++i)
        box.grab();
    box.resize(60, 40);
    box.grab();
    EXPECT_EQ(box.DecodeCount(), 1);
    // Stretched: the picture's sky reaches the top corners and its ground the bottom ones.
    EXPECT_GT(qBlue(first.pixel(2, 2)), qRed(first.pixel(2, 2)));
    EXPECT_GT(qGreen(first.pixel(2, 84)), qBlue(first.pixel(2, 84)));
}

TEST(PictureBox, BrokenPictureLeavesTheBoxEmptyAndTheProgramRunning) {
    const QByteArray good = [] {
        delete new TForm1;
        return ReadResource(":/title.jpg");
    }();
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"not a JPEG", QByteArray("this is no picture at all")},
        {"cut short", good.left(good.size() / 3)},
        {"header only", good.left(200)},
        {"scrambled scan",
         [&] {
             QByteArray b = good;
             for (qsizetype i = b.size() / 2; i < b.size() / 2 + 400; ++i)
                 b[i] = char(0xFF);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        TImage box;
        box.resize(111, 87);
        box.SetPictureData(c.bytes);
        const QImage shot = box.grab().toImage();
        EXPECT_EQ(box.DecodeCount(), 1) << c.what;
        EXPECT_TRUE(box.Decoded().isNull()) << c.what;
        EXPECT_FALSE(box.DecodeError().isEmpty()) << c.what;
        box.grab();
        EXPECT_EQ(box.DecodeCount(), 1) << c.what << ": a failure is not retried on every paint";
    }
}

} // namespace
