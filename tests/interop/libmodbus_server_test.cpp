// Our client against libmodbus's RTU server (modbus_receive / modbus_reply on a mapping), over
// the virtual null-modem.

#include <gtest/gtest.h>

#include <functional>

#include "interop/libmodbus_peer.h"
#include "interop/our_side.h"
#include "quelvan/modbus_client.h"
#include "support/pump.h"

namespace quelvan::interop {
namespace {

using platform::TNullModemSide;

const TPump Pump = [](const std::function<bool()>& Condition, int TimeoutMs) {
    return test::PumpUntil(Condition, TimeoutMs);
};

TBitValues Pattern(size_t Count, int Seed) {
    TBitValues bits(Count);
    for (size_t i = 0; i < Count; ++i) bits[i] = (i * 7 + static_cast<size_t>(Seed)) % 5 < 2;
    return bits;
}

// Our client on side A, libmodbus's server (address 1) on side B.
struct TOurClientAndLibmodbusServer {
    explicit TOurClientAndLibmodbusServer(const TLineCase& Line) : Peer(Modem.PortB(), Line) {
        PaceRelay(Modem, Line);
        ApplyLine(Connection, Line);
        Connection.SetPort(Modem.PortA());
        Connection.SetReceiveTimeout(5000);
        Client.SetConnection(&Connection);
        Connection.Open();
    }
    const test::TClientEvent& Await(uint32_t ID) { return AwaitEvent(Log, ID, Pump); }
    // The server's bits from Start (a mapping address), Count of them.
    TBitValues Coils(int Start, int Count) {
        return Peer.WithMapping([&](modbus_mapping_t& m) {
            TBitValues bits;
            for (int i = Start; i < Start + Count; ++i) bits.push_back(m.tab_bits[i - m.start_bits] != 0);
            return bits;
        });
    }
    uint16_t Holding(int Address) {
        return Peer.WithMapping([&](modbus_mapping_t& m) { return m.tab_registers[Address - m.start_registers]; });
    }

    platform::TVirtualNullModem Modem;
    TLibmodbusServer Peer;
    TModbusConnection Connection;
    TModbusClient Client;
    test::TClientEventLog Log{Client};
};

class LibmodbusServer : public ::testing::Test, public TOurClientAndLibmodbusServer {
protected:
    LibmodbusServer() : TOurClientAndLibmodbusServer(DefaultLine) {}
};

TEST_F(LibmodbusServer, EveryCommandBothSidesSupportRoundTrips) {
    Peer.WithMapping([](modbus_mapping_t& m) {
        for (int i = 0; i < 10; ++i) m.tab_input_registers[i] = static_cast<uint16_t>(1000 + i);  // 500..509
        m.tab_input_bits[1] = m.tab_input_bits[8] = 1;                                        // 1001, 1008
        m.tab_registers[20] = 0x1234;
        return 0;
    });
    const TBitValues bits = Pattern(20, 1);
    const TRegValues regs{1, 2, 3, 0xFFFF, 0x8000};
    const uint32_t w1 = Client.WriteSingleCoil(7, true);
    const uint32_t w2 = Client.WriteSingleRegister(3, 0xBEEF);
    const uint32_t w3 = Client.WriteMultipleCoils(30, bits);
    const uint32_t w4 = Client.WriteMultipleRegisters(10, regs);
    const uint32_t w5 = Client.MaskWriteSingleRegister(20, 0xF0F0, 0x0A0A);
    const uint32_t r1 = Client.ReadCoils(30, 20);
    const uint32_t r2 = Client.ReadDiscreteInputs(1000, 10);
    const uint32_t r3 = Client.ReadHoldingRegisters(0, 21);
    const uint32_t r4 = Client.ReadInputRegisters(500, 10);
    const uint32_t r5 = Client.ReadCoils(7, 1);

    for (uint32_t id : {w1, w2, w3, w4, w5, r1, r2, r3, r4, r5})
        EXPECT_EQ(Await(id).Info.Reply, rkNormalReply) << Await(id).Kind;
    EXPECT_EQ(Await(w5).Kind, "SingleRegisterMaskWrite");
    EXPECT_EQ(Await(r1).Bits, bits);
    TBitValues inputs(10);
    inputs[1] = inputs[8] = true;
    EXPECT_EQ(Await(r2).Bits, inputs);
    const TRegValues& held = Await(r3).Regs;
    ASSERT_EQ(held.size(), 21u);
    EXPECT_EQ(held[3], 0xBEEF);
    EXPECT_EQ(TRegValues(held.begin() + 10, held.begin() + 15), regs);
    // (current AND and-mask) OR (or-mask AND NOT and-mask)
    EXPECT_EQ(held[20], 0x1A3A);
    EXPECT_EQ(Await(r4).Regs, (TRegValues{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}));
    EXPECT_EQ(Await(r5).Bits, TBitValues{true});
    EXPECT_EQ(Coils(30, 20), bits);
    EXPECT_EQ(Holding(3), 0xBEEF);
}

TEST_F(LibmodbusServer, LargestCountsOfTheProtocolPass) {
    const TBitValues coils = Pattern(1968, 2);
    TRegValues regs(123);
    for (size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<uint16_t>(0x0101 * i + 7);
    const TBitValues inputs = Pattern(2000, 3);
    Peer.WithMapping([&](modbus_mapping_t& m) {
        for (size_t i = 0; i < inputs.size(); ++i) m.tab_input_bits[i] = inputs[i] ? 1 : 0;
        for (int i = 0; i < 125; ++i) m.tab_input_registers[i] = static_cast<uint16_t>(0xA000 + i);
        return 0;
    });
    const uint32_t w1 = Client.WriteMultipleCoils(100, coils);
    const uint32_t w2 = Client.WriteMultipleRegisters(70, regs);
    const uint32_t r1 = Client.ReadCoils(100, 2000);
    const uint32_t r2 = Client.ReadDiscreteInputs(1000, 2000);
    const uint32_t r3 = Client.ReadHoldingRegisters(70, 125);
    const uint32_t r4 = Client.ReadInputRegisters(500, 125);
    for (uint32_t id : {w1, w2, r1, r2, r3, r4}) EXPECT_EQ(Await(id).Info.Reply, rkNormalReply) << Await(id).Kind;
    ASSERT_EQ(Await(r1).Bits.size(), 2000u);
    EXPECT_EQ(TBitValues(Await(r1).Bits.begin(), Await(r1).Bits.begin() + 1968), coils);
    EXPECT_EQ(Await(r2).Bits, inputs);
    ASSERT_EQ(Await(r3).Regs.size(), 125u);
    EXPECT_EQ(TRegValues(Await(r3).Regs.begin(), Await(r3).Regs.begin() + 123), regs);
    EXPECT_EQ(Await(r4).Regs[124], 0xA000 + 124);
    EXPECT_EQ(Coils(100, 1968), coils);
}

// Our client allows 2008 bits to read and 1976 to write (the most whose byte count fits a
// frame); the protocol documents and libmodbus stop at 2000 and 1968 and refuse more with
// exception 03. Nothing is written then.
TEST_F(LibmodbusServer, BitCountsBeyondTheProtocolLimitsAreRefusedWithCode03) {
    struct Case {
        const char* What;
        std::function<uint32_t()> Call;
    } cases[] = {
        {"read 2001 coils", [&] { return Client.ReadCoils(0, 2001); }},
        {"read 2008 coils", [&] { return Client.ReadCoils(0, 2008); }},
        {"read 2008 inputs", [&] { return Client.ReadDiscreteInputs(1000, 2008); }},
        {"write 1969 coils", [&] { return Client.WriteMultipleCoils(0, TBitValues(1969, true)); }},
        {"write 1976 coils", [&] { return Client.WriteMultipleCoils(0, TBitValues(1976, true)); }},
    };
    for (const Case& k : cases) {
        const test::TClientEvent& e = Await(k.Call());
        EXPECT_EQ(e.Info.Reply, rkExceptionReply) << k.What;
        EXPECT_EQ(e.Info.ExceptionCode, 3) << k.What;
    }
    EXPECT_EQ(Coils(0, 1976), TBitValues(1976, false));
}

TEST_F(LibmodbusServer, ItemsOutsideItsMapAreRefusedWithCode02) {
    struct Case {
        const char* What;
        std::function<uint32_t()> Call;
    } cases[] = {
        {"holding registers past the end", [&] { return Client.ReadHoldingRegisters(190, 20); }},
        {"input register below the start", [&] { return Client.ReadInputRegisters(499, 1); }},
        {"coils past the end", [&] { return Client.ReadCoils(2099, 2); }},
        {"discrete input below the start", [&] { return Client.ReadDiscreteInputs(999, 1); }},
        {"single coil", [&] { return Client.WriteSingleCoil(5000, true); }},
        {"single register", [&] { return Client.WriteSingleRegister(200, 1); }},
        {"registers across the end", [&] { return Client.WriteMultipleRegisters(199, {1, 2}); }},
        {"coils across the end", [&] { return Client.WriteMultipleCoils(2095, TBitValues(8, true)); }},
        {"mask write", [&] { return Client.MaskWriteSingleRegister(65535, 0, 0xFFFF); }},
    };
    for (const Case& k : cases) {
        const test::TClientEvent& e = Await(k.Call());
        EXPECT_EQ(e.Info.Reply, rkExceptionReply) << k.What;
        EXPECT_EQ(e.Info.ExceptionCode, 2) << k.What;
    }
    EXPECT_EQ(Holding(199), 0);
    EXPECT_EQ(Coils(2095, 5), TBitValues(5, false));
}

// libmodbus delimits a request by the lengths its function code implies, and implies none for
// codes it does not serve: it takes the first four bytes of a Diagnostics or file-record
// request for a whole frame, fails the CRC and stays silent, where a server delimiting by the
// silent interval answers exception 01. Our client reports no reply, and the line recovers.
TEST_F(LibmodbusServer, CommandsItCannotDelimitGoUnanswered) {
    Connection.SetReceiveTimeout(500);
    TModbusFileRecordList records;
    records.Add(1, 0, 2);
    const uint32_t ids[] = {Client.Diagnostics(daReturnQueryData), Client.ReadFileRecord(records),
                            Client.WriteFileRecord(records)};
    for (uint32_t id : ids) {
        EXPECT_EQ(Await(id).Info.Reply, rkNoReply) << Await(id).Kind;
        EXPECT_EQ(Await(id).Info.Attempts, 1u);
    }
    Connection.SetReceiveTimeout(5000);
    EXPECT_EQ(Await(Client.ReadHoldingRegisters(0, 2)).Info.Reply, rkNormalReply);
}

// A broadcast is applied by every server and answered by none: libmodbus stores the values and
// sends nothing, so the only bytes it ever sends are the reply to the read that follows.
TEST_F(LibmodbusServer, BroadcastWritesAreAppliedAndNeverAnswered) {
    const TBitValues bits = Pattern(12, 4);
    Connection.BroadcastWriteSingleCoil(3, true);
    Connection.BroadcastWriteSingleRegister(5, 0x5555);
    Connection.BroadcastWriteMultipleCoils(40, bits);
    Connection.BroadcastWriteMultipleRegisters(60, {7, 8, 9});
    ASSERT_TRUE(test::PumpUntil([&] { return Peer.Requests() == 4; }, 30000));
    const uint32_t read = Client.ReadHoldingRegisters(60, 3);
    EXPECT_EQ(Await(read).Info.Reply, rkNormalReply);
    EXPECT_EQ(Await(read).Regs, (TRegValues{7, 8, 9}));
    EXPECT_EQ(Coils(3, 1), TBitValues{true});
    EXPECT_EQ(Holding(5), 0x5555);
    EXPECT_EQ(Coils(40, 12), bits);
    EXPECT_EQ(Modem.Counters(TNullModemSide::B).Received, 3u + 2 * 3 + 2);  // one reply only
    EXPECT_EQ(Log.Count(), 1u);  // broadcasts fire no event
}

// After a request for another address a libmodbus server waits up to its response time-out for
// that server's reply and takes the next frame for it, whatever it is. When the other server is
// absent and our client's receive time-out is the shorter, our next request is that frame and
// goes unanswered; a second attempt (MaxRetries 2) gets through. With libmodbus's default 0.5 s
// and our default 1 s the wait is over before our next request.
TEST(LibmodbusServerOnABus, ARequestForAnAbsentServerCostsTheNextRequestAnAttempt) {
    platform::TVirtualNullModem modem;
    TLibmodbusServer peer(modem.PortB(), DefaultLine, 1, 10000);
    TModbusConnection connection;
    ApplyLine(connection, DefaultLine);
    connection.SetPort(modem.PortA());
    connection.SetReceiveTimeout(300);
    connection.SetMaxRetries(2);
    TModbusClient client;
    client.SetConnection(&connection);
    test::TClientEventLog log(client);
    connection.Open();
    client.SetServerAddress(2);
    EXPECT_EQ(AwaitEvent(log, client.ReadHoldingRegisters(0, 1), Pump).Info.Reply, rkNoReply);
    client.SetServerAddress(1);
    const test::TClientEvent& e = AwaitEvent(log, client.ReadHoldingRegisters(0, 1), Pump);
    EXPECT_EQ(e.Info.Reply, rkNormalReply);
    EXPECT_EQ(e.Info.Attempts, 2u);
    EXPECT_EQ(peer.Requests(), 1);
}

class LibmodbusServerLine : public ::testing::TestWithParam<TLineCase>, public TOurClientAndLibmodbusServer {
protected:
    LibmodbusServerLine() : TOurClientAndLibmodbusServer(GetParam()) {}
};

TEST_P(LibmodbusServerLine, ReadsAndWritesUnderTheLineSettings) {
    const TBitValues bits = Pattern(37, 5);
    const uint32_t w1 = Client.WriteMultipleRegisters(0, {0x0102, 0xFEDC, 0x8001});
    const uint32_t w2 = Client.WriteMultipleCoils(10, bits);
    const uint32_t w3 = Client.WriteSingleRegister(50, 0xA5A5);
    const uint32_t r1 = Client.ReadHoldingRegisters(0, 3);
    const uint32_t r2 = Client.ReadCoils(10, 37);
    const uint32_t r3 = Client.ReadHoldingRegisters(190, 20);  // exception 02
    for (uint32_t id : {w1, w2, w3, r1, r2}) EXPECT_EQ(Await(id).Info.Reply, rkNormalReply) << Await(id).Kind;
    EXPECT_EQ(Await(r1).Regs, (TRegValues{0x0102, 0xFEDC, 0x8001}));
    EXPECT_EQ(Await(r2).Bits, bits);
    EXPECT_EQ(Await(r3).Info.Reply, rkExceptionReply);
    EXPECT_EQ(Await(r3).Info.ExceptionCode, 2);
    EXPECT_EQ(Holding(50), 0xA5A5);
}

INSTANTIATE_TEST_SUITE_P(Lines, LibmodbusServerLine, ::testing::ValuesIn(LineCases, LineCases + LineCaseCount), LineName);

}  // namespace
}  // namespace quelvan::interop
