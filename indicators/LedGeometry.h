#pragma once
// Lamp geometry without Qt: where a lamp sits in its control, where the caption goes, which points make
// each figure and where the round lamp's glint lies. Drawing code turns these into pixels. The enumerations
// here mirror the lamps' Qt-facing ones (KxTypes.h), which check that the two stay in step.
#include <array>
#include <cstdint>

// Right and bottom are exclusive, as for every rectangle the lamps deal in.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

namespace LedGeometry {

enum class Shape : std::uint8_t { Round, ArrowLeft, ArrowRight, ArrowUp, ArrowDown, Rectangle };
enum class Position : std::uint8_t { Left, Right, Top, Bottom };
// Flash rates, fastest first, each half as fast as the one before it.
enum class FlashRate : std::uint8_t { Hz8, Hz4, Hz2, Hz1, Hz05 };

inline constexpr int kMinLampSize = 4;
inline constexpr int kMaxLampSize = 30;
inline bool ValidLampSize(int v) {
    return v >= kMinLampSize && v <= kMaxLampSize;
}

struct LampSize {
    int Width = 0;
    int Height = 0;
};
// A round lamp is always drawn in a square, the larger of the two sides.
LampSize EffectiveLampSize(Shape shape, int width, int height);

// Caption alignment codes: horizontal part = code mod 3 (left, centre, right), vertical = code div 3
// (top, centre, bottom).
struct CaptionPlacement {
    TRect Lamp;
    TPoint Anchor;
    int Alignment = 0;
};
CaptionPlacement PlaceLamp(Position position, int controlWidth, int controlHeight, LampSize lamp,
                           int spacing);

// Top-left corner at which text of size w x h is drawn for the anchor and alignment; (0, 0) for an
// alignment outside 0..8.
TPoint AlignedOrigin(int x, int y, int w, int h, int alignment);

// The three corners of an arrow lamp, inclusive pixel positions. Only for the four arrow shapes.
std::array<TPoint, 3> ArrowTriangle(Shape shape, const TRect& r);

// The round lamp's glint: an open arc on an inset ellipse, counter-clockwise from the ray through the top
// middle to the ray through the left middle. Angles in degrees, counter-clockwise from three o'clock on the
// ellipse's own parametrisation, so they can be handed to a painter directly.
struct HighlightArc {
    TRect Ellipse;
    int PenWidth = 0; // 0 means the thinnest line the painter has
    TPoint From;
    TPoint To;
    double StartDegrees = 0;
    double SpanDegrees = 0;
};
HighlightArc RoundHighlight(const TRect& r);

// The flash clock's counter bit for a rate: 1, 2, 4, 8 or 16.
std::uint32_t FlashCode(FlashRate rate);

} // namespace LedGeometry
