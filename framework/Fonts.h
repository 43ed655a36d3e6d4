#pragma once
// The layout's fonts on this machine. Layouts name "MS Sans Serif" in points at 96 dots per inch; the
// bitmap stand-in from fonts-wine has one strike only (regular, 11 pixel em, 13 pixel line), so every other
// height or weight is drawn with Liberation Sans at the same pixel height. So is every font on a screen whose
// device pixel ratio is not 1: Qt does not scale a bitmap strike, it spreads the 1x glyphs over scaled
// advances.
#include <QFont>
#include <QString>

class QWidget;

inline constexpr int kLayoutDpi = 96;

// Pixel height of a point size on the layout's 96 dpi grid: 8 pt -> 11, 10 -> 13, 12 -> 16, 16 -> 21.
inline int LayoutPixels(double points) {
    return static_cast<int>(points * kLayoutDpi / 72.0 + 0.5);
}

// Facts about the registered stand-in: whether it loaded, its strike's em height, whether it has a bold.
struct StandInFont {
    bool available = false;
    int emPixels = 0;
    bool hasBold = false;
};

// Whether the stand-in draws a font of this pixel height and weight as the layout meant it, on a screen of
// this device pixel ratio (a bitmap strike is not scaled, nor is it emboldened).
inline bool StandInServes(const StandInFont& standIn, int pixelHeight, bool bold,
                          double devicePixelRatio = 1.0) {
    return standIn.available && standIn.emPixels == pixelHeight && (!bold || standIn.hasBold) &&
           devicePixelRatio == 1.0;
}

inline const char* kSansSerifFamily = "MS Sans Serif";
inline const char* kFallbackFamily = "Liberation Sans";
inline const char* kStandInPath = "/usr/share/wine/fonts/ms_sans_serif.ttf";

// Registers the stand-in (once per process) and reports what it offers.
StandInFont LoadSansSerif(const QString& path = QString::fromLatin1(kStandInPath));

// The font for `pixelHeight` (logical pixels) and weight: the stand-in where it serves, else the fallback.
QFont LayoutFont(int pixelHeight, bool bold, double devicePixelRatio = 1.0);

// Turns every font set explicitly on `root` or below it from layout points into pixels, with the family
// chosen by LayoutFont for the device pixel ratio `root` is drawn at. Widgets that inherit their font follow
// their parent. Running it again after the ratio changed picks the family afresh.
void ApplyLayoutFonts(QWidget* root);
