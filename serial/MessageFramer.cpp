#include "MessageFramer.h"

bool TMessageFramer::Complete() {
    state_ = fsComplete;
    return true;
}

void TMessageFramer::Append(char c) {
    if (buffer_.size() >= kMaxMessage) {
        buffer_.clear();
        appendLeft_ = 0;
        state_ = fsIdle;
        ++overflows_;
        return;
    }
    buffer_.push_back(c);
}

bool TMessageFramer::Feed(char c, const TFraming& f) {
    if (state_ == fsAppending) {
        Append(c);
        if (state_ == fsIdle)
            return false;
        if (--appendLeft_ == 0)
            return Complete();
        return false;
    }
    if (c == f.StartChar) {
        buffer_.assign(1, c);
        state_ = fsInMessage;
        return false;
    }
    if (state_ != fsInMessage)
        return false; // outside a message: an end character or noise
    Append(c);
    if (state_ == fsIdle || c != f.EndChar)
        return false;
    if (f.AppendCount == 0)
        return Complete();
    appendLeft_ = f.AppendCount;
    state_ = fsAppending;
    return false;
}
