#pragma once
// Button glyphs: one bitmap holding NumGlyphs square-ish images side by side (enabled first, then
// disabled); the colour of the bitmap's lower-left pixel is drawn as transparent.
#include <QIcon>
#include <QImage>
#include <QList>

// The images of `bitmap`, each with the transparent colour turned into alpha 0. An empty bitmap or a
// count below one yields no images; a count larger than the width allows is cut to the width.
QList<QImage> SplitGlyph(const QImage& bitmap, int numGlyphs);

// An icon showing image 0 in every state but disabled, and image 1 (when present) while disabled. A
// `bitmap2x` of twice the size gives the images drawn on screens at a device pixel ratio above 1; without
// one (or with one of another size) those screens enlarge the 1x images.
QIcon GlyphIcon(const QImage& bitmap, int numGlyphs, const QImage& bitmap2x = {});
