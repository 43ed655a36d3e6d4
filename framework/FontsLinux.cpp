#include "Fonts.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace {

const char* const kFallbackFamily = "Liberation Sans";
const char* const kStandInPath = "/usr/share/wine/fonts/ms_sans_serif.ttf";

} // namespace

StandInFont LoadSansSerif() {
    static const StandInFont loaded = [] {
        StandInFont font;
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kStandInPath));
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
