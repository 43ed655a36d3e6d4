#include "Fonts.h"

#include <QStringList>

StandInFont LoadSansSerif() {
    return {};
}

QFont LayoutFont(int pixelHeight, bool bold, double) {
    // The TrueType face that took the bitmap "MS Sans Serif"'s place, with its design and metrics, at every
    // size and scale: Qt sizes the bitmap strikes by their line height, not their em, so an 8 point caption
    // would come out in the 10 point strike. Wine has no such face; there the Linux build's fallback draws,
    // and a sans serif of the system's wherever neither is found.
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}
