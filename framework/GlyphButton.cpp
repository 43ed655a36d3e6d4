#include "GlyphButton.h"

#include "Glyph.h"

namespace {
// Glyph images are 16 pixels high whatever the button's size; the icon is never scaled.
QSize GlyphSize(const QPixmap& glyph, int numGlyphs) {
    if (glyph.isNull())
        return {};
    return {glyph.width() / std::max(1, std::min(numGlyphs, glyph.width())), glyph.height()};
}

void ApplyGlyph(QAbstractButton* button, const QPixmap& glyph, const QPixmap& glyph2x, int numGlyphs) {
    if (glyph.isNull()) {
        button->setIcon(QIcon());
        return;
    }
    button->setIcon(GlyphIcon(glyph.toImage(), numGlyphs, glyph2x.toImage()));
    button->setIconSize(GlyphSize(glyph, numGlyphs));
}
} // namespace

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    // Return and Escape in an edit field press no button of the window.
    setAutoDefault(false);
    setDefault(false);
}

void TBitBtn::SetGlyph(const QPixmap& glyph) {
    if (glyph.cacheKey() == glyph_.cacheKey())
        return;
    glyph_ = glyph;
    ShowGlyph();
}

void TBitBtn::SetGlyph2x(const QPixmap& glyph) {
    if (glyph.cacheKey() == glyph2x_.cacheKey())
        return;
    glyph2x_ = glyph;
    ShowGlyph();
}

void TBitBtn::SetNumGlyphs(int count) {
    if (count == numGlyphs_)
        return;
    numGlyphs_ = count;
    ShowGlyph();
}

void TBitBtn::ShowGlyph() {
    ApplyGlyph(this, glyph_, glyph2x_, numGlyphs_);
}

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

void TSpeedButton::SetGlyph(const QPixmap& glyph) {
    if (glyph.cacheKey() == glyph_.cacheKey())
        return;
    glyph_ = glyph;
    ShowGlyph();
}

void TSpeedButton::SetGlyph2x(const QPixmap& glyph) {
    if (glyph.cacheKey() == glyph2x_.cacheKey())
        return;
    glyph2x_ = glyph;
    ShowGlyph();
}

void TSpeedButton::SetNumGlyphs(int count) {
    if (count == numGlyphs_)
        return;
    numGlyphs_ = count;
    ShowGlyph();
}

void TSpeedButton::ShowGlyph() {
    ApplyGlyph(this, glyph_, glyph2x_, numGlyphs_);
}
