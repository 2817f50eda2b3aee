#pragma once
// Checks of our client against a peer's server, shared by every peer's suite: the peer serves
// address 1 with TItemLayout on the far side of the null-modem. Each check states its
// expectations with gtest; callers add the peer's name with SCOPED_TRACE when useful.

#include <cstdint>

#include "interop/our_side.h"
#include "interop/peer_server.h"
#include "platform/virtual_null_modem.h"

namespace quelvan::interop {

// Bits for tests: a fixed, irregular pattern.
TBitValues Pattern(size_t Count, int Seed);

// Every command both sides support (0x01-0x06, 0x0F, 0x10, 0x16), values checked both ways.
void ExpectEveryCommandRoundTrips(TOurClientSide& Our, IPeerServer& Peer);
// The protocol's largest counts: 2000 bits read, 1968 written, 125 registers read, 123 written.
void ExpectLargestCountsPass(TOurClientSide& Our, IPeerServer& Peer);
// Our client allows 2008 bits read and 1976 written; the protocol stops at 2000 and 1968, and a
// server refuses more with exception 03 and writes nothing.
void ExpectBitCountsBeyondTheProtocolRefused(TOurClientSide& Our, IPeerServer& Peer);
// Items outside the tables, below or past them, read or written: exception 02, nothing written.
void ExpectItemsOutsideTheTablesRefused(TOurClientSide& Our, IPeerServer& Peer);
// The four broadcast writes are applied and never answered: the only bytes the peer sends are
// the reply to the read that follows. Modem side B is the peer's.
void ExpectBroadcastWritesAppliedAndUnanswered(TOurClientSide& Our, IPeerServer& Peer,
                                               platform::TVirtualNullModem& Modem);
// A short exchange for the line-setting cases: writes, reads back, one refusal.
void ExpectLineExchange(TOurClientSide& Our, IPeerServer& Peer);

}  // namespace quelvan::interop
