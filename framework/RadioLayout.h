#pragma once
// Where a radio group puts its buttons: columns filled top to bottom, the rows centred in the space left
// under the frame's caption line. Pure arithmetic, so it is checked without a window.
#include <algorithm>

struct RadioItemRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const RadioItemRect&, const RadioItemRect&) = default;
};

struct RadioLayout {
    int rows = 0;
    int buttonWidth = 0;
    int buttonHeight = 0;
    int topOffset = 0; // top of row 0, relative to the group

    // `count` items in `columns` columns inside a group of `width` x `height` whose font line is
    // `lineHeight` pixels. Fewer than one column counts as one; an empty group lays out nothing.
    static RadioLayout Compute(int count, int columns, int width, int height, int lineHeight) {
        RadioLayout l;
        if (count <= 0)
            return l;
        const int c = std::max(columns, 1);
        l.rows = (count + c - 1) / c;
        const int space = std::max(height - lineHeight - 5, 0);
        l.buttonWidth = std::max(width - 10, 0) / c;
        l.buttonHeight = space / l.rows;
        l.topOffset = lineHeight + 1 + (space % l.rows) / 2;
        return l;
    }

    RadioItemRect Item(int index) const {
        if (rows <= 0 || index < 0)
            return {};
        const int column = index / rows;
        const int row = index % rows;
        return {8 + column * buttonWidth, topOffset + row * buttonHeight, buttonWidth, buttonHeight};
    }
};

// The ItemIndex rule: below -1 counts as -1 (nothing selected), past the last item as the last item.
inline int ClampItemIndex(int value, int count) {
    if (value < -1)
        return -1;
    return std::min(value, count - 1);
}
