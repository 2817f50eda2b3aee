#include "quelvan/errors.h"

#include <exception>

namespace quelvan {

// Formatting even without arguments makes a message that expects some fail loudly instead of
// showing a raw placeholder.
void RaiseError(TMessageId Id) { RaiseErrorFmt(Id, {}); }

void RaiseErrorFmt(TMessageId Id, std::initializer_list<platform::FormatArg> Args) {
    throw EQuelvanError(platform::Format(LoadMessage(Id), Args));
}

void RaiseErrorWithCause(TMessageId Id) {
    std::throw_with_nested(EQuelvanError(platform::Format(LoadMessage(Id), {})));
}

void RaiseInternalError() { RaiseError(msgInternalError); }

}  // namespace quelvan
