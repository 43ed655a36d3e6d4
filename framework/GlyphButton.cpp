#include "GlyphButton.h"

#include "Glyph.h"

namespace {
// Glyph images are 16 pixels high whatever the button's size; the icon is never scaled.
QSize GlyphSize(const QPixmap& glyph, int numGlyphs) {
    if (glyph.isNull())
        return {};
    return {glyph.width() / std::max(1, std::min(numGlyphs, glyph.width())), glyph.height()};
}
} // namespace

void ApplyGlyph(QAbstractButton* button, const QPixmap& glyph, const QPixmap& glyph2x, int numGlyphs) {
    if (glyph.isNull()) {
        button->setIcon(QIcon());
        return;
    }
    button->setIcon(GlyphIcon(glyph.toImage(), numGlyphs, glyph2x.toImage()));
    button->setIconSize(GlyphSize(glyph, numGlyphs));
}

TBitBtn::TBitBtn(QWidget* parent) : TGlyphed<QPushButton>(parent) {
    // Return and Escape in an edit field press no button of the window.
    setAutoDefault(false);
    setDefault(false);
}

TSpeedButton::TSpeedButton(QWidget* parent) : TGlyphed<QToolButton>(parent) {
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}
