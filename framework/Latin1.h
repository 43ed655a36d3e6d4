#pragma once
// Bytes and text at the window's edge. Frames and operator fields are byte strings; Latin-1 maps every
// byte to one character and back unchanged, so STX/ETX, NUL and 0x80..0xFF survive a trip through a label
// or an edit field. Characters beyond Latin-1 become '?'.
#include <QString>
#include <string>

inline std::string Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

inline QString Text(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
