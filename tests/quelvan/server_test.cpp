// The server component's request processing, called directly as the connection would:
// the order of checks and events, the presets, all-or-nothing writes, broadcasts.

#include <gtest/gtest.h>

#include "quelvan/errors.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"

namespace quelvan {
namespace {

using test::Bytes;

class ServerTest : public ::testing::Test {
protected:
    ServerTest() {
        line = test::UseFakeLine(connection);
        connection.SetConnectionMode(cmServer);
        server.SetConnection(&connection);
        server.SetAddress(5);
        connection.Open();
    }
    // Processes Request (address and PDU) and returns the reply (address and PDU), empty for
    // none.
    Bytes Process(const Bytes& Request) {
        TModbusTransaction t(connection.MaxFrameSize());
        const Bytes frame = test::Rtu(Request);
        connection.Codec().DecodeFrame(frame.data(), t.RequestBuffer(), static_cast<int32_t>(frame.size()));
        t.Info().ServerAddress = Request[0];
        server.ProcessRequest(t);
        const TModbusBuffer& r = t.ReplyBuffer();
        if (r.Size() == 0) return {};
        return test::FromLine(tmRTU, Bytes(r.Data(), r.Data() + r.Size()));
    }
    void Trace() {
        server.OnAcceptCommand = [this](TModbusServer&, uint8_t c, bool& a) { events.push_back("accept " + std::to_string(c)); a = true; };
        server.OnCanReadHoldingRegister = [this](TModbusServer&, uint16_t r, bool& a) {
            events.push_back("canread " + std::to_string(r));
            a = r != refuse;
        };
        server.OnGetHoldingRegisterValue = [this](TModbusServer&, uint16_t r, uint16_t& v) {
            events.push_back("get " + std::to_string(r));
            v = static_cast<uint16_t>(r * 2);
        };
        server.OnCanWriteHoldingRegister = [this](TModbusServer&, uint16_t r, uint16_t v, TItemWriteStatus& s) {
            events.push_back("canwrite " + std::to_string(r) + "=" + std::to_string(v));
            s = r == refuse ? refuseAs : iwsAllowWrite;
        };
        server.OnSetHoldingRegisterValue = [this](TModbusServer&, uint16_t r, uint16_t v) {
            events.push_back("set " + std::to_string(r) + "=" + std::to_string(v));
        };
        server.OnCanWriteCoil = [this](TModbusServer&, uint16_t b, bool v, TItemWriteStatus& s) {
            events.push_back("canwritecoil " + std::to_string(b) + (v ? "+" : "-"));
            s = iwsAllowWrite;
        };
        server.OnSetCoilValue = [this](TModbusServer&, uint16_t b, bool v) {
            events.push_back("setcoil " + std::to_string(b) + (v ? "+" : "-"));
        };
    }

    TModbusConnection connection;
    std::shared_ptr<platform::TFakeSerialLine> line;
    TModbusServer server;
    std::vector<std::string> events;
    int refuse = -1;
    TItemWriteStatus refuseAs = iwsIllegalAddress;
};

TEST_F(ServerTest, WithoutHandlersEverythingIsRefused) {
    for (uint8_t command : {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10, 0x08, 0x16, 0x2B})
        EXPECT_EQ(Process({5, command, 0, 0, 0, 1}), (Bytes{5, static_cast<uint8_t>(command | 0x80), 1}))
            << int(command);
    server.OnAcceptCommand = [](TModbusServer&, uint8_t, bool& a) { a = true; };
    EXPECT_EQ(Process({5, 3, 0, 0, 0, 1}), (Bytes{5, 0x83, 2}));  // accepted, but no item readable
}

TEST_F(ServerTest, UnservedCommandsAreRefusedWithoutAsking) {
    Trace();
    for (uint8_t command : {0x08, 0x14, 0x15, 0x16})
        EXPECT_EQ(Process({5, command, 0, 0, 0, 0}), (Bytes{5, static_cast<uint8_t>(command | 0x80), 1}));
    EXPECT_TRUE(events.empty());
}

TEST_F(ServerTest, ReadStopsAtTheFirstRefusedItem) {
    Trace();
    refuse = 15;
    EXPECT_EQ(Process({5, 3, 0, 10, 0, 10}), (Bytes{5, 0x83, 2}));
    EXPECT_EQ(events, (std::vector<std::string>{"accept 3", "canread 10", "canread 11", "canread 12",
                                                "canread 13", "canread 14", "canread 15"}));
    events.clear();
    refuse = -1;
    EXPECT_EQ(Process({5, 3, 0, 10, 0, 2}), (Bytes{5, 3, 4, 0, 20, 0, 22}));
    EXPECT_EQ(events, (std::vector<std::string>{"accept 3", "canread 10", "canread 11", "get 10", "get 11"}));
}

TEST_F(ServerTest, MultipleWritesAreAllOrNothing) {
    Trace();
    refuse = 2;
    refuseAs = iwsIllegalValue;
    const Bytes request{5, 0x10, 0, 0, 0, 5, 10, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5};
    EXPECT_EQ(Process(request), (Bytes{5, 0x90, 3}));
    EXPECT_EQ(events, (std::vector<std::string>{"accept 16", "canwrite 0=1", "canwrite 1=2", "canwrite 2=3"}));
    events.clear();
    refuse = -1;
    EXPECT_EQ(Process(request), (Bytes{5, 0x10, 0, 0, 0, 5}));
    EXPECT_EQ(events.size(), 11u);
    EXPECT_EQ(events[6], "set 0=1");
}

// Counts and addresses: out-of-range counts are 03, ranges past 65535 are 02, fields that
// are missing are 03.
TEST_F(ServerTest, RangeChecksAndShortRequests) {
    server.OnAcceptCommand = [](TModbusServer&, uint8_t, bool& a) { a = true; };
    server.OnCanReadCoil = [](TModbusServer&, uint16_t, bool& a) { a = true; };
    struct Case {
        Bytes Request, Reply;
    } cases[] = {
        {{5, 1, 0, 0, 0x07, 0xD9}, {5, 0x81, 3}},                 // 2009 coils
        {{5, 1, 0xFF, 0xFF, 0, 2}, {5, 0x81, 2}},                 // past 65535
        {{5, 1, 0, 0, 0, 0}, {5, 0x81, 3}},                       // none
        {{5, 3, 0, 0, 0, 126}, {5, 0x83, 3}},                     // 126 registers
        {{5, 1, 0, 0}, {5, 0x81, 3}},                             // quantity missing
        {{5, 0x10, 0, 0, 0, 2, 4, 0, 1}, {5, 0x90, 3}},           // a value missing
        {{5, 5, 0, 1, 0x12, 0x34}, {5, 0x85, 3}},                 // coil value word
    };
    for (const Case& k : cases) EXPECT_EQ(Process(k.Request), k.Reply) << test::Hex(k.Request);
    Bytes reply = Process({5, 1, 0, 0, 0x07, 0xD8});  // 2008 coils
    ASSERT_GE(reply.size(), 3u);
    EXPECT_EQ(reply[2], 251);
}

TEST_F(ServerTest, CoilWithABadValueWordAsksNothingButAcceptance) {
    Trace();
    EXPECT_EQ(Process({5, 5, 0, 1, 0x12, 0x34}), (Bytes{5, 0x85, 3}));
    EXPECT_EQ(events, std::vector<std::string>{"accept 5"});
}

TEST_F(ServerTest, BroadcastWritesBuildNoReply) {
    Trace();
    EXPECT_EQ(Process({0, 0x0F, 0, 3, 0, 4, 1, 0x05}), Bytes{});
    EXPECT_EQ(events, (std::vector<std::string>{"accept 15", "canwritecoil 3+", "canwritecoil 4-", "canwritecoil 5+",
                                                "canwritecoil 6-", "setcoil 3+", "setcoil 4-", "setcoil 5+", "setcoil 6-"}));
    events.clear();
    EXPECT_EQ(Process({0, 0x16, 0, 3, 0, 4, 0, 5}), Bytes{});  // unsupported broadcast: nothing
    EXPECT_TRUE(events.empty());
}

TEST_F(ServerTest, AddressRangeAndConnectionCheck) {
    try {
        server.SetAddress(0);
        FAIL();
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "Value must be between 1 and 247");
    }
    EXPECT_EQ(server.Address(), 5);
    connection.Close();
    TModbusTransaction t(256);
    try {
        server.ProcessRequest(t);
        FAIL();
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "There is no active connection");
    }
}

}  // namespace
}  // namespace quelvan
