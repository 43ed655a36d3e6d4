#pragma once
// Button glyphs: one bitmap holding NumGlyphs square-ish images side by side (enabled first, then
// disabled); the colour of the bitmap's lower-left pixel is drawn as transparent.
#include <QIcon>
#include <QImage>
#include <QList>

// The images of `bitmap`, each with the transparent colour turned into alpha 0. An empty bitmap or a
// count below one yields no images; a count larger than the width allows is cut to the width.
QList<QImage> SplitGlyph(const QImage& bitmap, int numGlyphs);

// An icon showing image 0 in every state but disabled, and image 1 (when present) while disabled.
QIcon GlyphIcon(const QImage& bitmap, int numGlyphs);
