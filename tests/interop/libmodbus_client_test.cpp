// libmodbus's RTU client against our server, over the virtual null-modem. Each libmodbus call
// blocks on a worker thread while the main thread delivers our server's requests.

#include <gtest/gtest.h>

#include <vector>

#include "interop/libmodbus_peer.h"
#include "interop/our_side.h"
#include "support/pump.h"

namespace quelvan::interop {
namespace {

using platform::TNullModemSide;
using Bytes = std::vector<uint8_t>;

const TPump Pump = [](const std::function<bool()>& Condition, int TimeoutMs) {
    return test::PumpUntil(Condition, TimeoutMs);
};

std::vector<uint8_t> BitPattern(size_t Count, int Seed) {
    std::vector<uint8_t> bits(Count);
    for (size_t i = 0; i < Count; ++i) bits[i] = (i * 7 + static_cast<size_t>(Seed)) % 5 < 2 ? 1 : 0;
    return bits;
}

// libmodbus's client on side A, our server (address 1, TItemLayout) on side B.
struct TLibmodbusClientAndOurServer {
    explicit TLibmodbusClientAndOurServer(const TLineCase& Line)
        : Modem(Line), Our(Modem.PortB(), Modem.PortA(), Line, Pump), Items(Our.Items), Peer(Modem.PortA(), Line) {}
    std::vector<uint8_t> Coils(uint16_t Start, int Count) const {
        std::vector<uint8_t> bits;
        for (int i = 0; i < Count; ++i) bits.push_back(Items.Value(ikCoil, static_cast<uint16_t>(Start + i)) ? 1 : 0);
        return bits;
    }

    TPacedModem Modem;
    TOurServerSide Our;
    TModbusItemMap& Items;
    TLibmodbusClient Peer;  // opens the port once our server answers
};

class LibmodbusClient : public ::testing::Test, public TLibmodbusClientAndOurServer {
protected:
    LibmodbusClient() : TLibmodbusClientAndOurServer(DefaultLine) {}
    void SetUp() override { ASSERT_TRUE(Our.Ready) << "our server never answered"; }
};

TEST_F(LibmodbusClient, EveryCommandBothSidesSupportRoundTrips) {
    for (uint16_t i = 0; i < 10; ++i) Items.SetValue(ikInputRegister, 500 + i, 1000 + i);
    Items.SetValue(ikDiscreteInput, 1001, 1);
    Items.SetValue(ikDiscreteInput, 1008, 1);
    const std::vector<uint8_t> bits = BitPattern(20, 1);
    const uint16_t regs[] = {1, 2, 3, 0xFFFF, 0x8000};

    EXPECT_EQ(Peer.Run([](modbus_t* c) { return modbus_write_bit(c, 7, 1); }).Rc, 1);
    EXPECT_EQ(Peer.Run([](modbus_t* c) { return modbus_write_register(c, 3, 0xBEEF); }).Rc, 1);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_bits(c, 30, 20, bits.data()); }).Rc, 20);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_registers(c, 10, 5, regs); }).Rc, 5);
    EXPECT_EQ(Items.Value(ikCoil, 7), 1);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 3), 0xBEEF);
    EXPECT_EQ(Coils(30, 20), bits);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 13), 0xFFFF);

    std::vector<uint8_t> readBits(20);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_bits(c, 30, 20, readBits.data()); }).Rc, 20);
    EXPECT_EQ(readBits, bits);
    std::vector<uint8_t> inputs(10);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_input_bits(c, 1000, 10, inputs.data()); }).Rc, 10);
    EXPECT_EQ(inputs, (std::vector<uint8_t>{0, 1, 0, 0, 0, 0, 0, 0, 1, 0}));
    std::vector<uint16_t> held(16);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_registers(c, 0, 16, held.data()); }).Rc, 16);
    EXPECT_EQ(held[3], 0xBEEF);
    EXPECT_EQ(std::vector<uint16_t>(held.begin() + 10, held.begin() + 15), std::vector<uint16_t>(regs, regs + 5));
    std::vector<uint16_t> input(10);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_input_registers(c, 500, 10, input.data()); }).Rc, 10);
    EXPECT_EQ(input, (std::vector<uint16_t>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}));
}

TEST_F(LibmodbusClient, LargestCountsOfBothSidesPass) {
    // libmodbus's own limits: the protocol's 2000 / 1968 bits and 125 / 123 registers.
    const std::vector<uint8_t> coils = BitPattern(MODBUS_MAX_WRITE_BITS, 2);
    std::vector<uint16_t> regs(MODBUS_MAX_WRITE_REGISTERS);
    for (size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<uint16_t>(0x0101 * i + 7);
    const std::vector<uint8_t> inputs = BitPattern(MODBUS_MAX_READ_BITS, 3);
    for (uint16_t i = 0; i < inputs.size(); ++i) Items.SetValue(ikDiscreteInput, 1000 + i, inputs[i]);

    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_bits(c, 100, MODBUS_MAX_WRITE_BITS, coils.data()); }).Rc,
              MODBUS_MAX_WRITE_BITS);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_registers(c, 70, MODBUS_MAX_WRITE_REGISTERS, regs.data()); }).Rc,
              MODBUS_MAX_WRITE_REGISTERS);
    std::vector<uint8_t> bits(MODBUS_MAX_READ_BITS);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_bits(c, 100, MODBUS_MAX_READ_BITS, bits.data()); }).Rc,
              MODBUS_MAX_READ_BITS);
    EXPECT_EQ(std::vector<uint8_t>(bits.begin(), bits.begin() + MODBUS_MAX_WRITE_BITS), coils);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_input_bits(c, 1000, MODBUS_MAX_READ_BITS, bits.data()); }).Rc,
              MODBUS_MAX_READ_BITS);
    EXPECT_EQ(bits, inputs);
    std::vector<uint16_t> held(MODBUS_MAX_READ_REGISTERS);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_registers(c, 70, MODBUS_MAX_READ_REGISTERS, held.data()); }).Rc,
              MODBUS_MAX_READ_REGISTERS);
    EXPECT_EQ(std::vector<uint16_t>(held.begin(), held.begin() + MODBUS_MAX_WRITE_REGISTERS), regs);

    // Our server's own limit, 2008 bits: a 256-byte frame, which libmodbus receives whole.
    const Bytes reply = Peer.RawExchange({1, 0x01, 0x00, 0x00, 0x07, 0xD8});
    ASSERT_EQ(reply.size(), 254u);
    EXPECT_EQ(reply[2], 251);
    EXPECT_EQ(Peer.RawExchange({1, 0x01, 0x00, 0x00, 0x07, 0xD9}), (Bytes{1, 0x81, 3}));
}

TEST_F(LibmodbusClient, ExceptionRepliesFromOurServer) {
    struct ApiCase {
        const char* What;
        std::function<int(modbus_t*)> Call;
        int Errno;
    } apiCases[] = {
        {"registers past the map", [](modbus_t* c) { uint16_t d[20]; return modbus_read_registers(c, 190, 20, d); },
         EMBXILADD},
        {"coil outside the map", [](modbus_t* c) { return modbus_write_bit(c, 5000, 1); }, EMBXILADD},
        {"mask write (0x16)", [](modbus_t* c) { return modbus_mask_write_register(c, 1, 0xFF00, 0x0012); }, EMBXILFUN},
        {"write and read (0x17)",
         [](modbus_t* c) {
             uint16_t w[1] = {5}, r[2];
             return modbus_write_and_read_registers(c, 0, 1, w, 0, 2, r);
         },
         EMBXILFUN},
        {"report server id (0x11)", [](modbus_t* c) { uint8_t d[64]; return modbus_report_slave_id(c, 64, d); },
         EMBXILFUN},
    };
    for (const ApiCase& k : apiCases) {
        const TLibmodbusClient::TResult r = Peer.Run(k.Call);
        EXPECT_EQ(r.Rc, -1) << k.What;
        EXPECT_EQ(r.Errno, k.Errno) << k.What << ": " << modbus_strerror(r.Errno);
    }
    // Requests libmodbus has no call for, sent raw.
    struct RawCase {
        const char* What;
        Bytes Request, Reply;
    } rawCases[] = {
        {"diagnostics (0x08)", {1, 0x08, 0x00, 0x00, 0xA5, 0x37}, {1, 0x88, 1}},
        {"read exception status (0x07)", {1, 0x07}, {1, 0x87, 1}},
        {"device identification (0x2B)", {1, 0x2B, 0x0E, 0x01, 0x00}, {1, 0xAB, 1}},
        {"coil value 0x1234", {1, 0x05, 0x00, 0x01, 0x12, 0x34}, {1, 0x85, 3}},
        {"read of 0 registers", {1, 0x03, 0x00, 0x00, 0x00, 0x00}, {1, 0x83, 3}},
        {"read across 65535", {1, 0x03, 0xFF, 0xFF, 0x00, 0x02}, {1, 0x83, 2}},
    };
    for (const RawCase& k : rawCases) EXPECT_EQ(Peer.RawExchange(k.Request), k.Reply) << k.What;
    EXPECT_EQ(Items.Value(ikCoil, 1), 0);
}

// libmodbus sends a broadcast (slave 0) like any request; our server applies it and never
// answers, so the reply that follows is the only frame it sends. libmodbus 3.1.6 then waits for
// a reply all the same and reports ETIMEDOUT after its response time-out, although no server
// may answer a broadcast: a short time-out keeps that wait short, and either outcome passes.
TEST_F(LibmodbusClient, BroadcastWritesAreAppliedAndNeverAnswered) {
    const std::vector<uint8_t> bits = BitPattern(12, 4);
    const uint16_t regs[] = {7, 8, 9};
    const uint64_t sentBefore = Modem.Counters(TNullModemSide::B).Received;
    const TLibmodbusClient::TResult results[] = {
        Peer.Run([](modbus_t* c) {
            modbus_set_slave(c, MODBUS_BROADCAST_ADDRESS);
            modbus_set_response_timeout(c, 0, 300000);
            return modbus_write_bit(c, 3, 1);
        }),
        Peer.Run([](modbus_t* c) { return modbus_write_register(c, 5, 0x5555); }),
        Peer.Run([&](modbus_t* c) { return modbus_write_bits(c, 40, 12, bits.data()); }),
        Peer.Run([&](modbus_t* c) { return modbus_write_registers(c, 60, 3, regs); }),
    };
    for (const auto& r : results) EXPECT_TRUE(r.Rc >= 1 || r.Errno == ETIMEDOUT) << modbus_strerror(r.Errno);
    ASSERT_TRUE(test::PumpUntil([&] { return Items.Value(ikHoldingRegister, 62) == 9; }));
    uint16_t back[3];
    EXPECT_EQ(Peer.Run([&](modbus_t* c) {
                  modbus_set_slave(c, 1);
                  modbus_set_response_timeout(c, 5, 0);
                  return modbus_read_registers(c, 60, 3, back);
              }).Rc,
              3);
    EXPECT_EQ(Items.Value(ikCoil, 3), 1);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 5), 0x5555);
    EXPECT_EQ(Coils(40, 12), bits);
    EXPECT_EQ(back[2], 9);
    EXPECT_EQ(Modem.Counters(TNullModemSide::B).Received - sentBefore, 3u + 2 * 3 + 2);  // the read's reply
    EXPECT_TRUE(test::PumpUntil([&] { return Our.Sent.size() == 1; }));
}

class LibmodbusClientLine : public ::testing::TestWithParam<TLineCase>, public TLibmodbusClientAndOurServer {
protected:
    LibmodbusClientLine() : TLibmodbusClientAndOurServer(GetParam()) {}
    void SetUp() override { ASSERT_TRUE(Our.Ready) << "our server never answered"; }
};

TEST_P(LibmodbusClientLine, ReadsAndWritesUnderTheLineSettings) {
    const std::vector<uint8_t> bits = BitPattern(37, 5);
    const uint16_t regs[] = {0x0102, 0xFEDC, 0x8001};
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_registers(c, 0, 3, regs); }).Rc, 3);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_write_bits(c, 10, 37, bits.data()); }).Rc, 37);
    EXPECT_EQ(Peer.Run([](modbus_t* c) { return modbus_write_register(c, 50, 0xA5A5); }).Rc, 1);
    uint16_t back[3] = {};
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_registers(c, 0, 3, back); }).Rc, 3);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 3), std::vector<uint16_t>(regs, regs + 3));
    std::vector<uint8_t> readBits(37);
    EXPECT_EQ(Peer.Run([&](modbus_t* c) { return modbus_read_bits(c, 10, 37, readBits.data()); }).Rc, 37);
    EXPECT_EQ(readBits, bits);
    const TLibmodbusClient::TResult refused =
        Peer.Run([](modbus_t* c) { uint16_t d[20]; return modbus_read_registers(c, 190, 20, d); });
    EXPECT_EQ(refused.Errno, EMBXILADD);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 50), 0xA5A5);
}

INSTANTIATE_TEST_SUITE_P(Lines, LibmodbusClientLine, ::testing::ValuesIn(LineCases, LineCases + LineCaseCount), LineName);

}  // namespace
}  // namespace quelvan::interop
