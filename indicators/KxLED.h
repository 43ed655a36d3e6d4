#pragma once
// TKxLED: an indicator lamp with a caption beside it.
#include "_GClass.h"

#include <cstddef>
#include <memory>
#include <optional>

// Layout files set the lamp's own settings through the flat LEDShape, LEDColorOn, LEDColorOff, LEDWidth
// and LEDHeight; code reaches the lamp object itself through LED(). Layout files write enumerations
// qualified by this class, e.g. TKxLED::lpLeft, TKxLED::sRound, TKxLED::mIndicator. uic reads a <number>
// as a signed 32-bit value, so a system colour is written as its signed form (clBtnFace: -2147483633);
// fixed colours such as clOlive (32896) are written as they are.
class TKxLED : public TKxBinGControl {
    Q_OBJECT
    Q_PROPERTY(Kx::TLEDShape LEDShape READ LEDShape WRITE SetLEDShape)
    Q_PROPERTY(uint LEDColorOn READ LEDColorOn WRITE SetLEDColorOn)
    Q_PROPERTY(uint LEDColorOff READ LEDColorOff WRITE SetLEDColorOff)
    Q_PROPERTY(int LEDWidth READ LEDWidth WRITE SetLEDWidth)
    Q_PROPERTY(int LEDHeight READ LEDHeight WRITE SetLEDHeight)
    Q_PROPERTY(Kx::TLEDPos LED_Position READ LED_Position WRITE SetLED_Position)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)

public:
    using TLEDPos = Kx::TLEDPos;
    using TLEDShape = Kx::TLEDShape;
    using enum Kx::TLEDPos;
    using enum Kx::TLEDShape;

    static constexpr int kDefaultWidth = 73;
    static constexpr int kDefaultHeight = 33;
    static constexpr int kDefaultSpacing = 5;

    explicit TKxLED(QWidget* parent = nullptr);
    // An owner that cannot hold a control (not a widget) fails with "Invalid class typecast".
    explicit TKxLED(QObject* owner);
    explicit TKxLED(std::nullptr_t) : TKxLED(static_cast<QWidget*>(nullptr)) {}
    ~TKxLED() override;

    TLED* LED() const { return led_.get(); }

    TLEDShape LEDShape() const { return led_->Shape(); }
    void SetLEDShape(TLEDShape v) { led_->SetShape(v); }
    TColor LEDColorOn() const { return led_->ColorOn(); }
    void SetLEDColorOn(TColor v) { led_->SetColorOn(v); }
    TColor LEDColorOff() const { return led_->ColorOff(); }
    void SetLEDColorOff(TColor v) { led_->SetColorOff(v); }
    int LEDWidth() const { return led_->Width(); }
    void SetLEDWidth(int v) { led_->SetWidth(v); }
    int LEDHeight() const { return led_->Height(); }
    void SetLEDHeight(int v) { led_->SetHeight(v); }

    TLEDPos LED_Position() const { return position_; }
    void SetLED_Position(TLEDPos v);
    // Pixels between lamp and caption; any value, negative included.
    int Spacing() const { return spacing_; }
    void SetSpacing(int v);

    void setLEDShape(TLEDShape v) { SetLEDShape(v); }
    void setLEDColorOn(TColor v) { SetLEDColorOn(v); }
    void setLEDColorOff(TColor v) { SetLEDColorOff(v); }
    void setLEDWidth(int v) { SetLEDWidth(v); }
    void setLEDHeight(int v) { SetLEDHeight(v); }
    void setLED_Position(TLEDPos v) { SetLED_Position(v); }
    void setSpacing(int v) { SetSpacing(v); }

    QSize sizeHint() const override { return {kDefaultWidth, kDefaultHeight}; }

protected:
    void AppearanceChanged() override;
    void RedrawStatus() override;
    void FlashStep(bool on) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void DrawLampNow(bool on);

    std::unique_ptr<TLED> led_;
    TLEDPos position_ = lpLeft;
    int spacing_ = kDefaultSpacing;
    // Set while a status or flash redraw paints the lamp alone in this state.
    std::optional<bool> lampOnly_;
};
