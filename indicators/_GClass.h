#pragma once
// The lamp object (TLED, on its change-announcing base TKxPersistent) and the on/off control base
// TKxBinGControl: state, status word and groups, mouse modes and flash registration.
#include "Component.h"
#include "KxTypes.h"
#include "LedGeometry.h"

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

class QMenu;
class QPainter;

// A persistent object that announces each effective change through OnChange.
class TKxPersistent : public QObject {
    Q_OBJECT

public:
    TKxPersistent() = default;

    const TNotifyEvent& OnChange() const { return onChange_; }
    void SetOnChange(TNotifyEvent handler) { onChange_ = std::move(handler); }

protected:
    virtual void Changed();

private:
    TNotifyEvent onChange_;
};

// The lamp inside an indicator control: shape, colours and size, the rectangle its owner last placed it
// in, and drawing itself on or off there.
class TLED : public TKxPersistent {
    Q_OBJECT
    Q_PROPERTY(Kx::TLEDShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(uint ColorOn READ ColorOn WRITE SetColorOn)
    Q_PROPERTY(uint ColorOff READ ColorOff WRITE SetColorOff)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)

public:
    static constexpr int kDefaultSize = 13;

    TLED() = default;

    TLEDShape Shape() const { return shape_; }
    void SetShape(TLEDShape v);
    TColor ColorOn() const { return colorOn_; }
    void SetColorOn(TColor v);
    TColor ColorOff() const { return colorOff_; }
    void SetColorOff(TColor v);
    // Sizes outside 4..30 are ignored.
    int Width() const { return width_; }
    void SetWidth(int v);
    int Height() const { return height_; }
    void SetHeight(int v);

    const TRect& LEDRect() const { return rect_; }
    void SetLEDRect(const TRect& r) { rect_ = r; }

    // Draws the lamp in LEDRect, filled with ColorOn or ColorOff.
    void Draw(QPainter& canvas, bool on) const;

private:
    TLEDShape shape_ = sRound;
    TColor colorOn_ = clLime;
    TColor colorOff_ = clBtnFace;
    int width_ = kDefaultSize;
    int height_ = kDefaultSize;
    TRect rect_;
};

using TMouseEvent =
    std::function<void(TObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

// A lightweight on/off control: Checked mirrors bit StatusBit of the status word StatusInt, which all
// controls of one form with the same non-zero GroupIndex share. Mode decides what the left button does.
//
// Layout files set the properties through uic, which calls `set` + the property name (setChecked,
// setStatusInt, ...); those lower-case forwarders sit beside the setters the code itself uses.
class TKxBinGControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE setVisible)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(Kx::TFlashFreq Frequency READ Frequency WRITE SetFrequency)
    Q_PROPERTY(bool Flashing READ Flashing WRITE SetFlashing)
    Q_PROPERTY(int StatusInt READ StatusInt WRITE SetStatusInt)
    Q_PROPERTY(int StatusBit READ StatusBit WRITE SetStatusBit)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
    Q_PROPERTY(Kx::TMode Mode READ Mode WRITE SetMode)

public:
    using TMode = Kx::TMode;
    using TFlashFreq = Kx::TFlashFreq;
    using enum Kx::TMode;
    using enum Kx::TFlashFreq;

    explicit TKxBinGControl(QWidget* parent = nullptr);
    ~TKxBinGControl() override;

    // Shown unless hidden explicitly, whether or not the window is on screen yet.
    bool Visible() const { return !isHidden(); }

    QString Caption() const { return caption_; }
    void SetCaption(const QString& v);

    bool Checked() const { return checked_; }
    void SetChecked(bool v);
    TFlashFreq Frequency() const { return frequency_; }
    void SetFrequency(TFlashFreq v);
    bool Flashing() const { return flashing_; }
    void SetFlashing(bool v);
    int StatusInt() const { return statusInt_; }
    void SetStatusInt(int v);
    int StatusBit() const { return statusBit_; }
    void SetStatusBit(int v);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int v);
    TMode Mode() const { return mode_; }
    void SetMode(TMode v);

    void setCaption(const QString& v) { SetCaption(v); }
    void setChecked(bool v) { SetChecked(v); }
    void setFrequency(TFlashFreq v) { SetFrequency(v); }
    void setFlashing(bool v) { SetFlashing(v); }
    void setStatusInt(int v) { SetStatusInt(v); }
    void setStatusBit(int v) { SetStatusBit(v); }
    void setGroupIndex(int v) { SetGroupIndex(v); }
    void setMode(TMode v) { SetMode(v); }

    const TNotifyEvent& OnStatusChanged() const { return onStatusChanged_; }
    void SetOnStatusChanged(TNotifyEvent h) { onStatusChanged_ = std::move(h); }
    const TNotifyEvent& OnStatusIntChanged() const { return onStatusIntChanged_; }
    void SetOnStatusIntChanged(TNotifyEvent h) { onStatusIntChanged_ = std::move(h); }
    const TNotifyEvent& OnClick() const { return onClick_; }
    void SetOnClick(TNotifyEvent h) { onClick_ = std::move(h); }
    const TNotifyEvent& OnDblClick() const { return onDblClick_; }
    void SetOnDblClick(TNotifyEvent h) { onDblClick_ = std::move(h); }
    const TMouseEvent& OnMouseDown() const { return onMouseDown_; }
    void SetOnMouseDown(TMouseEvent h) { onMouseDown_ = std::move(h); }
    const TMouseEvent& OnMouseUp() const { return onMouseUp_; }
    void SetOnMouseUp(TMouseEvent h) { onMouseUp_ = std::move(h); }
    const TMouseMoveEvent& OnMouseMove() const { return onMouseMove_; }
    void SetOnMouseMove(TMouseMoveEvent h) { onMouseMove_ = std::move(h); }

    // Shown at the pointer on a right click (or the keyboard's menu key); none by default.
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* menu);

    // The form whose controls make up the groups: the control's top-level window, or none while the
    // control has no parent (then it behaves as ungrouped).
    QWidget* Owner() const;

    // One flag for the whole program: set while a group's members are being brought into line.
    static bool GroupBusy();

protected:
    // Something that changes the whole picture changed (caption, lamp, layout).
    virtual void AppearanceChanged() {}
    // Checked or Flashing changed, or the left button was released.
    virtual void RedrawStatus() {}
    virtual void GroupIndexChanged() {}
    // After StatusInt changed, before OnStatusIntChanged.
    virtual void StatusIntChanged() {}
    // One step of the flash clock arrived: show the on or the off state.
    virtual void FlashStep(bool /*on*/) {}

    // Registers with the flash clock under the code for Frequency (or changes the registration).
    void StartFlash();

    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    std::uint32_t Bit() const { return 1u << statusBit_; }
    void AdoptGroupStatus();
    void PropagateToGroup();
    void LeftButtonDown();
    void UpdateAccessibility();

    QString caption_;
    bool captionFollowsName_ = true;
    bool checked_ = false;
    TFlashFreq frequency_ = ff1Hz;
    bool flashing_ = false;
    int statusInt_ = 0;
    int statusBit_ = 0;
    int groupIndex_ = 0;
    TMode mode_ = mIndicator;
    bool clickPending_ = false;
    QPointer<QMenu> popupMenu_;

    TNotifyEvent onStatusChanged_;
    TNotifyEvent onStatusIntChanged_;
    TNotifyEvent onClick_;
    TNotifyEvent onDblClick_;
    TMouseEvent onMouseDown_;
    TMouseEvent onMouseUp_;
    TMouseMoveEvent onMouseMove_;
};
