#pragma once
// The exception classes every layer raises. All derive from Exception, which carries the
// message shown to the user by the application's exception display.

#include <exception>
#include <string>

namespace quelvan::platform {

class Exception : public std::exception {
public:
    explicit Exception(std::string Message);
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// An operating-system call failed. Message: "<context>: <system text> (errno N)".
class EOSError : public Exception {
public:
    EOSError(int ErrorCode, const std::string& Context);
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// A broken precondition (the run-time library's assertion failure).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// The silent exception: aborts an operation without being shown to the user.
class EAbort : public Exception {
public:
    EAbort();
    using Exception::Exception;
};

// Raises EOSError for errno (or the given code) with the context text.
[[noreturn]] void RaiseLastOSError(const std::string& Context);
[[noreturn]] void RaiseOSError(int ErrorCode, const std::string& Context);

}  // namespace quelvan::platform
