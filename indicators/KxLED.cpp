#include "KxLED.h"

#include "Exceptions.h"
#include "KxFlashT.h"
#include "_KxProc.h"

#include <QPaintEvent>
#include <QPainter>

namespace {

QWidget* RequireWidget(QObject* owner) {
    if (!owner)
        return nullptr;
    auto* widget = qobject_cast<QWidget*>(owner);
    if (!widget)
        throw EInvalidCast("Invalid class typecast");
    return widget;
}

QRect ToQRect(const TRect& r) {
    return QRect(r.Left, r.Top, r.Width(), r.Height());
}

} // namespace

TKxLED::TKxLED(QWidget* parent) : TKxBinGControl(parent), led_(std::make_unique<TLED>()) {
    led_->SetOnChange([this](TObject*) { AppearanceChanged(); });
    resize(kDefaultWidth, kDefaultHeight);
}

TKxLED::TKxLED(QObject* owner) : TKxLED(RequireWidget(owner)) {}

TKxLED::~TKxLED() {
    RemoveFlashControl(this);
    led_.reset();
}

void TKxLED::SetLED_Position(TLEDPos v) {
    if (v == position_ || v > lpBottom)
        return;
    position_ = v;
    AppearanceChanged();
}

void TKxLED::SetSpacing(int v) {
    if (v == spacing_)
        return;
    spacing_ = v;
    AppearanceChanged();
}

void TKxLED::AppearanceChanged() {
    if (led_)
        repaint();
}

void TKxLED::RedrawStatus() {
    DrawLampNow(Checked());
}

void TKxLED::FlashStep(bool on) {
    DrawLampNow(on);
}

void TKxLED::DrawLampNow(bool on) {
    if (!isVisible() || !led_)
        return;
    lampOnly_ = on;
    repaint(ToQRect(led_->LEDRect()));
    lampOnly_.reset();
}

void TKxLED::paintEvent(QPaintEvent* e) {
    QPainter canvas(this);
    canvas.setFont(font());
    const QRect lampRect = ToQRect(led_->LEDRect());
    if (lampOnly_ && !lampRect.isEmpty() && lampRect.contains(e->rect())) {
        canvas.setBrush(Qt::SolidPattern);
        led_->Draw(canvas, *lampOnly_);
        return;
    }
    const auto size =
        LedGeometry::EffectiveLampSize(ToGeometry(led_->Shape()), led_->Width(), led_->Height());
    const auto place = LedGeometry::PlaceLamp(ToGeometry(position_), width(), height(), size, spacing_);
    led_->SetLEDRect(place.Lamp);
    canvas.setBrush(Qt::NoBrush);
    if (!Caption().isEmpty())
        AlignedTextOut(canvas, place.Anchor.X, place.Anchor.Y, Caption(), place.Alignment);
    canvas.setBrush(Qt::SolidPattern);
    led_->Draw(canvas, lampOnly_.value_or(Checked()));
}
