#include "RadioGroup.h"

#include "RadioLayout.h"

#include <QEvent>
#include <QFontMetrics>
#include <QRadioButton>

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

TRadioGroup::~TRadioGroup() = default;

void TRadioGroup::SetItems(const QStringList& items) {
    if (items == items_)
        return;
    items_ = items;
    RebuildButtons();
    // Fewer items may leave the selection past the end: the clamping rule applies.
    const int clamped = ClampItemIndex(itemIndex_, static_cast<int>(items_.size()));
    if (clamped != itemIndex_)
        SetItemIndex(clamped);
    else
        ShowSelection();
}

void TRadioGroup::SetColumns(int columns) {
    columns = std::max(columns, 1);
    if (columns == columns_)
        return;
    columns_ = columns;
    ArrangeButtons();
}

void TRadioGroup::SetItemIndex(int index) {
    index = ClampItemIndex(index, static_cast<int>(items_.size()));
    if (index == itemIndex_)
        return;
    itemIndex_ = index;
    ShowSelection();
    emit Click();
}

QRadioButton* TRadioGroup::Button(int index) const {
    return index >= 0 && index < buttons_.size() ? buttons_[index] : nullptr;
}

void TRadioGroup::RebuildButtons() {
    qDeleteAll(buttons_);
    buttons_.clear();
    for (int i = 0; i < items_.size(); ++i) {
        auto* button = new QRadioButton(items_[i], this);
        button->setObjectName(QString());
        connect(button, &QRadioButton::toggled, this, [this, i](bool checked) { ButtonToggled(i, checked); });
        button->show();
        buttons_.append(button);
    }
    ArrangeButtons();
}

void TRadioGroup::ArrangeButtons() {
    const RadioLayout layout = RadioLayout::Compute(static_cast<int>(buttons_.size()), columns_, width(),
                                                    height(), QFontMetrics(font()).height());
    for (int i = 0; i < buttons_.size(); ++i) {
        const RadioItemRect r = layout.Item(i);
        buttons_[i]->setGeometry(r.left, r.top, r.width, r.height);
    }
}

void TRadioGroup::ShowSelection() {
    showing_ = true;
    for (int i = 0; i < buttons_.size(); ++i) {
        // Auto-exclusive buttons refuse to clear the last checked one; lift that while we set the state.
        buttons_[i]->setAutoExclusive(false);
        buttons_[i]->setChecked(i == itemIndex_);
        buttons_[i]->setAutoExclusive(true);
        // One Tab stop per group: the selected button, or the first when none is selected. The arrow keys
        // move between the buttons.
        const bool tabStop = i == std::max(itemIndex_, 0);
        buttons_[i]->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    showing_ = false;
}

void TRadioGroup::ButtonToggled(int index, bool checked) {
    if (showing_ || !checked)
        return;
    SetItemIndex(index);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

void TRadioGroup::changeEvent(QEvent* event) {
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ArrangeButtons();
}
