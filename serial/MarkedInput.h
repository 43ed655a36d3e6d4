#pragma once
// Received bytes as the terminal layer hands them over when asked to mark line errors (PARMRK and INPCK,
// without ISTRIP): 0xFF 0xFF stands for a data byte 0xFF, 0xFF 0x00 0x00 for a break, and 0xFF 0x00 X for
// a byte X that arrived with a parity or framing error. The kernel marks a zero byte with such an error
// like a break, so it counts as one. No Qt, no OS.
#include "SerialTypes.h"

#include <string>
#include <string_view>

class TMarkedInput {
public:
    // Appends the data bytes of `raw` to `data`, drops the bytes marked in error and counts breaks and
    // errors in `errors`. A mark cut at the end of `raw` is completed by the next call.
    void Feed(std::string_view raw, std::string& data, TLineErrors& errors);
    // Forgets a mark cut short (the input queue was flushed).
    void Reset() { seen_ = 0; }
    // Keeps the bytes marked in error as data, uncounted (parity is not checked; they come marked all the
    // same, so that a 0xFF among them cannot pass for the start of a mark). Breaks still count.
    void KeepErrored(bool keep) { keepErrored_ = keep; }

private:
    int seen_ = 0; // bytes of the mark in progress: 0, 1 (0xFF) or 2 (0xFF 0x00)
    bool keepErrored_ = false;
};
