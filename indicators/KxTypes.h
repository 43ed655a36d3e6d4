#pragma once
// The lamps' shared vocabulary: colour values and the enumerations that layout files store by name.
#include "LedGeometry.h"

#include <QObject>
#include <cstdint>

// 0x00BBGGRR for a fixed colour, or clSystemColor plus a system colour index for the desktop's palette.
using TColor = std::uint32_t;

inline constexpr TColor clSystemColor = 0x80000000;
inline constexpr TColor clRed = 0x000000FF;
inline constexpr TColor clGreen = 0x00008000;
inline constexpr TColor clOlive = 0x00008080;
inline constexpr TColor clLime = 0x0000FF00;
inline constexpr TColor clBtnFace = clSystemColor + 15;
inline constexpr TColor clBtnShadow = clSystemColor + 16;
inline constexpr TColor clBtnHighlight = clSystemColor + 20;

namespace Kx {
Q_NAMESPACE

enum TLEDShape : std::uint8_t { sRound, sArrowLeft, sArrowRight, sArrowUp, sArrowDown, sRectangle };
Q_ENUM_NS(TLEDShape)

enum TMode : std::uint8_t { mButton, mSwitch, mIndicator, mRadioButton };
Q_ENUM_NS(TMode)

// The names are historical: the rates follow the 50 ms flash clock (ff1Hz is a 800 ms cycle).
enum TFlashFreq : std::uint8_t { ff8Hz, ff4Hz, ff2Hz, ff1Hz, ff05Hz };
Q_ENUM_NS(TFlashFreq)

enum TLEDPos : std::uint8_t { lpLeft, lpRight, lpTop, lpBottom };
Q_ENUM_NS(TLEDPos)

} // namespace Kx

// Code reads the enumerations unqualified (sRound, mIndicator, ...), as the panel's handlers do.
using TLEDShape = Kx::TLEDShape;
using TMode = Kx::TMode;
using TFlashFreq = Kx::TFlashFreq;
using TLEDPos = Kx::TLEDPos;
using enum Kx::TLEDShape;
using enum Kx::TMode;
using enum Kx::TFlashFreq;
using enum Kx::TLEDPos;

// The geometry has the same enumerations without Qt; the values must match one for one.
static_assert(int(sRound) == int(LedGeometry::Shape::Round) &&
              int(sArrowLeft) == int(LedGeometry::Shape::ArrowLeft) &&
              int(sArrowRight) == int(LedGeometry::Shape::ArrowRight) &&
              int(sArrowUp) == int(LedGeometry::Shape::ArrowUp) &&
              int(sArrowDown) == int(LedGeometry::Shape::ArrowDown) &&
              int(sRectangle) == int(LedGeometry::Shape::Rectangle));
static_assert(int(lpLeft) == int(LedGeometry::Position::Left) &&
              int(lpRight) == int(LedGeometry::Position::Right) &&
              int(lpTop) == int(LedGeometry::Position::Top) &&
              int(lpBottom) == int(LedGeometry::Position::Bottom));
static_assert(int(ff8Hz) == int(LedGeometry::FlashRate::Hz8) &&
              int(ff4Hz) == int(LedGeometry::FlashRate::Hz4) &&
              int(ff2Hz) == int(LedGeometry::FlashRate::Hz2) &&
              int(ff1Hz) == int(LedGeometry::FlashRate::Hz1) &&
              int(ff05Hz) == int(LedGeometry::FlashRate::Hz05));

constexpr LedGeometry::Shape ToGeometry(TLEDShape shape) {
    return static_cast<LedGeometry::Shape>(shape);
}
constexpr LedGeometry::Position ToGeometry(TLEDPos position) {
    return static_cast<LedGeometry::Position>(position);
}
constexpr LedGeometry::FlashRate ToGeometry(TFlashFreq frequency) {
    return static_cast<LedGeometry::FlashRate>(frequency);
}
