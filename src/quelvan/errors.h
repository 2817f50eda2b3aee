#pragma once
// The library's own exception class and the helpers that raise it with a text of the message
// table (messages.h). Operating-system failures raise platform::EOSError and broken
// preconditions platform::EAssertionFailed instead.

#include <initializer_list>

#include "platform/exceptions.h"
#include "platform/format.h"
#include "quelvan/messages.h"

namespace quelvan {

class EQuelvanError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

[[noreturn]] void RaiseError(TMessageId Id);

// Args fill the %d/%u/%s placeholders of the message in order.
[[noreturn]] void RaiseErrorFmt(TMessageId Id, std::initializer_list<platform::FormatArg> Args);

// Inside a catch block: raises the message with the exception being handled nested in it
// (std::throw_with_nested), so that the cause, such as the system's reason a port could not
// be opened, stays available (std::rethrow_if_nested) while the message stays the table's.
[[noreturn]] void RaiseErrorWithCause(TMessageId Id);

// "Internal error": a decoder met data that its own earlier checks should have excluded.
[[noreturn]] void RaiseInternalError();

}  // namespace quelvan
