#include "platform/exceptions.h"

#include <cerrno>
#include <cstring>

namespace quelvan::platform {

Exception::Exception(std::string Message) : message_(std::move(Message)) {}

namespace {
std::string SystemText(int code) {
    char buf[256];
    // GNU strerror_r returns the text (possibly not in buf).
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? text : "Unknown error";
}
}  // namespace

EOSError::EOSError(int ErrorCode, const std::string& Context)
    : Exception((Context.empty() ? std::string() : Context + ": ") + SystemText(ErrorCode) +
                " (errno " + std::to_string(ErrorCode) + ")"),
      errorCode_(ErrorCode) {}

EAbort::EAbort() : Exception("Operation aborted") {}

void RaiseLastOSError(const std::string& Context) { throw EOSError(errno, Context); }

void RaiseOSError(int ErrorCode, const std::string& Context) { throw EOSError(ErrorCode, Context); }

}  // namespace quelvan::platform
