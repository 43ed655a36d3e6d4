#pragma once
// TBitBtn: a push button with a caption and an optional glyph left of it. TSpeedButton: a small button that
// takes no keyboard focus and shows only its glyph. Neither is ever a default button. Glyph2x is the same
// bitmap drawn at twice the pixels, shown on screens at a device pixel ratio above 1.
#include <QAbstractButton>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

// Shows `glyph` (NumGlyphs images side by side) and its 2x drawing as the button's icon, at the glyph's size.
void ApplyGlyph(QAbstractButton* button, const QPixmap& glyph, const QPixmap& glyph2x, int numGlyphs);

// The glyph properties both buttons have. Each setter returns early on an unchanged value; a change shows
// the glyph again.
template <class Button> class TGlyphed : public Button {
public:
    using Button::Button;

    QPixmap Glyph() const { return glyph_; }
    void SetGlyph(const QPixmap& glyph) { Change(glyph_, glyph); }
    QPixmap Glyph2x() const { return glyph2x_; }
    void SetGlyph2x(const QPixmap& glyph) { Change(glyph2x_, glyph); }
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int count) {
        if (count == numGlyphs_)
            return;
        numGlyphs_ = count;
        ApplyGlyph(this, glyph_, glyph2x_, numGlyphs_);
    }

private:
    void Change(QPixmap& field, const QPixmap& glyph) {
        if (glyph.cacheKey() == field.cacheKey())
            return;
        field = glyph;
        ApplyGlyph(this, glyph_, glyph2x_, numGlyphs_);
    }

    QPixmap glyph_;
    QPixmap glyph2x_;
    int numGlyphs_ = 1;
};

class TBitBtn : public TGlyphed<QPushButton> {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(QPixmap Glyph2x READ Glyph2x WRITE SetGlyph2x)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    explicit TBitBtn(QWidget* parent = nullptr);

    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

private:
    int tag_ = 0;
};

class TSpeedButton : public TGlyphed<QToolButton> {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(QPixmap Glyph2x READ Glyph2x WRITE SetGlyph2x)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)

public:
    explicit TSpeedButton(QWidget* parent = nullptr);
};
