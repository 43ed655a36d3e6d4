#include "Fonts.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>

StandInFont LoadSansSerif(const QString& path) {
    static const StandInFont loaded = [&] {
        StandInFont font;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0 || !QFontDatabase::applicationFontFamilies(id).contains(QLatin1String(kSansSerifFamily)))
            return font;
        QFont probe(QString::fromLatin1(kSansSerifFamily));
        probe.setStyleStrategy(QFont::NoFontMerging);
        const QFontMetrics metrics(probe);
        font.available = true;
        // For a bitmap strike the ascent is the em height the layout's pixel sizes refer to.
        font.emPixels = metrics.ascent();
        const QString family = QString::fromLatin1(kSansSerifFamily);
        for (const QString& style : QFontDatabase::styles(family)) {
            if (QFontDatabase::weight(family, style) >= QFont::Bold)
                font.hasBold = true;
        }
        return font;
    }();
    return loaded;
}

QFont LayoutFont(int pixelHeight, bool bold, double devicePixelRatio) {
    const bool standIn = StandInServes(LoadSansSerif(), pixelHeight, bold, devicePixelRatio);
    QFont font(QString::fromLatin1(standIn ? kSansSerifFamily : kFallbackFamily));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

void ApplyLayoutFonts(QWidget* root) {
    const double ratio = root->devicePixelRatioF();
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            continue;
        const QFont font = widget->font();
        const int pixels = font.pixelSize() > 0 ? font.pixelSize() : LayoutPixels(font.pointSizeF());
        widget->setFont(LayoutFont(pixels, font.bold(), ratio));
    }
}
