#pragma once
// Decodes JPEG bytes with libjpeg. Failures never leave the process: a bad picture yields a null image and
// the library's message.
#include <QByteArray>
#include <QImage>
#include <QString>

// The picture as RGB pixels, or a null image when the data is not a JPEG, is cut short or is corrupt
// (a corrupt-data warning counts as a failure: half a picture is not shown). `error` receives the reason.
QImage DecodeJpeg(const QByteArray& data, QString* error = nullptr);
