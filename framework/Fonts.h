#pragma once
// The layout's fonts on this machine. Layouts name "MS Sans Serif" in points at 96 dots per inch. On Linux
// the bitmap stand-in from fonts-wine has one strike only (regular, 11 pixel em, 13 pixel line), so every
// other height or weight is drawn with Liberation Sans at the same pixel height. So is every font on a screen
// whose device pixel ratio is not 1: Qt does not scale a bitmap strike, it spreads the 1x glyphs over scaled
// advances. The choice of family is each system's own (FontsLinux.cpp, FontsWin32.cpp).
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

// Makes the layout's sans serif ready (once per process) and reports what its stand-in offers: on Linux the
// stand-in from fonts-wine registered; on Windows "MS Sans Serif" is the system's own, with nothing to
// register and no stand-in.
StandInFont LoadSansSerif();

// The font for `pixelHeight` (logical pixels) and weight on a screen of `devicePixelRatio`: on Linux the
// stand-in where it serves, else Liberation Sans; on Windows the system's bitmap "MS Sans Serif" (a strike
// for each of the layout's sizes, emboldened by the system), its scalable successor on a scaled screen.
QFont LayoutFont(int pixelHeight, bool bold, double devicePixelRatio = 1.0);

// Turns every font set explicitly on `root` or below it from layout points into pixels, with the family
// chosen by LayoutFont for the device pixel ratio `root` is drawn at. Widgets that inherit their font follow
// their parent. Running it again after the ratio changed picks the family afresh.
void ApplyLayoutFonts(QWidget* root);
