#pragma once
// TLabel: static text with a transparent background. With AutoSize on, the label grows to show its whole
// text in one line (to the right, or to the left when right-aligned, so the aligned edge stays put); it
// never shrinks below its laid-out box. A double click emits DblClick().
#include <QLabel>

class TLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

public:
    explicit TLabel(QWidget* parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString& caption);
    // Hides QLabel::setText so code holding a TLabel gets the sizing rule too.
    void setText(const QString& text) { SetCaption(text); }
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);

signals:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FitText();

    bool autoSize_ = true;
};
