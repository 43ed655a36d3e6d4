#include "Fonts.h"

#include <QWidget>

void ApplyLayoutFonts(QWidget* root) {
    const double ratio = root->devicePixelRatioF();
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            continue;
        const QFont font = widget->font();
        const int pixels = font.pixelSize() > 0 ? font.pixelSize() : LayoutPixels(font.pointSizeF());
        widget->setFont(LayoutFont(pixels, font.bold(), ratio));
    }
}
