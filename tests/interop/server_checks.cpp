#include "interop/server_checks.h"

#include <gtest/gtest.h>

#include <functional>

namespace quelvan::interop {

namespace {

using Calls = std::initializer_list<std::pair<const char*, std::function<uint32_t()>>>;

void ExpectRefusals(TOurClientSide& Our, Calls Cases, uint8_t Code) {
    for (const auto& [what, call] : Cases) {
        const test::TClientEvent& e = Our.Await(call());
        EXPECT_EQ(e.Info.Reply, rkExceptionReply) << what;
        EXPECT_EQ(e.Info.ExceptionCode, Code) << what;
    }
}

TBitValues Coils(IPeerServer& Peer, uint16_t Start, int Count) {
    TBitValues bits;
    for (int i = 0; i < Count; ++i) bits.push_back(Peer.Coil(static_cast<uint16_t>(Start + i)));
    return bits;
}

}  // namespace

TBitValues Pattern(size_t Count, int Seed) {
    TBitValues bits(Count);
    for (size_t i = 0; i < Count; ++i) bits[i] = (i * 7 + static_cast<size_t>(Seed)) % 5 < 2;
    return bits;
}

void ExpectEveryCommandRoundTrips(TOurClientSide& Our, IPeerServer& Peer) {
    for (uint16_t i = 0; i < 10; ++i) Peer.SetInputRegister(500 + i, 1000 + i);
    Peer.SetDiscreteInput(1001, true);
    Peer.SetDiscreteInput(1008, true);
    Peer.SetHoldingRegister(20, 0x1234);
    TModbusClient& c = Our.Client;
    const TBitValues bits = Pattern(20, 1);
    const TRegValues regs{1, 2, 3, 0xFFFF, 0x8000};
    const uint32_t w1 = c.WriteSingleCoil(7, true);
    const uint32_t w2 = c.WriteSingleRegister(3, 0xBEEF);
    const uint32_t w3 = c.WriteMultipleCoils(30, bits);
    const uint32_t w4 = c.WriteMultipleRegisters(10, regs);
    const uint32_t w5 = c.MaskWriteSingleRegister(20, 0xF0F0, 0x0A0A);
    const uint32_t r1 = c.ReadCoils(30, 20);
    const uint32_t r2 = c.ReadDiscreteInputs(1000, 10);
    const uint32_t r3 = c.ReadHoldingRegisters(0, 21);
    const uint32_t r4 = c.ReadInputRegisters(500, 10);
    const uint32_t r5 = c.ReadCoils(7, 1);

    for (uint32_t id : {w1, w2, w3, w4, w5, r1, r2, r3, r4, r5})
        EXPECT_EQ(Our.Await(id).Info.Reply, rkNormalReply) << Our.Await(id).Kind;
    EXPECT_EQ(Our.Await(r1).Bits, bits);
    TBitValues inputs(10);
    inputs[1] = inputs[8] = true;
    EXPECT_EQ(Our.Await(r2).Bits, inputs);
    const TRegValues& held = Our.Await(r3).Regs;
    ASSERT_EQ(held.size(), 21u);
    EXPECT_EQ(held[3], 0xBEEF);
    EXPECT_EQ(TRegValues(held.begin() + 10, held.begin() + 15), regs);
    EXPECT_EQ(held[20], 0x1A3A);  // (0x1234 AND 0xF0F0) OR (0x0A0A AND NOT 0xF0F0)
    EXPECT_EQ(Our.Await(r4).Regs, (TRegValues{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}));
    EXPECT_EQ(Our.Await(r5).Bits, TBitValues{true});
    EXPECT_EQ(Coils(Peer, 30, 20), bits);
    EXPECT_EQ(Peer.HoldingRegister(3), 0xBEEF);
}

void ExpectLargestCountsPass(TOurClientSide& Our, IPeerServer& Peer) {
    const TBitValues coils = Pattern(1968, 2);
    TRegValues regs(123);
    for (size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<uint16_t>(0x0101 * i + 7);
    const TBitValues inputs = Pattern(2000, 3);
    for (uint16_t i = 0; i < 2000; ++i) Peer.SetDiscreteInput(1000 + i, inputs[i]);
    for (uint16_t i = 0; i < 125; ++i) Peer.SetInputRegister(500 + i, 0xA000 + i);
    TModbusClient& c = Our.Client;
    const uint32_t w1 = c.WriteMultipleCoils(100, coils);
    const uint32_t w2 = c.WriteMultipleRegisters(70, regs);
    const uint32_t r1 = c.ReadCoils(100, 2000);
    const uint32_t r2 = c.ReadDiscreteInputs(1000, 2000);
    const uint32_t r3 = c.ReadHoldingRegisters(70, 125);
    const uint32_t r4 = c.ReadInputRegisters(500, 125);
    for (uint32_t id : {w1, w2, r1, r2, r3, r4})
        EXPECT_EQ(Our.Await(id).Info.Reply, rkNormalReply) << Our.Await(id).Kind;
    const TBitValues& read = Our.Await(r1).Bits;
    ASSERT_EQ(read.size(), 2000u);
    EXPECT_EQ(TBitValues(read.begin(), read.begin() + 1968), coils);
    EXPECT_EQ(Our.Await(r2).Bits, inputs);
    const TRegValues& held = Our.Await(r3).Regs;
    ASSERT_EQ(held.size(), 125u);
    EXPECT_EQ(TRegValues(held.begin(), held.begin() + 123), regs);
    EXPECT_EQ(Our.Await(r4).Regs[124], 0xA000 + 124);
    EXPECT_EQ(Coils(Peer, 100, 1968), coils);
}

void ExpectBitCountsBeyondTheProtocolRefused(TOurClientSide& Our, IPeerServer& Peer) {
    TModbusClient& c = Our.Client;
    ExpectRefusals(Our,
                   {
                       {"read 2001 coils", [&] { return c.ReadCoils(0, 2001); }},
                       {"read 2008 coils", [&] { return c.ReadCoils(0, 2008); }},
                       {"read 2008 inputs", [&] { return c.ReadDiscreteInputs(1000, 2008); }},
                       {"write 1969 coils", [&] { return c.WriteMultipleCoils(0, TBitValues(1969, true)); }},
                       {"write 1976 coils", [&] { return c.WriteMultipleCoils(0, TBitValues(1976, true)); }},
                   },
                   3);
    EXPECT_EQ(Coils(Peer, 0, 1976), TBitValues(1976, false));
}

void ExpectItemsOutsideTheTablesRefused(TOurClientSide& Our, IPeerServer& Peer) {
    TModbusClient& c = Our.Client;
    ExpectRefusals(Our,
                   {
                       {"holding registers past the end", [&] { return c.ReadHoldingRegisters(190, 20); }},
                       {"input registers past the end", [&] { return c.ReadInputRegisters(625, 10); }},
                       {"input register below the start", [&] { return c.ReadInputRegisters(499, 1); }},
                       {"coils past the end", [&] { return c.ReadCoils(2099, 2); }},
                       {"discrete input below the start", [&] { return c.ReadDiscreteInputs(999, 1); }},
                       {"single coil", [&] { return c.WriteSingleCoil(5000, true); }},
                       {"single register", [&] { return c.WriteSingleRegister(200, 1); }},
                       {"registers across the end", [&] { return c.WriteMultipleRegisters(199, {1, 2}); }},
                       {"coils across the end", [&] { return c.WriteMultipleCoils(2095, TBitValues(8, true)); }},
                       {"mask write", [&] { return c.MaskWriteSingleRegister(200, 0, 0xFFFF); }},
                   },
                   2);
    EXPECT_EQ(Peer.HoldingRegister(199), 0);
    EXPECT_EQ(Coils(Peer, 2095, 5), TBitValues(5, false));
}

void ExpectBroadcastWritesAppliedAndUnanswered(TOurClientSide& Our, IPeerServer& Peer,
                                               platform::TVirtualNullModem& Modem) {
    const TBitValues bits = Pattern(12, 4);
    const uint64_t sentBefore = Modem.Counters(platform::TNullModemSide::B).Received;
    Our.Connection.BroadcastWriteSingleCoil(3, true);
    Our.Connection.BroadcastWriteSingleRegister(5, 0x5555);
    Our.Connection.BroadcastWriteMultipleCoils(40, bits);
    Our.Connection.BroadcastWriteMultipleRegisters(60, {7, 8, 9});
    ASSERT_TRUE(Our.Pump([&] { return Peer.HoldingRegister(62) == 9; }, 30000));
    const uint32_t read = Our.Client.ReadHoldingRegisters(60, 3);
    EXPECT_EQ(Our.Await(read).Info.Reply, rkNormalReply);
    EXPECT_EQ(Our.Await(read).Regs, (TRegValues{7, 8, 9}));
    EXPECT_TRUE(Peer.Coil(3));
    EXPECT_EQ(Peer.HoldingRegister(5), 0x5555);
    EXPECT_EQ(Coils(Peer, 40, 12), bits);
    // The read's reply: address, command, byte count, three registers, CRC.
    EXPECT_EQ(Modem.Counters(platform::TNullModemSide::B).Received - sentBefore, 3u + 2 * 3 + 2);
    EXPECT_EQ(Our.Log.Count(), 1u);  // broadcasts fire no event
}

void ExpectLineExchange(TOurClientSide& Our, IPeerServer& Peer) {
    TModbusClient& c = Our.Client;
    const TBitValues bits = Pattern(37, 5);
    const uint32_t w1 = c.WriteMultipleRegisters(0, {0x0102, 0xFEDC, 0x8001});
    const uint32_t w2 = c.WriteMultipleCoils(10, bits);
    const uint32_t w3 = c.WriteSingleRegister(50, 0xA5A5);
    const uint32_t r1 = c.ReadHoldingRegisters(0, 3);
    const uint32_t r2 = c.ReadCoils(10, 37);
    const uint32_t r3 = c.ReadHoldingRegisters(190, 20);
    for (uint32_t id : {w1, w2, w3, r1, r2})
        EXPECT_EQ(Our.Await(id).Info.Reply, rkNormalReply) << Our.Await(id).Kind;
    EXPECT_EQ(Our.Await(r1).Regs, (TRegValues{0x0102, 0xFEDC, 0x8001}));
    EXPECT_EQ(Our.Await(r2).Bits, bits);
    EXPECT_EQ(Our.Await(r3).Info.Reply, rkExceptionReply);
    EXPECT_EQ(Our.Await(r3).Info.ExceptionCode, 2);
    EXPECT_EQ(Peer.HoldingRegister(50), 0xA5A5);
}

}  // namespace quelvan::interop
