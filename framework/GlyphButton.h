#pragma once
// TBitBtn: a push button with a caption and an optional glyph left of it. TSpeedButton: a small button that
// takes no keyboard focus and shows only its glyph. Neither is ever a default button. Glyph2x is the same
// bitmap drawn at twice the pixels, shown on screens at a device pixel ratio above 1.
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

class TBitBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(QPixmap Glyph2x READ Glyph2x WRITE SetGlyph2x)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    explicit TBitBtn(QWidget* parent = nullptr);

    QPixmap Glyph() const { return glyph_; }
    void SetGlyph(const QPixmap& glyph);
    QPixmap Glyph2x() const { return glyph2x_; }
    void SetGlyph2x(const QPixmap& glyph);
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int count);
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

private:
    void ShowGlyph();

    QPixmap glyph_;
    QPixmap glyph2x_;
    int numGlyphs_ = 1;
    int tag_ = 0;
};

class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(QPixmap Glyph2x READ Glyph2x WRITE SetGlyph2x)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)

public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    QPixmap Glyph() const { return glyph_; }
    void SetGlyph(const QPixmap& glyph);
    QPixmap Glyph2x() const { return glyph2x_; }
    void SetGlyph2x(const QPixmap& glyph);
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int count);

private:
    void ShowGlyph();

    QPixmap glyph_;
    QPixmap glyph2x_;
    int numGlyphs_ = 1;
};
