#include "LedGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace LedGeometry {

LampSize EffectiveLampSize(Shape shape, int width, int height) {
    if (shape == Shape::Round) {
        const int side = std::max(width, height);
        return {side, side};
    }
    return {width, height};
}

CaptionPlacement PlaceLamp(Position position, int controlWidth, int controlHeight, LampSize lamp,
                           int spacing) {
    const int cx = controlWidth / 2;
    const int cy = controlHeight / 2;
    const int lw = lamp.Width;
    const int lh = lamp.Height;
    CaptionPlacement p;
    switch (position) {
    case Position::Left:
        p.Lamp = {0, cy - lh / 2, lw, cy - lh / 2 + lh};
        p.Anchor = {p.Lamp.Right + spacing, cy};
        p.Alignment = 3;
        break;
    case Position::Right:
        p.Lamp = {controlWidth - lw, cy - lh / 2, controlWidth, cy - lh / 2 + lh};
        p.Anchor = {p.Lamp.Left - spacing, cy};
        p.Alignment = 5;
        break;
    case Position::Top:
        p.Lamp = {cx - lw / 2, 0, cx - lw / 2 + lw, lh};
        p.Anchor = {cx, p.Lamp.Bottom + spacing};
        p.Alignment = 1;
        break;
    case Position::Bottom:
        p.Lamp = {cx - lw / 2, controlHeight - lh, cx - lw / 2 + lw, controlHeight};
        p.Anchor = {cx, p.Lamp.Top - spacing};
        p.Alignment = 7;
        break;
    }
    return p;
}

TPoint AlignedOrigin(int x, int y, int w, int h, int alignment) {
    if (alignment < 0 || alignment > 8)
        return {0, 0};
    const int dx[] = {0, w / 2, w};
    const int dy[] = {0, h / 2, h};
    return {x - dx[alignment % 3], y - dy[alignment / 3]};
}

std::array<TPoint, 3> ArrowTriangle(Shape shape, const TRect& r) {
    const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
    const int hw = (R - L) / 2;
    const int hh = (B - T) / 2;
    switch (shape) {
    case Shape::ArrowLeft:
        return {{{L, T + hh}, {R - 1, T}, {R - 1, B - 1}}};
    case Shape::ArrowRight:
        return {{{L, T}, {R - 1, T + hh}, {L, B - 1}}};
    case Shape::ArrowUp:
        return {{{L + hw, T}, {R - 1, B - 1}, {L, B - 1}}};
    case Shape::ArrowDown:
        return {{{L, T}, {R - 1, T}, {L + hw, B - 1}}};
    default:
        return {};
    }
}

namespace {
// Angle of the point where the ray from the ellipse's centre through p meets the ellipse, in the
// ellipse's parametric degrees (y grows downwards on screen, angles grow counter-clockwise).
double ParametricAngle(const TRect& e, TPoint p) {
    const double cx = (e.Left + e.Right) / 2.0;
    const double cy = (e.Top + e.Bottom) / 2.0;
    const double rx = std::max(1, e.Width()) / 2.0;
    const double ry = std::max(1, e.Height()) / 2.0;
    const double deg = std::atan2((cy - p.Y) / ry, (p.X - cx) / rx) * 180.0 / std::numbers::pi;
    return deg < 0 ? deg + 360.0 : deg;
}
} // namespace

HighlightArc RoundHighlight(const TRect& r) {
    const int w = r.Width();
    const int hw = w / 2;
    const int hh = r.Height() / 2;
    const int d = w / 5;
    HighlightArc arc;
    arc.Ellipse = {r.Left + d, r.Top + d, r.Right - d, r.Bottom - d};
    arc.PenWidth = w / 8;
    arc.From = {r.Left + hw, r.Top};
    arc.To = {r.Left, r.Top + hh};
    arc.StartDegrees = ParametricAngle(arc.Ellipse, arc.From);
    double end = ParametricAngle(arc.Ellipse, arc.To);
    if (end < arc.StartDegrees)
        end += 360.0;
    arc.SpanDegrees = end - arc.StartDegrees;
    return arc;
}

std::uint32_t FlashCode(FlashRate rate) {
    return 1u << static_cast<unsigned>(rate);
}

} // namespace LedGeometry
