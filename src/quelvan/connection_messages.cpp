#include "quelvan/connection_messages.h"

#include <cerrno>

#include "platform/exceptions.h"
#include "quelvan/modbus_connection.h"

namespace quelvan {

void PostTransactionDone(platform::TWindowHandle Window, std::unique_ptr<TModbusTransaction> T) {
    if (!platform::PostMessage(Window, TModbusConnection::WM_TRANSACTIONDONE, 0,
                               std::make_unique<TTransactionPayload>(std::move(T))))
        platform::RaiseOSError(EBADF, "Cannot post the transaction result");
}

void PostFrameData(platform::TWindowHandle Window, const uint8_t* Data, int32_t Count, bool Sent) {
    auto payload = std::make_unique<TFrameDataPayload>();
    if (Count > 0) payload->Data.assign(Data, Data + Count);
    if (!platform::PostMessage(Window, TModbusConnection::WM_FRAMEDATA, Sent ? 1 : 0,
                               std::move(payload)))
        platform::RaiseOSError(EBADF, "Cannot post frame data");
}

}  // namespace quelvan
