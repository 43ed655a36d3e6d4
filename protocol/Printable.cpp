#include "Printable.h"

#include "TransponderFrames.h"

namespace proto {

void AppendPrintable(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == STX) {
            out += "<STX>";
        } else if (ch == ETX) {
            out += "<ETX>";
        } else if (c >= 0x20 && c < 0x7F && ch != '<') {
            out += ch;
        } else {
            const char hex[4] = {'<', kHex[c >> 4], kHex[c & 0x0F], '>'};
            out.append(hex, sizeof hex);
        }
    }
}

std::string Printable(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    AppendPrintable(text, bytes);
    return text;
}

} // namespace proto
