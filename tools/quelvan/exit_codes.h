#pragma once
// The exit codes of the quelvan tool, for scripts (listed in docs/quelvan-cli.md).

#include "quelvan/transaction.h"

namespace quelvan::cli {

enum TExitCode : int {
    exNormalReply = 0,     // a normal reply (a broadcast that was sent; serve stopped by a signal)
    exExceptionReply = 1,  // the server answered with an exception reply
    exNoReply = 2,         // no valid reply within the time-out, after every attempt
    exUnmatchedReply = 3,  // a valid frame that did not answer the request
    exUsageError = 4,      // a bad argument or option: nothing was opened or sent
    exPortError = 5,       // the port could not be opened or configured, or failed while in use
    exFailure = 6,         // anything else: an unexpected error, a simulation step that went wrong
    exInterrupted = 130,   // SIGINT or SIGTERM before any transaction had an outcome
};

constexpr TExitCode ExitCodeFor(TReplyKind Reply) {
    switch (Reply) {
    case rkNormalReply: return exNormalReply;
    case rkExceptionReply: return exExceptionReply;
    case rkUnmatchedReply: return exUnmatchedReply;
    case rkNoReply: break;
    }
    return exNoReply;
}

}  // namespace quelvan::cli
