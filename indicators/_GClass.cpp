#include "_GClass.h"

#include "Application.h"
#include "KxFlashT.h"
#include "PostedEvents.h"
#include "_KxProc.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <vector>

// ---- TKxPersistent, TLED ----

void TKxPersistent::Changed() {
    if (onChange_)
        onChange_(this);
}

void TLED::SetShape(TLEDShape v) {
    if (v == shape_ || v > sRectangle)
        return;
    shape_ = v;
    Changed();
}

void TLED::SetColorOn(TColor v) {
    if (v == colorOn_)
        return;
    colorOn_ = v;
    Changed();
}

void TLED::SetColorOff(TColor v) {
    if (v == colorOff_)
        return;
    colorOff_ = v;
    Changed();
}

void TLED::SetWidth(int v) {
    if (v == width_ || !LedGeometry::ValidLampSize(v))
        return;
    width_ = v;
    Changed();
}

void TLED::SetHeight(int v) {
    if (v == height_ || !LedGeometry::ValidLampSize(v))
        return;
    height_ = v;
    Changed();
}

void TLED::Draw(QPainter& canvas, bool on) const {
    DrawLED(canvas, rect_, shape_, clBtnShadow, on ? colorOn_ : colorOff_);
}

// ---- TKxBinGControl ----

namespace {

bool groupBusy = false;

// Every live control in creation order: the order in which a form's controls are walked for groups.
std::vector<TKxBinGControl*>& Controls() {
    static std::vector<TKxBinGControl*> controls;
    return controls;
}

// Clears the group flag however the walk ends, so one failing handler cannot freeze every group.
class GroupBusyScope {
public:
    GroupBusyScope() { groupBusy = true; }
    ~GroupBusyScope() { groupBusy = false; }
    GroupBusyScope(const GroupBusyScope&) = delete;
    GroupBusyScope& operator=(const GroupBusyScope&) = delete;
};

// The controls of owner's group, in creation order; guarded, since handlers run during the walk may
// destroy controls.
std::vector<QPointer<TKxBinGControl>> GroupMembers(QWidget* owner, int groupIndex) {
    std::vector<QPointer<TKxBinGControl>> members;
    if (!owner)
        return members;
    for (TKxBinGControl* c : Controls())
        if (c->GroupIndex() == groupIndex && c->Owner() == owner)
            members.emplace_back(c);
    return members;
}

bool ValidMode(TMode v) {
    return v <= mRadioButton;
}
bool ValidFrequency(TFlashFreq v) {
    return v <= ff05Hz;
}

} // namespace

TKxBinGControl::TKxBinGControl(QWidget* parent) : QWidget(parent) {
    Controls().push_back(this);
    setMouseTracking(true);
    connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
        if (captionFollowsName_) {
            SetCaption(name);
            captionFollowsName_ = true;
        }
        UpdateAccessibility();
    });
    UpdateAccessibility();
}

TKxBinGControl::~TKxBinGControl() {
    RemoveFlashControl(this);
    auto& controls = Controls();
    controls.erase(std::remove(controls.begin(), controls.end(), this), controls.end());
}

bool TKxBinGControl::GroupBusy() {
    return groupBusy;
}

QWidget* TKxBinGControl::Owner() const {
    return parentWidget() ? window() : nullptr;
}

void TKxBinGControl::SetCaption(const QString& v) {
    captionFollowsName_ = false;
    if (v == caption_)
        return;
    caption_ = v;
    UpdateAccessibility();
    AppearanceChanged();
}

void TKxBinGControl::SetChecked(bool v) {
    if (v == checked_)
        return;
    checked_ = v;
    if (checked_ && flashing_)
        StartFlash();
    else
        RemoveFlashControl(this);
    if (checked_) {
        if (mode_ == mRadioButton)
            SetStatusInt(static_cast<int>(Bit()));
        else
            SetStatusInt(static_cast<int>(static_cast<std::uint32_t>(statusInt_) | Bit()));
    } else if (mode_ != mRadioButton) {
        SetStatusInt(static_cast<int>(static_cast<std::uint32_t>(statusInt_) & ~Bit()));
    }
    UpdateAccessibility();
    RedrawStatus();
    if (onStatusChanged_)
        onStatusChanged_(this);
}

void TKxBinGControl::SetStatusInt(int v) {
    if (v == statusInt_)
        return;
    statusInt_ = v;
    SetChecked((static_cast<std::uint32_t>(v) & Bit()) != 0);
    StatusIntChanged();
    if (onStatusIntChanged_)
        onStatusIntChanged_(this);
    PropagateToGroup();
}

void TKxBinGControl::PropagateToGroup() {
    if (groupIndex_ == 0 || groupBusy)
        return;
    GroupBusyScope busy;
    for (const QPointer<TKxBinGControl>& member : GroupMembers(Owner(), groupIndex_))
        if (member)
            member->SetStatusInt(statusInt_);
}

void TKxBinGControl::SetStatusBit(int v) {
    if (v == statusBit_ || v < 0 || v > 31)
        return;
    statusBit_ = v;
    SetChecked((static_cast<std::uint32_t>(statusInt_) & Bit()) != 0);
}

void TKxBinGControl::SetGroupIndex(int v) {
    if (v == groupIndex_ || v < 0)
        return;
    groupIndex_ = v;
    AdoptGroupStatus();
    GroupIndexChanged();
}

void TKxBinGControl::AdoptGroupStatus() {
    if (groupIndex_ == 0)
        return;
    const auto members = GroupMembers(Owner(), groupIndex_);
    if (!members.empty() && members.front())
        SetStatusInt(members.front()->StatusInt());
}

void TKxBinGControl::SetMode(TMode v) {
    if (!ValidMode(v))
        return;
    // Deliberately no early return: writing a mode always resets the word, even the same mode again.
    mode_ = v;
    if (mode_ == mButton)
        SetStatusInt(0);
    else if (mode_ == mRadioButton)
        SetStatusInt(1);
}

void TKxBinGControl::SetFrequency(TFlashFreq v) {
    if (!ValidFrequency(v))
        return;
    // Stored without comparison: re-registering restarts the entry's stamp, as the clock expects.
    frequency_ = v;
    if (checked_ && flashing_)
        StartFlash();
}

void TKxBinGControl::SetFlashing(bool v) {
    if (v == flashing_)
        return;
    flashing_ = v;
    if (checked_ && flashing_)
        StartFlash();
    else
        RemoveFlashControl(this);
    UpdateAccessibility();
    RedrawStatus();
    if (onStatusChanged_)
        onStatusChanged_(this);
}

void TKxBinGControl::StartFlash() {
    EnsureFlashTimer();
    AddFlashControl(this, LedGeometry::FlashCode(ToGeometry(frequency_)));
}

void TKxBinGControl::UpdateAccessibility() {
    setAccessibleName(caption_.isEmpty() ? objectName() : caption_);
    setAccessibleDescription(!checked_   ? QStringLiteral("off")
                             : flashing_ ? QStringLiteral("flashing")
                                         : QStringLiteral("on"));
}

bool TKxBinGControl::event(QEvent* e) {
    TakePostedEvent(e); // flash steps come from the flash clock's thread
    if (e->type() == static_cast<QEvent::Type>(WM_FLASHSTEP)) {
        // A step queued just before the lamp stopped flashing must not light a lamp that is off.
        if (checked_ && flashing_)
            TApplication::Guard([&] { FlashStep(static_cast<TFlashStepEvent*>(e)->LParam != 0); });
        return true;
    }
    return QWidget::event(e);
}

void TKxBinGControl::LeftButtonDown() {
    switch (mode_) {
    case mButton:
        SetChecked(true);
        break;
    case mSwitch:
        SetChecked(!checked_);
        break;
    case mRadioButton:
        SetStatusInt(static_cast<int>(Bit()));
        break;
    case mIndicator:
        break;
    }
}

void TKxBinGControl::mousePressEvent(QMouseEvent* e) {
    const bool left = e->button() == Qt::LeftButton;
    clickPending_ = left;
    const QPoint pos = e->position().toPoint();
    TApplication::Guard([&] {
        if (onMouseDown_)
            onMouseDown_(this, e->button(), e->modifiers(), pos.x(), pos.y());
        if (left)
            LeftButtonDown();
    });
}

void TKxBinGControl::mouseDoubleClickEvent(QMouseEvent* e) {
    // The second press of a double click: no click follows its release.
    const bool left = e->button() == Qt::LeftButton;
    clickPending_ = false;
    const QPoint pos = e->position().toPoint();
    TApplication::Guard([&] {
        if (left && onDblClick_)
            onDblClick_(this);
        if (onMouseDown_)
            onMouseDown_(this, e->button(), e->modifiers(), pos.x(), pos.y());
        if (left)
            LeftButtonDown();
    });
}

void TKxBinGControl::mouseReleaseEvent(QMouseEvent* e) {
    const bool left = e->button() == Qt::LeftButton;
    const bool click = left && clickPending_ && rect().contains(e->position().toPoint());
    if (left)
        clickPending_ = false;
    const QPoint pos = e->position().toPoint();
    TApplication::Guard([&] {
        if (click && onClick_)
            onClick_(this);
        if (onMouseUp_)
            onMouseUp_(this, e->button(), e->modifiers(), pos.x(), pos.y());
        if (!left || mode_ == mIndicator)
            return;
        if (mode_ == mButton)
            SetChecked(false);
        RedrawStatus();
    });
}

void TKxBinGControl::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    TApplication::Guard([&] {
        if (onMouseMove_)
            onMouseMove_(this, e->modifiers(), pos.x(), pos.y());
    });
}

QMenu* TKxBinGControl::PopupMenu() const {
    return popupMenu_;
}

void TKxBinGControl::SetPopupMenu(QMenu* menu) {
    popupMenu_ = menu;
}

void TKxBinGControl::contextMenuEvent(QContextMenuEvent* e) {
    if (!popupMenu_) {
        QWidget::contextMenuEvent(e);
        return;
    }
    popupMenu_->popup(e->globalPos());
    e->accept();
}
