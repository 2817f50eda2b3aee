#pragma once
// One request/reply exchange as it travels through the library. A client transaction belongs to
// its initiator until it is queued and to the library afterwards; in server mode the transaction
// thread reuses one transaction for every request it receives.

#include <cstdint>

#include "quelvan/modbus_buffer.h"

namespace quelvan {

enum TReplyKind : uint8_t {
    rkNoReply,         // no valid frame within the receive time-out, or the request was not sent
    rkUnmatchedReply,  // a valid frame that does not belong to the request
    rkExceptionReply,  // the server answered with an exception reply
    rkNormalReply,     // a normal reply; also every broadcast that was sent
};

// Identity and outcome of a transaction, passed to every client event.
struct TTransactionInfo {
    uint32_t ID;              // from the connection's NextTransactionID
    uint8_t ServerAddress;    // 0 = broadcast; in server mode the address of the request
    void* UserData;           // the initiator's value, passed back untouched
    uint32_t Attempts;        // send attempts made
    TReplyKind Reply;         // outcome
    uint8_t ExceptionCode;    // code of an exception reply when it is 0 to 8, otherwise 0
    uint8_t RawExceptionCode; // code of an exception reply exactly as received
};

class TModbusTransaction {
public:
    // Both buffers get Capacity bytes (the connection's MaxFrameSize); Info starts all zero.
    explicit TModbusTransaction(int32_t Capacity) : request_(Capacity), reply_(Capacity) {}

    TModbusTransaction(const TModbusTransaction&) = delete;
    TModbusTransaction& operator=(const TModbusTransaction&) = delete;

    TModbusBuffer& RequestBuffer() noexcept { return request_; }
    const TModbusBuffer& RequestBuffer() const noexcept { return request_; }
    TModbusBuffer& ReplyBuffer() noexcept { return reply_; }
    const TModbusBuffer& ReplyBuffer() const noexcept { return reply_; }
    TTransactionInfo& Info() noexcept { return info_; }
    const TTransactionInfo& Info() const noexcept { return info_; }

private:
    // Declared in this order so that the reply buffer is destroyed before the request buffer.
    TModbusBuffer request_;
    TModbusBuffer reply_;
    TTransactionInfo info_{};
};

}  // namespace quelvan
