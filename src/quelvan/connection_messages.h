#pragma once
// The messages the transaction thread posts to its connection's hidden window, and their
// owning payloads. A payload that is never delivered is released with the window.

#include <cstdint>
#include <memory>

#include "platform/message_window.h"
#include "quelvan/connection_types.h"
#include "quelvan/transaction.h"

namespace quelvan {

struct TTransactionPayload : platform::TMessagePayload {
    explicit TTransactionPayload(std::unique_ptr<TModbusTransaction> T) : Transaction(std::move(T)) {}
    std::unique_ptr<TModbusTransaction> Transaction;
};

struct TFrameDataPayload : platform::TMessagePayload {
    TFrameData Data;
};

// Any thread. Raise EOSError when the window is gone (the payload is released).
void PostTransactionDone(platform::TWindowHandle Window, std::unique_ptr<TModbusTransaction> T);
void PostFrameData(platform::TWindowHandle Window, const uint8_t* Data, int32_t Count, bool Sent);

}  // namespace quelvan
