// The exception classes shared by every layer: the general error class and the
// conversion and arithmetic errors raised by the core's number handling.
#pragma once

#include <stdexcept>
#include <string>

// The general error class; every failure the system raises derives from it.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that does not convert to the number asked for.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Floating-point division by zero (raised instead of producing an infinity).
class EZeroDivide : public Exception {
public:
    EZeroDivide() : Exception("Floating point division by zero") {}
};

// An invalid floating-point operation (raised instead of producing a NaN).
class EInvalidOp : public Exception {
public:
    EInvalidOp() : Exception("Invalid floating point operation") {}
};

// A file that cannot be read or written; the message carries the file system's own text.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};
