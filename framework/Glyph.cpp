#include "Glyph.h"

#include <QPixmap>

QList<QImage> SplitGlyph(const QImage& bitmap, int numGlyphs) {
    QList<QImage> images;
    if (bitmap.isNull() || numGlyphs < 1)
        return images;
    const int count = std::min(numGlyphs, bitmap.width());
    const int width = bitmap.width() / count;
    const QImage argb = bitmap.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = argb.pixel(0, argb.height() - 1);
    for (int g = 0; g < count; ++g) {
        QImage image = argb.copy(g * width, 0, width, argb.height());
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (line[x] == transparent)
                    line[x] = qRgba(0, 0, 0, 0);
            }
        }
        images.append(image);
    }
    return images;
}

namespace {
void AddImages(QIcon& icon, const QList<QImage>& images, qreal devicePixelRatio) {
    if (images.isEmpty())
        return;
    QPixmap enabled = QPixmap::fromImage(images[0]);
    enabled.setDevicePixelRatio(devicePixelRatio);
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected})
        icon.addPixmap(enabled, mode);
    if (images.size() > 1) {
        QPixmap disabled = QPixmap::fromImage(images[1]);
        disabled.setDevicePixelRatio(devicePixelRatio);
        icon.addPixmap(disabled, QIcon::Disabled);
    }
}
} // namespace

QIcon GlyphIcon(const QImage& bitmap, int numGlyphs, const QImage& bitmap2x) {
    QIcon icon;
    const QList<QImage> images = SplitGlyph(bitmap, numGlyphs);
    if (images.isEmpty())
        return icon;
    AddImages(icon, images, 1.0);
    if (bitmap2x.size() == bitmap.size() * 2)
        AddImages(icon, SplitGlyph(bitmap2x, numGlyphs), 2.0);
    return icon;
}
