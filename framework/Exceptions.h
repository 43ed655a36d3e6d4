#pragma once
// The exception family every handler of the panel may raise. The error report on the UI thread shows
// the message; EAbort is the silent one.
#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// Text that is not an integer: "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The system refused a resource, e.g. "Not enough timers available".
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// Abandons a handler without telling the operator.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};

// An object used as a class it is not, e.g. "Invalid class typecast".
class EInvalidCast : public Exception {
public:
    using Exception::Exception;
};
