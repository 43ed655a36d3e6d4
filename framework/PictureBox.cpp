#include "PictureBox.h"

#include "JpegDecode.h"

#include <QFile>
#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QString& path) {
    if (path == picturePath_)
        return;
    picturePath_ = path;
    QByteArray bytes;
    QFile file(path);
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    SetPictureData(bytes);
}

void TImage::SetPictureData(const QByteArray& jpeg) {
    jpeg_ = jpeg;
    pending_ = !jpeg_.isEmpty();
    decoded_ = QImage();
    decodeError_.clear();
    update();
}

void TImage::SetStretch(bool value) {
    if (value == stretch_)
        return;
    stretch_ = value;
    update();
}

void TImage::SetTransparent(bool value) {
    if (value == transparent_)
        return;
    // A JPEG has no transparent colour: the flag is kept for the layout and changes nothing on screen.
    transparent_ = value;
}

void TImage::DecodeIfPending() {
    if (!pending_)
        return;
    pending_ = false;
    ++decodeCount_;
    decoded_ = DecodeJpeg(jpeg_, &decodeError_);
    // The compressed bytes are not needed once decoded (or found to be broken).
    jpeg_.clear();
}

void TImage::paintEvent(QPaintEvent*) {
    DecodeIfPending();
    if (decoded_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (stretch_)
        painter.drawImage(rect(), decoded_);
    else
        painter.drawImage(QPoint(0, 0), decoded_);
}
