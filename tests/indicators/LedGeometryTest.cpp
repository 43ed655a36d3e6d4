#include "LedGeometry.h"

#include <gtest/gtest.h>

using namespace LedGeometry;

namespace {
constexpr LampSize kDefaultLamp{13, 13};
}

TEST(LampPlacement, defaultLamp_sitsAt0_10_13_23_withCaptionAt18_16) {
    const CaptionPlacement p = PlaceLamp(Position::Left, 73, 33, kDefaultLamp, 5);
    EXPECT_EQ(p.Lamp, (TRect{0, 10, 13, 23}));
    EXPECT_EQ(p.Anchor, (TPoint{18, 16}));
    EXPECT_EQ(p.Alignment, 3);
}

TEST(LampPlacement, otherSides_placeLampAndAnchorCaptionOppositeIt) {
    const CaptionPlacement right = PlaceLamp(Position::Right, 73, 33, kDefaultLamp, 5);
    EXPECT_EQ(right.Lamp, (TRect{60, 10, 73, 23}));
    EXPECT_EQ(right.Anchor, (TPoint{55, 16}));
    EXPECT_EQ(right.Alignment, 5);

    const CaptionPlacement top = PlaceLamp(Position::Top, 73, 33, {10, 8}, 2);
    EXPECT_EQ(top.Lamp, (TRect{31, 0, 41, 8}));
    EXPECT_EQ(top.Anchor, (TPoint{36, 10}));
    EXPECT_EQ(top.Alignment, 1);

    const CaptionPlacement bottom = PlaceLamp(Position::Bottom, 73, 33, {10, 8}, -3);
    EXPECT_EQ(bottom.Lamp, (TRect{31, 25, 41, 33}));
    EXPECT_EQ(bottom.Anchor, (TPoint{36, 28}));
    EXPECT_EQ(bottom.Alignment, 7);
}

TEST(LampPlacement, roundLamp_isSquareOfLargerSide_otherShapesKeepTheirSize) {
    EXPECT_EQ(EffectiveLampSize(Shape::Round, 20, 10).Height, 20);
    EXPECT_EQ(EffectiveLampSize(Shape::Round, 6, 11).Width, 11);
    EXPECT_EQ(EffectiveLampSize(Shape::Rectangle, 20, 10).Height, 10);
}

TEST(AlignedOrigin, nineAlignments_shiftByWholeOrHalfSize_othersGoToOrigin) {
    // Text 11 x 7 anchored at (50, 40); halves truncate.
    const TPoint expected[9] = {{50, 40}, {45, 40}, {39, 40}, {50, 37}, {45, 37},
                                {39, 37}, {50, 33}, {45, 33}, {39, 33}};
    for (int a = 0; a < 9; ++a)
        EXPECT_EQ(AlignedOrigin(50, 40, 11, 7, a), expected[a]) << "alignment " << a;
    EXPECT_EQ(AlignedOrigin(50, 40, 11, 7, 9), (TPoint{0, 0}));
    EXPECT_EQ(AlignedOrigin(50, 40, 11, 7, -1), (TPoint{0, 0}));
}

TEST(ArrowTriangle, cornersNameLastColumnAndRow) {
    const TRect r{0, 0, 10, 8};
    EXPECT_EQ(ArrowTriangle(Shape::ArrowUp, r), (std::array<TPoint, 3>{{{5, 0}, {9, 7}, {0, 7}}}));
    EXPECT_EQ(ArrowTriangle(Shape::ArrowDown, r), (std::array<TPoint, 3>{{{0, 0}, {9, 0}, {5, 7}}}));
    EXPECT_EQ(ArrowTriangle(Shape::ArrowLeft, r), (std::array<TPoint, 3>{{{0, 4}, {9, 0}, {9, 7}}}));
    EXPECT_EQ(ArrowTriangle(Shape::ArrowRight, TRect{3, 2, 13, 10}),
              (std::array<TPoint, 3>{{{3, 2}, {12, 6}, {3, 9}}}));
}

TEST(RoundHighlight, defaultLamp_arcOnInsetEllipseFromTopMiddleToLeftMiddle) {
    const HighlightArc arc = RoundHighlight({0, 10, 13, 23});
    EXPECT_EQ(arc.Ellipse, (TRect{2, 12, 11, 21}));
    EXPECT_EQ(arc.PenWidth, 1);
    EXPECT_EQ(arc.From, (TPoint{6, 10}));
    EXPECT_EQ(arc.To, (TPoint{0, 16}));
    // The upper-left quarter: starts just left of twelve o'clock and ends just above nine.
    EXPECT_GT(arc.StartDegrees, 90.0);
    EXPECT_LT(arc.StartDegrees, 100.0);
    EXPECT_GT(arc.StartDegrees + arc.SpanDegrees, 170.0);
    EXPECT_LT(arc.StartDegrees + arc.SpanDegrees, 180.0);
}

TEST(RoundHighlight, penAndInsetGrowWithWidth) {
    const HighlightArc wide = RoundHighlight({0, 0, 30, 30});
    EXPECT_EQ(wide.PenWidth, 3);
    EXPECT_EQ(wide.Ellipse, (TRect{6, 6, 24, 24}));
    const HighlightArc narrow = RoundHighlight({0, 0, 7, 7});
    EXPECT_EQ(narrow.PenWidth, 0);
    EXPECT_EQ(narrow.Ellipse, (TRect{1, 1, 6, 6}));
}
