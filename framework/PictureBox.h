#pragma once
// TImage: a picture box for a JPEG picture. The compressed bytes are kept until the box is first painted;
// then they are decoded once and the decoded image serves every later repaint. A picture that fails to
// decode leaves the box empty.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT
    // A file or resource path; its bytes are read at once, decoded on first paint.
    Q_PROPERTY(QString Picture READ Picture WRITE SetPicture)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)

public:
    explicit TImage(QWidget* parent = nullptr);

    QString Picture() const { return picturePath_; }
    void SetPicture(const QString& path);
    // Replaces the picture by these JPEG bytes (not decoded yet).
    void SetPictureData(const QByteArray& jpeg);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);

    // How many times a picture was decoded, and what the last attempt said (empty when it worked).
    int DecodeCount() const { return decodeCount_; }
    QString DecodeError() const { return decodeError_; }
    // The decoded image (null before the first paint or after a failure).
    const QImage& Decoded() const { return decoded_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DecodeIfPending();

    QString picturePath_;
    QByteArray jpeg_;
    bool pending_ = false;
    QImage decoded_;
    int decodeCount_ = 0;
    QString decodeError_;
    bool stretch_ = false;
    bool transparent_ = false;
};
