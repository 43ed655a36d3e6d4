// The window layer's own controls: radio layout arithmetic and selection rules, layout fonts.
#include "Fonts.h"
#include "Label.h"
#include "RadioGroup.h"
#include "RadioLayout.h"

#include <QMouseEvent>
#include <QRadioButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

struct LayoutCase {
    const char* what;
    int count, columns, width, height;
    std::vector<RadioItemRect> items;
};

TEST(RadioLayout, PlacesItemsColumnByColumnWithRowsCentred) {
    const LayoutCase cases[] = {
        {"three across", 3, 3, 219, 35, {{8, 14, 69, 17}, {77, 14, 69, 17}, {146, 14, 69, 17}}},
        {"two across, narrow", 2, 2, 83, 35, {{8, 14, 36, 17}, {44, 14, 36, 17}}},
        {"one column, odd space", 2, 1, 69, 61, {{8, 14, 59, 21}, {8, 35, 59, 21}}},
        // 44 spare pixels over 3 rows of 14: the 2 left over put one pixel above the first row.
        {"columns filled top to bottom, rows centred",
         5,
         2,
         110,
         62,
         {{8, 15, 50, 14}, {8, 29, 50, 14}, {8, 43, 50, 14}, {58, 15, 50, 14}, {58, 29, 50, 14}}},
        {"zero columns count as one", 2, 0, 50, 40, {{8, 14, 40, 11}, {8, 25, 40, 11}}},
        {"too small for its caption", 1, 1, 5, 10, {{8, 14, 0, 0}}},
    };
    for (const LayoutCase& c : cases) {
        const RadioLayout layout = RadioLayout::Compute(c.count, c.columns, c.width, c.height, 13);
        for (int i = 0; i < c.count; ++i)
            EXPECT_EQ(layout.Item(i), c.items[static_cast<std::size_t>(i)]) << c.what << ", item " << i;
    }
}

TEST(RadioLayout, ClampsSelectionToTheItems) {
    const struct {
        int value, count, expected;
    } cases[] = {{-5, 3, -1}, {-1, 3, -1}, {0, 3, 0},  {2, 3, 2},
                 {3, 3, 2},   {99, 3, 2},  {0, 0, -1}, {4, 0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(ClampItemIndex(c.value, c.count), c.expected) << c.value << " of " << c.count;
}

class RadioGroupTest : public ::testing::Test {
protected:
    RadioGroupTest() {
        group.setGeometry(0, 0, 219, 35);
        group.SetItems({"Standby", "Mode A", "Mode C"});
        group.SetColumns(3);
    }
    TRadioGroup group;
    QSignalSpy clicks{&group, &TRadioGroup::Click};
};

TEST_F(RadioGroupTest, ProgramSelectionRunsClickOnlyWhenItChanges) {
    const struct {
        int set, expectedIndex, expectedClicks;
    } steps[] = {{1, 1, 1}, {1, 1, 1}, {-3, -1, 2}, {-1, -1, 2}, {7, 2, 3}, {2, 2, 3}, {0, 0, 4}};
    for (const auto& s : steps) {
        group.SetItemIndex(s.set);
        EXPECT_EQ(group.ItemIndex(), s.expectedIndex) << "after setting " << s.set;
        EXPECT_EQ(clicks.count(), s.expectedClicks) << "after setting " << s.set;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(group.Button(i)->isChecked(), i == s.expectedIndex) << "after setting " << s.set;
    }
}

TEST_F(RadioGroupTest, OperatorClickSelectsAndRepeatedClickDoesNothing) {
    group.Button(2)->click();
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_EQ(clicks.count(), 1);
    group.Button(2)->click();
    EXPECT_EQ(clicks.count(), 1);
    group.Button(0)->click();
    EXPECT_EQ(group.ItemIndex(), 0);
    EXPECT_FALSE(group.Button(2)->isChecked());
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(RadioGroupTest, OneTabStopOnTheSelectedOrFirstButton) {
    EXPECT_TRUE(group.Button(0)->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(group.Button(1)->focusPolicy() & Qt::TabFocus);
    group.SetItemIndex(2);
    EXPECT_FALSE(group.Button(0)->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(group.Button(2)->focusPolicy() & Qt::TabFocus);
}

TEST_F(RadioGroupTest, FewerItemsPullTheSelectionBack) {
    group.SetItemIndex(2);
    group.SetItems({"Standby", "Mode A"});
    EXPECT_EQ(group.ItemIndex(), 1);
    EXPECT_TRUE(group.Button(1)->isChecked());
    EXPECT_EQ(clicks.count(), 2);
}

TEST(LayoutFonts, StandInOnlyServesItsOwnStrike) {
    const StandInFont wine{true, 11, false};
    const StandInFont missing{};
    const struct {
        StandInFont font;
        int pixels;
        bool bold, expected;
    } cases[] = {{wine, 11, false, true}, {wine, 11, true, false},     {wine, 13, false, false},
                 {wine, 16, true, false}, {missing, 11, false, false}, {{true, 11, true}, 11, true, true}};
    for (const auto& c : cases)
        EXPECT_EQ(StandInServes(c.font, c.pixels, c.bold), c.expected) << c.pixels << (c.bold ? " bold" : "");
    for (const double ratio : {1.25, 2.0})
        EXPECT_FALSE(StandInServes(wine, 11, false, ratio)) << "a bitmap strike on a screen at " << ratio;
    EXPECT_EQ(LayoutPixels(8), 11);
    EXPECT_EQ(LayoutPixels(10), 13);
    EXPECT_EQ(LayoutPixels(12), 16);
    EXPECT_EQ(LayoutPixels(16), 21);
}

TEST(LayoutFonts, PixelHeightsHoldWhateverFamilyDrawsThem) {
    for (const auto& [pixels, bold] :
         {std::pair{11, false}, {13, true}, {16, true}, {21, true}, {13, false}}) {
        const QFont font = LayoutFont(pixels, bold);
        EXPECT_EQ(font.pixelSize(), pixels);
        EXPECT_EQ(font.bold(), bold);
    }
}

TEST(Label, GrowsToItsTextAndKeepsTheAlignedEdge) {
    TLabel left;
    left.setGeometry(10, 5, 6, 20);
    left.setText("Operational Status");
    EXPECT_EQ(left.x(), 10);
    EXPECT_GE(left.width(), left.fontMetrics().horizontalAdvance("Operational Status"));
    TLabel right;
    right.setAlignment(Qt::AlignRight | Qt::AlignTop);
    right.setGeometry(100, 5, 10, 20);
    right.setText("a much longer caption");
    EXPECT_EQ(right.geometry().right(), 109);
    EXPECT_LT(right.x(), 100);
    const int wide = right.width();
    right.setText("x");
    EXPECT_EQ(right.width(), wide) << "never shrinks below its box";
}

TEST(Label, DoubleClickIsReported) {
    TLabel label;
    QSignalSpy spy(&label, &TLabel::DblClick);
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &event);
    EXPECT_EQ(spy.count(), 1);
}

} // namespace
