#pragma once
// The soak's traffic: random requests of every command, sent to the servers of a lane, to
// an address no server has, and as broadcasts, with the line frame each must produce.
//
// A reply that comes too late for its own request lands in the receive window of a later
// one, and Modbus has no transaction number to tell them apart: the client accepts a reply
// when address, command and the few echoed fields fit. So the mix never lets a request follow
// within a few transactions of one whose reply it could accept (same server and command, and
// the same byte count, written address and value, or start and count). A late reply is then
// an unmatched reply, never a wrong value.

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "quelvan/connection_types.h"
#include "quelvan/item_map.h"
#include "support/frames.h"

namespace quelvan::test {

// What identifies a request to the client's reply checks.
struct TRequestKey {
    uint8_t Server = 0;
    uint8_t Command = 0;
    bool Any = false;  // a refused request: any reply from that server to that command fits it
    uint32_t Detail = 0;
    bool Confusable(const TRequestKey& Other) const;
};

struct TSoakRequest {
    uint32_t ID = 0;
    uint8_t Server = 0;   // 0: broadcast
    uint8_t Command = 0;
    uint16_t Start = 0;   // the single writes: the address; diagnostics: the action
    uint16_t Count = 0;   // the single writes: 1
    // Writes: the values sent (coils 0 or 1). Mask write: AND and OR masks. File records:
    // file number, first record, then the values written (a read: the record count).
    std::vector<uint16_t> Values;
    uint8_t Refusal = 0;  // the exception code the server must answer with; 0: served
    bool NoServer = false;  // sent to an address no server has
    Bytes Line;           // the request as it must appear on the line
    TRequestKey Key;

    bool IsWrite() const;
    bool WritesCoils() const;
};

using TRequestPtr = std::shared_ptr<const TSoakRequest>;

// The items a read or write command of the served set addresses (holding registers for the
// others).
TItemKind KindOf(uint8_t Command);
inline bool IsRead(uint8_t Command) { return Command >= 0x01 && Command <= 0x04; }

class TRequestMix {
public:
    // Servers: the addresses that answer; Missing: one that nobody answers.
    TRequestMix(TTransmissionMode Mode, uint64_t Seed, std::vector<uint8_t> Servers, uint8_t Missing);

    // A random request (a broadcast only when allowed) not confusable with the recent ones.
    TSoakRequest Next(bool AllowBroadcast);
    // A served read that is not confusable with the recent ones.
    TSoakRequest NextRead();
    // A read with Command of Count items from Start at Server, for the final check; makes no
    // attempt to avoid confusion (the line is clean then).
    TSoakRequest Read(uint8_t Server, uint8_t Command, uint16_t Start, uint16_t Count);

private:
    TSoakRequest Draw(bool AllowBroadcast, bool ReadsOnly);
    void Finish(TSoakRequest& R);
    void Remember(const TRequestKey& Key);
    bool Recent(const TRequestKey& Key) const;
    uint16_t Uniform(uint32_t Low, uint32_t High);  // inclusive

    TTransmissionMode mode_;
    std::mt19937_64 rng_;
    std::vector<uint8_t> servers_;
    uint8_t missing_;
    std::deque<TRequestKey> recent_;
};

}  // namespace quelvan::test
