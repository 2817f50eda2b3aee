// Client and server end to end, on the two ends of a virtual null-modem, in RTU and ASCII.

#include <gtest/gtest.h>

#include "quelvan/errors.h"
#include "support/mode_param.h"
#include "support/connection_fixtures.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using test::PumpUntil;

class RolesTest : public ::testing::TestWithParam<TTransmissionMode> {
protected:
    RolesTest() : p(GetParam()) {
        p.Items.Define(ikCoil, 0, 2100);
        p.Items.Define(ikDiscreteInput, 100, 16);
        p.Items.Define(ikHoldingRegister, 0, 200);
        p.Items.Define(ikInputRegister, 500, 10);
        for (uint16_t a = 0; a < 10; ++a) p.Items.SetValue(ikInputRegister, 500 + a, 1000 + a);
        p.Items.SetValue(ikDiscreteInput, 101, 1);
        p.Items.SetValue(ikDiscreteInput, 108, 1);
        p.Open();
    }
    const test::TClientEvent& Await(uint32_t ID) {
        EXPECT_TRUE(PumpUntil([&] { return p.Log.Find(ID) != nullptr; })) << "no event for " << ID;
        static test::TClientEvent none;
        const test::TClientEvent* e = p.Log.Find(ID);
        return e ? *e : none;
    }
    test::TModbusPair p;
};

TEST_P(RolesTest, EveryServedCommandRoundTrips) {
    // Writes first, then reads that see them.
    const uint32_t w1 = p.Client.WriteSingleCoil(7, true);
    const uint32_t w2 = p.Client.WriteSingleRegister(3, 0xBEEF);
    TBitValues bits(20);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = i % 3 == 0;
    const uint32_t w3 = p.Client.WriteMultipleCoils(30, bits);
    const TRegValues regs{1, 2, 3, 0xFFFF, 0x8000};
    const uint32_t w4 = p.Client.WriteMultipleRegisters(10, regs);
    const uint32_t r1 = p.Client.ReadCoils(30, 20);
    const uint32_t r2 = p.Client.ReadDiscreteInputs(100, 10);
    const uint32_t r3 = p.Client.ReadHoldingRegisters(0, 16);
    const uint32_t r4 = p.Client.ReadInputRegisters(500, 10);
    const uint32_t r5 = p.Client.ReadCoils(7, 1);

    EXPECT_EQ(Await(w1).Kind, "SingleCoilWrite");
    EXPECT_EQ(Await(w1).Info.Reply, rkNormalReply);
    EXPECT_TRUE(Await(w1).BitValue);
    EXPECT_EQ(Await(w2).Info.Reply, rkNormalReply);
    EXPECT_EQ(Await(w2).RegValue, 0xBEEF);
    EXPECT_EQ(Await(w3).Info.Reply, rkNormalReply);
    EXPECT_EQ(Await(w3).Bits, bits);
    EXPECT_EQ(Await(w4).Info.Reply, rkNormalReply);
    EXPECT_EQ(Await(w4).Regs, regs);

    EXPECT_EQ(Await(r1).Info.Reply, rkNormalReply);
    EXPECT_EQ(Await(r1).Bits, bits);
    TBitValues inputs(10);
    inputs[1] = inputs[8] = true;
    EXPECT_EQ(Await(r2).Bits, inputs);
    const TRegValues& held = Await(r3).Regs;
    ASSERT_EQ(held.size(), 16u);
    EXPECT_EQ(held[3], 0xBEEF);
    EXPECT_EQ(TRegValues(held.begin() + 10, held.begin() + 15), regs);
    EXPECT_EQ(Await(r4).Regs, (TRegValues{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}));
    EXPECT_EQ(Await(r5).Bits, TBitValues{true});
    EXPECT_EQ(p.Items.Value(ikHoldingRegister, 3), 0xBEEF);
}

TEST_P(RolesTest, LargestBitCountsFit) {
    TBitValues many(1976);
    for (size_t i = 0; i < many.size(); ++i) many[i] = (i * 7) % 5 == 0;
    const uint32_t w = p.Client.WriteMultipleCoils(0, many);
    const uint32_t r = p.Client.ReadCoils(0, 2008);
    EXPECT_EQ(Await(w).Info.Reply, rkNormalReply);
    const test::TClientEvent& read = Await(r);
    EXPECT_EQ(read.Info.Reply, rkNormalReply);
    ASSERT_EQ(read.Bits.size(), 2008u);
    EXPECT_EQ(TBitValues(read.Bits.begin(), read.Bits.begin() + 1976), many);
}

TEST_P(RolesTest, ExceptionRepliesFromTheirCauses) {
    struct Case {
        const char* What;
        std::function<uint32_t()> Call;
        uint8_t Code;
    } cases[] = {
        {"unsupported command", [&] { return p.Client.MaskWriteSingleRegister(1, 0xFF00, 0x0012); }, 1},
        {"undefined register", [&] { return p.Client.ReadHoldingRegisters(190, 20); }, 2},
        {"undefined coil write", [&] { return p.Client.WriteSingleCoil(5000, true); }, 2},
    };
    for (const Case& k : cases) {
        const test::TClientEvent& e = Await(k.Call());
        EXPECT_EQ(e.Info.Reply, rkExceptionReply) << k.What;
        EXPECT_EQ(e.Info.ExceptionCode, k.Code) << k.What;
    }
    // Code 03: a command the server accepts but with a value it refuses.
    p.Server.OnCanWriteHoldingRegister = [](TModbusServer&, uint16_t, uint16_t v, TItemWriteStatus& s) {
        s = v > 100 ? iwsIllegalValue : iwsAllowWrite;
    };
    const test::TClientEvent& e = Await(p.Client.WriteMultipleRegisters(0, {1, 2, 300}));
    EXPECT_EQ(e.Info.Reply, rkExceptionReply);
    EXPECT_EQ(e.Info.ExceptionCode, 3);
    EXPECT_EQ(e.Regs, (TRegValues{1, 2, 300}));  // the values that were sent
    EXPECT_EQ(p.Items.Value(ikHoldingRegister, 0), 0);  // all or nothing
}

TEST_P(RolesTest, SilentServerGivesNoReplyWithTheRequestsCounts) {
    p.ClientConnection.SetReceiveTimeout(150);
    p.Client.SetServerAddress(9);  // nobody there
    const test::TClientEvent& e = Await(p.Client.ReadHoldingRegisters(4, 3));
    EXPECT_EQ(e.Info.Reply, rkNoReply);
    EXPECT_EQ(e.Start, 4);
    EXPECT_EQ(e.Count, 3);
    EXPECT_EQ(e.Regs, (TRegValues{0, 0, 0}));
}

TEST_P(RolesTest, BroadcastWritesReachEveryServerInBindingOrder) {
    TModbusServer second;
    second.SetAddress(2);
    second.SetConnection(&p.ServerConnection);
    std::vector<std::string> order;
    auto log = [&](const char* who) {
        return [&order, who](TModbusServer&, uint16_t a, bool v) {
            order.push_back(std::string(who) + " " + std::to_string(a) + (v ? "+" : "-"));
        };
    };
    p.Server.OnSetCoilValue = log("first");
    second.OnAcceptCommand = [](TModbusServer&, uint8_t, bool& a) { a = true; };
    second.OnCanWriteCoil = [](TModbusServer&, uint16_t, bool, TItemWriteStatus& s) { s = iwsAllowWrite; };
    second.OnSetCoilValue = log("second");
    int sent = 0;
    p.ServerConnection.OnFrameSend = [&](TModbusConnection&, const TFrameData& d) { sent += d.empty() ? 0 : 1; };
    p.ClientConnection.SetTurnaroundDelay(20);
    p.ClientConnection.BroadcastWriteMultipleCoils(10, {true, false});
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<std::string>{"first 10+", "first 11-", "second 10+", "second 11-"}));
    test::PumpFor(100);
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(p.Log.Count(), 0u);
}

TEST_P(RolesTest, TransactionIdsAreConsecutiveAcrossClientsAndBroadcasts) {
    TModbusClient other;
    other.SetConnection(&p.ClientConnection);
    other.SetServerAddress(2);
    const uint32_t a = p.Client.ReadCoils(0, 1);
    const uint32_t b = p.ClientConnection.BroadcastWriteSingleCoil(0, false);
    const uint32_t c = other.ReadCoils(0, 1);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, b + 1);
    Await(a);
}

INSTANTIATE_TEST_SUITE_P(Modes, RolesTest, ::testing::Values(tmRTU, tmASCII),
                         test::ModeName);

}  // namespace
}  // namespace quelvan
