// Draws the panel's pictures: the title picture (baseline JFIF), the three button glyphs (16-colour
// bitmaps, two images each), and the window icon (16 colours). Glyphs and icon come twice: as laid out, and
// at twice the pixels for screens scaled to 2x (name@2x.bmp; the icon file holds both sizes). Run it to
// regenerate the files beside it:
//   cmake --build <build> --target uav_makeart && <build>/app/uav_makeart app/resources
// The output is deterministic: a fixed-seed generator makes the texture.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace {

// The standard 16-colour palette.
const std::array<QRgb, 16> kPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
enum : int {
    kBlack = 0,
    kMaroon,
    kGreen,
    kOlive,
    kNavy,
    kPurple,
    kTeal,
    kSilver,
    kGrey,
    kRed,
    kLime,
    kYellow,
    kBlue,
    kFuchsia,
    kAqua,
    kWhite
};

// Glyph background: drawn as transparent because it is the colour of the lower-left pixel.
constexpr int kGlyphBackground = kOlive;

struct Lcg {
    std::uint32_t state;
    int Next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(range));
    }
};

int Nearest(QRgb c) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 16; ++i) {
        const long dr = qRed(c) - qRed(kPalette[i]), dg = qGreen(c) - qGreen(kPalette[i]),
                   db = qBlue(c) - qBlue(kPalette[i]);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

// Indexed pixels, row 0 at the top.
struct Indexed {
    int width;
    int height;
    std::vector<std::uint8_t> pixels;
    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

Indexed Quantise(const QImage& image) {
    Indexed out{image.width(), image.height(), {}};
    out.pixels.resize(static_cast<std::size_t>(out.width * out.height));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            out.at(x, y) = static_cast<std::uint8_t>(Nearest(image.pixel(x, y)));
    return out;
}

void Put16(QByteArray& b, unsigned v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void Put32(QByteArray& b, unsigned v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// BITMAPINFOHEADER + palette + 4-bit rows, bottom row first. `headerHeight` is doubled inside an icon.
QByteArray Dib4(Indexed& img, int headerHeight) {
    QByteArray b;
    const int stride = ((img.width + 7) / 8) * 4;
    Put32(b, 40);
    Put32(b, static_cast<unsigned>(img.width));
    Put32(b, static_cast<unsigned>(headerHeight));
    Put16(b, 1);
    Put16(b, 4);
    Put32(b, 0);
    Put32(b, static_cast<unsigned>(stride * img.height));
    Put32(b, 3780);
    Put32(b, 3780);
    Put32(b, 16);
    Put32(b, 0);
    for (QRgb c : kPalette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append('\0');
    }
    for (int y = img.height - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < img.width; ++x) {
            const int shift = (x % 2 == 0) ? 4 : 0;
            row[x / 2] = char(row[x / 2] | (img.at(x, y) << shift));
        }
        b.append(row);
    }
    return b;
}

QByteArray Bmp4(Indexed& img) {
    const QByteArray dib = Dib4(img, img.height);
    QByteArray b("BM");
    Put32(b, static_cast<unsigned>(14 + dib.size()));
    Put32(b, 0);
    Put32(b, 14 + 40 + 16 * 4);
    b.append(dib);
    return b;
}

// An icon image: the colour bitmap and the AND mask (1 = transparent).
struct IconImage {
    Indexed colours;
    std::vector<bool> transparent;
};

// An icon file holding `images` (square, at most 255 pixels), each a colour DIB followed by its mask.
QByteArray Ico4(std::vector<IconImage>& images) {
    std::vector<QByteArray> dibs;
    for (IconImage& image : images) {
        Indexed& img = image.colours;
        QByteArray dib = Dib4(img, img.height * 2);
        const int maskStride = ((img.width + 31) / 32) * 4;
        for (int y = img.height - 1; y >= 0; --y) {
            QByteArray row(maskStride, '\0');
            for (int x = 0; x < img.width; ++x)
                if (image.transparent[static_cast<std::size_t>(y * img.width + x)])
                    row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
            dib.append(row);
        }
        dibs.push_back(dib);
    }
    QByteArray b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, static_cast<unsigned>(images.size()));
    unsigned offset = static_cast<unsigned>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        b.append(char(images[i].colours.width));
        b.append(char(images[i].colours.height));
        b.append(char(16));
        b.append('\0');
        Put16(b, 1);
        Put16(b, 4);
        Put32(b, static_cast<unsigned>(dibs[i].size()));
        Put32(b, offset);
        offset += static_cast<unsigned>(dibs[i].size());
    }
    for (const QByteArray& dib : dibs)
        b.append(dib);
    return b;
}

bool Save(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %lld bytes\n", qPrintable(path), static_cast<long long>(bytes.size()));
    return true;
}

// A canvas of w x h layout pixels at `scale` device pixels each; the painter draws in layout pixels.
QImage Canvas(int w, int h, int scale) {
    QImage image(w * scale, h * scale, QImage::Format_RGB32);
    image.fill(kPalette[kGlyphBackground]);
    return image;
}

void Begin(QPainter& p, QImage& image, int scale) {
    p.begin(&image);
    p.scale(scale, scale);
}

// Enabled images of the three glyphs, drawn without antialiasing so they quantise cleanly.
QImage ConnectGlyph(int scale) {
    QImage image = Canvas(16, 16, scale);
    QPainter p;
    Begin(p, image, scale);
    p.setPen(QColor(kPalette[kBlack]));
    p.setBrush(QColor(kPalette[kSilver]));
    p.drawRect(4, 4, 6, 8); // plug body
    p.setBrush(QColor(kPalette[kYellow]));
    p.drawRect(10, 5, 4, 1); // prongs
    p.drawRect(10, 10, 4, 1);
    p.fillRect(1, 7, 3, 2, QColor(kPalette[kNavy])); // cable
    p.fillRect(0, 8, 1, 6, QColor(kPalette[kNavy]));
    p.fillRect(6, 6, 2, 4, QColor(kPalette[kGrey]));
    return image;
}

QImage AutoGlyph(int scale) {
    QImage image = Canvas(16, 16, scale);
    QPainter p;
    Begin(p, image, scale);
    QPen pen(QColor(kPalette[kGreen]), 2);
    p.setPen(pen);
    p.drawArc(QRect(2, 2, 11, 11), 60 * 16, 270 * 16); // three quarters of a turn
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kPalette[kGreen]));
    const QPoint head[] = {QPoint(9, 0), QPoint(14, 4), QPoint(9, 7)};
    p.drawPolygon(head, 3);
    p.fillRect(7, 5, 2, 3, QColor(kPalette[kBlack])); // clock hands
    p.fillRect(7, 7, 3, 1, QColor(kPalette[kBlack]));
    return image;
}

QImage AltitudeGlyph(int scale) {
    QImage image = Canvas(16, 16, scale);
    QPainter p;
    Begin(p, image, scale);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kPalette[kBlue]));
    const QPoint head[] = {QPoint(8, 1), QPoint(14, 7), QPoint(2, 7)};
    p.drawPolygon(head, 3);
    p.fillRect(6, 7, 4, 6, QColor(kPalette[kBlue]));
    p.fillRect(0, 14, 16, 2, QColor(kPalette[kGreen])); // ground
    p.fillRect(7, 3, 2, 3, QColor(kPalette[kAqua]));
    return image;
}

// Enabled image on the left; on the right the shape embossed in grey with a white shadow one layout pixel
// down and right, as a disabled button shows it.
Indexed GlyphPair(const QImage& enabled, int scale) {
    Indexed left = Quantise(enabled);
    const int n = left.width, shadow = scale;
    Indexed pair{2 * n, n, std::vector<std::uint8_t>(static_cast<std::size_t>(2 * n * n), kGlyphBackground)};
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            pair.at(x, y) = left.at(x, y);
            if (left.at(x, y) != kGlyphBackground && x + shadow < n && y + shadow < n)
                pair.at(n + x + shadow, y + shadow) = kWhite;
        }
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (left.at(x, y) != kGlyphBackground)
                pair.at(n + x, y) = kGrey;
    // The lower-left pixel carries the transparent colour.
    pair.at(0, n - 1) = kGlyphBackground;
    return pair;
}

// A radar scope with a small aircraft blip, round, on a transparent square of 32 layout pixels.
IconImage IconArt(int scale) {
    QImage image = Canvas(32, 32, scale);
    {
        QPainter p;
        Begin(p, image, scale);
        p.setPen(QColor(kPalette[kBlack]));
        p.setBrush(QColor(kPalette[kNavy]));
        p.drawEllipse(1, 1, 29, 29);
        p.setBrush(Qt::NoBrush);
        p.setPen(QColor(kPalette[kGreen]));
        p.drawEllipse(6, 6, 19, 19);
        p.drawEllipse(11, 11, 9, 9);
        p.setPen(QColor(kPalette[kLime]));
        p.drawLine(16, 16, 27, 8);                           // sweep
        p.fillRect(20, 18, 4, 2, QColor(kPalette[kYellow])); // blip
        p.fillRect(21, 17, 2, 4, QColor(kPalette[kYellow]));
    }
    IconImage icon{Quantise(image),
                   std::vector<bool>(static_cast<std::size_t>(image.width() * image.height()))};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (icon.colours.at(x, y) == kGlyphBackground) {
                icon.transparent[static_cast<std::size_t>(y * image.width() + x)] = true;
                icon.colours.at(x, y) = kBlack; // AND mask 1 with colour 0 shows the screen
            }
    return icon;
}

// The title picture: a small aircraft over a hazy sky and fields, with transponder rings around it.
QImage TitleArt() {
    const int w = 435, h = 309, horizon = 212;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, QColor(24, 58, 122));
    sky.setColorAt(1, QColor(176, 204, 228));
    p.fillRect(0, 0, w, horizon, sky);
    QLinearGradient ground(0, horizon, 0, h);
    ground.setColorAt(0, QColor(96, 124, 72));
    ground.setColorAt(1, QColor(52, 78, 40));
    p.fillRect(0, horizon, w, h - horizon, ground);
    // Field strips converging on the horizon.
    p.setPen(QPen(QColor(70, 96, 52), 2));
    for (int i = -6; i <= 6; ++i)
        p.drawLine(QPointF(w / 2.0 + i * 18, horizon), QPointF(w / 2.0 + i * 120, h));
    // Rings spreading from the aircraft.
    const QPointF centre(250, 112);
    for (int r = 28; r < 260; r += 26) {
        p.setPen(QPen(QColor(255, 236, 160, std::max(20, 150 - r / 2)), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, r, r * 0.62);
    }
    // The aircraft: fuselage, swept wing, tail boom; large enough to read in the 111 x 87 box.
    p.translate(centre);
    p.scale(1.7, 1.7);
    p.translate(-centre);
    p.setPen(QPen(QColor(30, 30, 36), 1.5));
    p.setBrush(QColor(214, 218, 224));
    QPainterPath wing;
    wing.moveTo(centre + QPointF(-8, -4));
    wing.lineTo(centre + QPointF(-70, 18));
    wing.lineTo(centre + QPointF(-66, 26));
    wing.lineTo(centre + QPointF(4, 8));
    wing.lineTo(centre + QPointF(74, 24));
    wing.lineTo(centre + QPointF(76, 16));
    wing.closeSubpath();
    p.drawPath(wing);
    p.drawRoundedRect(QRectF(centre + QPointF(-60, -6), QSizeF(110, 14)), 7, 7);
    p.drawRect(QRectF(centre + QPointF(-96, -2), QSizeF(40, 4)));
    p.drawPolygon(QPolygonF({centre + QPointF(-98, -18), centre + QPointF(-88, -18), centre + QPointF(-84, 0),
                             centre + QPointF(-98, 0)}));
    p.setBrush(QColor(200, 40, 32));
    p.drawEllipse(centre + QPointF(46, -1), 3, 3);
    p.end();
    // Film grain: a plain drawing compresses to a third of the wanted size.
    Lcg lcg{20240601u};
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = lcg.Next(25) - 12;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                           std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return image;
}

QByteArray EncodeJpeg(const QImage& image, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo); // baseline, JFIF header
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    // The quality whose file comes closest to 30 KB.
    const QImage title = TitleArt();
    QByteArray best;
    for (int q = 50; q <= 95; ++q) {
        QByteArray jpeg = EncodeJpeg(title, q);
        if (best.isEmpty() || std::abs(jpeg.size() - 30155) < std::abs(best.size() - 30155))
            best = jpeg;
    }
    bool ok = Save(dir + "/title.jpg", best);
    const struct {
        const char* name;
        QImage (*draw)(int scale);
    } glyphs[] = {{"connect", ConnectGlyph}, {"auto", AutoGlyph}, {"altitude", AltitudeGlyph}};
    for (const auto& glyph : glyphs)
        for (const int scale : {1, 2}) {
            Indexed pair = GlyphPair(glyph.draw(scale), scale);
            const QString suffix = scale == 1 ? QStringLiteral(".bmp") : QStringLiteral("@2x.bmp");
            ok = ok && Save(dir + "/" + QString::fromLatin1(glyph.name) + suffix, Bmp4(pair));
        }
    std::vector<IconImage> icon{IconArt(1), IconArt(2)};
    ok = ok && Save(dir + "/uavcontrol.ico", Ico4(icon));
    return ok ? 0 : 1;
}
