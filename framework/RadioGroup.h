#pragma once
// TRadioGroup: a framed set of radio buttons laid out in columns. ItemIndex is the selected item (-1 for
// none). Selecting another item, by a click or by the program, emits Click(); the same item does nothing.
#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
    Q_PROPERTY(int Columns READ Columns WRITE SetColumns)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex NOTIFY Click)

public:
    explicit TRadioGroup(QWidget* parent = nullptr);
    ~TRadioGroup() override;

    QStringList Items() const { return items_; }
    void SetItems(const QStringList& items);
    int Columns() const { return columns_; }
    void SetColumns(int columns);
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);

    // The button of item i, or nullptr.
    QRadioButton* Button(int index) const;

signals:
    void Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void RebuildButtons();
    void ArrangeButtons();
    void ShowSelection();
    void ButtonToggled(int index, bool checked);

    QStringList items_;
    int columns_ = 1;
    int itemIndex_ = -1;
    bool showing_ = false;
    QList<QRadioButton*> buttons_;
};
