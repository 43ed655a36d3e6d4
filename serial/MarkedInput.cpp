#include "MarkedInput.h"

void TMarkedInput::Feed(std::string_view raw, std::string& data, TLineErrors& errors) {
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        switch (seen_) {
        case 0:
            if (byte == 0xFF)
                seen_ = 1;
            else
                data += c;
            break;
        case 1:
            if (byte == 0x00) {
                seen_ = 2;
                break;
            }
            // 0xFF 0xFF is one data byte. With INPCK on, the kernel marks every byte in error, so no other
            // follower comes from it; should one come, both bytes are kept.
            data += '\xFF';
            if (byte != 0xFF)
                data += c;
            seen_ = 0;
            break;
        default:
            if (byte == 0x00)
                ++errors.Breaks;
            else if (keepErrored_)
                data += c;
            else
                ++errors.Errors;
            seen_ = 0;
            break;
        }
    }
}
