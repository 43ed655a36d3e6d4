#include "Label.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>

TLabel::TLabel(QWidget* parent) : QLabel(parent) {
    // Text stands at the top left of its box unless the layout says otherwise.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Captions carry transponder replies: text that looks like markup must show as it is.
    setTextFormat(Qt::PlainText);
}

void TLabel::SetCaption(const QString& caption) {
    if (caption == text())
        return;
    QLabel::setText(caption);
    FitText();
}

void TLabel::SetAutoSize(bool value) {
    if (value == autoSize_)
        return;
    autoSize_ = value;
    FitText();
}

void TLabel::FitText() {
    if (!autoSize_)
        return;
    const QFontMetrics metrics(font());
    const int needWidth = metrics.horizontalAdvance(text()) + 2 * margin() + 2 * frameWidth();
    const int needHeight = metrics.height() + 2 * margin() + 2 * frameWidth();
    QRect box = geometry();
    if (needWidth > box.width()) {
        if (alignment() & Qt::AlignRight)
            box.setLeft(box.right() + 1 - needWidth);
        else
            box.setWidth(needWidth);
    }
    if (needHeight > box.height())
        box.setHeight(needHeight);
    if (box != geometry())
        setGeometry(box);
}

void TLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

void TLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitText();
}
