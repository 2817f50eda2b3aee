// The client component against a scripted server: argument checks, the content checks of
// each reply, diagnostics, file records, exception texts.

#include <gtest/gtest.h>

#include "quelvan/errors.h"
#include "support/mode_param.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using test::Bytes;
using test::PumpUntil;

class ClientTest : public ::testing::TestWithParam<TTransmissionMode> {
protected:
    ClientTest() : f(GetParam()) { f.Connection.Open(); }
    // The scripted server answers each request with Reply(request frame without checksum).
    void Serve(std::function<Bytes(const Bytes&)> Reply) {
        f.Line->SetOnWrite([this, Reply](const std::vector<uint8_t>& line) {
            const Bytes request = test::FromLine(GetParam(), line);
            if (!request.empty()) f.Line->QueueReceive(test::LineFrame(GetParam(), Reply(request)), 2);
        });
    }
    const test::TClientEvent& Await(uint32_t ID) {
        EXPECT_TRUE(PumpUntil([&] { return f.Log.Find(ID) != nullptr; }));
        static test::TClientEvent none;
        const test::TClientEvent* e = f.Log.Find(ID);
        return e ? *e : none;
    }
    test::TFakeClient f;
};

// Replies whose content does not fit the request are unmatched replies.
TEST_P(ClientTest, RepliesThatDoNotFitTheRequestAreUnmatched) {
    struct Case {
        const char* What;
        std::function<uint32_t(TModbusClient&)> Call;
        Bytes Reply;
        TReplyKind Expected;
    } cases[] = {
        {"coil byte count", [](TModbusClient& c) { return c.ReadCoils(0, 9); }, {1, 1, 1, 0xFF}, rkUnmatchedReply},
        {"coils ok", [](TModbusClient& c) { return c.ReadCoils(0, 9); }, {1, 1, 2, 0xFF, 0x01}, rkNormalReply},
        {"coils short", [](TModbusClient& c) { return c.ReadCoils(0, 9); }, {1, 1, 2, 0xFF}, rkUnmatchedReply},
        {"register count", [](TModbusClient& c) { return c.ReadHoldingRegisters(0, 2); }, {1, 3, 2, 0, 1}, rkUnmatchedReply},
        {"odd byte count passes", [](TModbusClient& c) { return c.ReadHoldingRegisters(0, 1); }, {1, 3, 3, 0, 1, 0}, rkNormalReply},
        {"registers short", [](TModbusClient& c) { return c.ReadInputRegisters(0, 2); }, {1, 4, 4, 0, 1}, rkUnmatchedReply},
        {"coil value echo", [](TModbusClient& c) { return c.WriteSingleCoil(3, true); }, {1, 5, 0, 3, 0, 0}, rkUnmatchedReply},
        {"register address echo", [](TModbusClient& c) { return c.WriteSingleRegister(3, 9); }, {1, 6, 0, 4, 0, 9}, rkUnmatchedReply},
        {"multiple quantity", [](TModbusClient& c) { return c.WriteMultipleRegisters(3, {1, 2}); }, {1, 0x10, 0, 3, 0, 1}, rkUnmatchedReply},
        {"multiple ok", [](TModbusClient& c) { return c.WriteMultipleCoils(3, {true}); }, {1, 0x0F, 0, 3, 0, 1}, rkNormalReply},
        {"mask echo", [](TModbusClient& c) { return c.MaskWriteSingleRegister(4, 0xF0F0, 0x0101); }, {1, 0x16, 0, 4, 0xF0, 0xF0, 0x01, 0x00}, rkUnmatchedReply},
        {"mask ok", [](TModbusClient& c) { return c.MaskWriteSingleRegister(4, 0xF0F0, 0x0101); }, {1, 0x16, 0, 4, 0xF0, 0xF0, 0x01, 0x01}, rkNormalReply},
    };
    for (const Case& k : cases) {
        Serve([&](const Bytes&) { return k.Reply; });
        const test::TClientEvent& e = Await(k.Call(f.Client));
        EXPECT_EQ(e.Info.Reply, k.Expected) << k.What;
    }
}

TEST_P(ClientTest, DiagnosticsReportTheirActionAndResult) {
    Serve([](const Bytes& r) {
        Bytes reply = r;
        if (r[3] == 0x0B) reply[5] = 42;  // bus message count: a result
        return reply;
    });
    const test::TClientEvent& clear = Await(f.Client.Diagnostics(daRestartCommsOptionAndClearEventLog));
    EXPECT_EQ(clear.Action, daRestartCommsOptionAndClearEventLog);
    EXPECT_EQ(clear.Info.Reply, rkNormalReply);
    ASSERT_FALSE(f.Line->Writes().empty());
    EXPECT_EQ(test::FromLine(GetParam(), f.Line->Writes().back().Data), (Bytes{1, 8, 0, 1, 0xFF, 0}));
    const test::TClientEvent& count = Await(f.Client.Diagnostics(daReturnBusMessageCount));
    EXPECT_EQ(count.Action, daReturnBusMessageCount);
    EXPECT_EQ(count.Result, 42);
    EXPECT_EQ(Await(f.Client.Diagnostics(daReturnQueryData)).Result, 0);
    EXPECT_EQ(test::FromLine(GetParam(), f.Line->Writes().back().Data), (Bytes{1, 8, 0, 0, 0xA5, 0x37}));
    // A reply that does not echo the query data is unmatched.
    Serve([](const Bytes& r) {
        Bytes reply = r;
        reply[5] ^= 1;
        return reply;
    });
    EXPECT_EQ(Await(f.Client.Diagnostics(daReturnQueryData)).Info.Reply, rkUnmatchedReply);
}

TEST_P(ClientTest, FileRecordsAreReadAndWritten) {
    TModbusFileRecordList list;
    list.Add(4, 1, 2);
    list.Add(3, 9, 1);
    // Read: the server answers each sub-request with values record*100 + index.
    Serve([](const Bytes& r) {
        Bytes reply{r[0], r[1], 0};
        for (size_t i = 3; i + 7 <= r.size(); i += 7) {
            const int len = r[i + 5] << 8 | r[i + 6];
            reply.push_back(static_cast<uint8_t>(1 + 2 * len));
            reply.push_back(6);
            for (int k = 0; k < len; ++k) {
                reply.push_back(0);
                reply.push_back(static_cast<uint8_t>(r[i + 4] * 10 + k));
            }
        }
        reply[2] = static_cast<uint8_t>(reply.size() - 3);
        return reply;
    });
    const test::TClientEvent& read = Await(f.Client.ReadFileRecord(list));
    EXPECT_EQ(read.Info.Reply, rkNormalReply);
    ASSERT_EQ(read.Records.size(), 2u);
    EXPECT_EQ(read.Records[0].FileNumber, 4);
    EXPECT_EQ(read.Records[0].Values, (std::vector<uint16_t>{10, 11}));
    EXPECT_EQ(read.Records[1].Values, (std::vector<uint16_t>{90}));

    // Write: the normal reply repeats the request.
    list.Items(0).SetRegValues(0, 0x1111);
    list.Items(0).SetRegValues(1, 0x2222);
    list.Items(1).SetRegValues(0, 0x3333);
    Serve([](const Bytes& r) { return r; });
    const test::TClientEvent& write = Await(f.Client.WriteFileRecord(list));
    EXPECT_EQ(write.Info.Reply, rkNormalReply);
    ASSERT_EQ(write.Records.size(), 2u);
    EXPECT_EQ(write.Records[0].Values, (std::vector<uint16_t>{0x1111, 0x2222}));
    EXPECT_EQ(write.Records[1].StartReg, 9);
    EXPECT_EQ(test::FromLine(GetParam(), f.Line->Writes().back().Data),
              (Bytes{1, 0x15, 20, 6, 0, 4, 0, 1, 0, 2, 0x11, 0x11, 0x22, 0x22, 6, 0, 3, 0, 9, 0, 1, 0x33, 0x33}));
    Serve([](const Bytes& r) {
        Bytes reply = r;
        reply.back() ^= 1;
        return reply;
    });
    EXPECT_EQ(Await(f.Client.WriteFileRecord(list)).Info.Reply, rkUnmatchedReply);
}

TEST_P(ClientTest, ExceptionReplyStillCarriesTheValuesSent) {
    Serve([](const Bytes& r) { return Bytes{r[0], static_cast<uint8_t>(r[1] | 0x80), 4}; });
    const test::TClientEvent& e = Await(f.Client.WriteMultipleCoils(5, {true, false, true}));
    EXPECT_EQ(e.Info.Reply, rkExceptionReply);
    EXPECT_EQ(e.Info.ExceptionCode, 4);
    EXPECT_EQ(e.Bits, (TBitValues{true, false, true}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ClientTest, ::testing::Values(tmRTU, tmASCII),
                         test::ModeName);

// Argument checks happen before anything is queued, with the message and its argument.
TEST(ClientArgumentsTest, EachCheckRaisesItsMessage) {
    test::TFakeClient f;
    f.Connection.SetConnectionMode(cmServer);  // nothing takes the queue: counts stay visible
    TModbusClient& c = f.Client;
    const TBitValues bits1977(1977), bits1976(1976);
    const TRegValues regs124(124);
    TModbusFileRecordList empty, tooBig;
    for (int i = 0; i < 8; ++i) tooBig.Add(1, static_cast<uint16_t>(i * 100), 20);
    struct Case {
        const char* What;
        std::function<void()> Call;
        const char* Message;  // null: accepted
    } cases[] = {
        {"no connection", [&] { TModbusClient lone; lone.ReadCoils(0, 1); }, "There is no active connection"},
        {"coils 0", [&] { c.ReadCoils(0, 0); }, "Discrete i/o count must be between 1 and 2008"},
        {"coils 2009", [&] { c.ReadCoils(0, 2009); }, "Discrete i/o count must be between 1 and 2008"},
        {"coils 2008", [&] { c.ReadCoils(0, 2008); }, nullptr},
        {"inputs past 65535", [&] { c.ReadDiscreteInputs(65535, 2); }, "Starting discrete i/o index is invalid (65535)"},
        {"inputs at 65535", [&] { c.ReadDiscreteInputs(65535, 1); }, nullptr},
        {"registers 126", [&] { c.ReadHoldingRegisters(0, 126); }, "Register count must be between 1 and 125"},
        {"registers past", [&] { c.ReadInputRegisters(65535, 2); }, "Starting register index is invalid (65535)"},
        {"write coils empty", [&] { c.WriteMultipleCoils(0, {}); }, "Discrete i/o count must be between 1 and 1976"},
        {"write coils 1977", [&] { c.WriteMultipleCoils(0, bits1977); }, "Discrete i/o count must be between 1 and 1976"},
        {"write coils 1976", [&] { c.WriteMultipleCoils(0, bits1976); }, nullptr},
        {"write coils past", [&] { c.WriteMultipleCoils(65000, bits1976); }, "Starting discrete i/o index is invalid (65000)"},
        {"write registers 124", [&] { c.WriteMultipleRegisters(0, regs124); }, "Register count must be between 1 and 123"},
        {"write registers past", [&] { c.WriteMultipleRegisters(65535, {1, 2}); }, "Starting register index is invalid (65535)"},
        {"file records empty", [&] { c.ReadFileRecord(empty); }, "The file record list is empty"},
        {"file records too big", [&] { c.ReadFileRecord(tooBig); }, "The file record request does not fit in a frame (338 bytes of PDU, at most 253)"},
        {"bad diagnostic", [&] { c.Diagnostics(static_cast<TDiagnosticAction>(15)); }, "Diagnostic action was not recognized"},
        {"broadcast coils empty", [&] { f.Connection.BroadcastWriteMultipleCoils(0, {}); }, "Discrete i/o count must be between 1 and 1976"},
    };
    f.Connection.Open();
    for (const Case& k : cases) {
        const int before = f.Connection.GetPendingTransactionCount();
        try {
            k.Call();
            EXPECT_EQ(k.Message, nullptr) << k.What << " accepted";
            EXPECT_EQ(f.Connection.GetPendingTransactionCount(), before + 1) << k.What;
        } catch (const EQuelvanError& e) {
            ASSERT_NE(k.Message, nullptr) << k.What << ": " << e.Message();
            EXPECT_EQ(e.Message(), k.Message) << k.What;
            EXPECT_EQ(f.Connection.GetPendingTransactionCount(), before) << k.What;
        }
    }
}

TEST(ClientArgumentsTest, ServerAddressRangeAndExceptionTexts) {
    TModbusClient c;
    EXPECT_EQ(c.ServerAddress(), 1);
    for (int bad : {0, 248, 255}) {
        try {
            c.SetServerAddress(static_cast<uint8_t>(bad));
            ADD_FAILURE() << bad;
        } catch (const EQuelvanError& e) {
            EXPECT_EQ(e.Message(), "Value must be between 1 and 247");
        }
    }
    c.SetServerAddress(247);
    EXPECT_EQ(c.ServerAddress(), 247);
    EXPECT_EQ(c.GetExceptionCodeText(2), "Illegal data address");
    uint8_t seen = 0;
    c.OnTranslateExceptionCode = [&](TModbusClient&, uint8_t code, std::string& text) {
        seen = code;
        if (code == 3) text = "Wert ungültig";
    };
    EXPECT_EQ(c.GetExceptionCodeText(200), "Unknown exception code");
    EXPECT_EQ(seen, 200);
    EXPECT_EQ(c.GetExceptionCodeText(3), "Wert ungültig");
}

// Two clients with the same address: the one bound first gets every result.
TEST(ClientBindingTest, ResultsGoToTheFirstClientWithTheAddress) {
    test::TFakeClient f;
    TModbusClient second;
    test::TClientEventLog secondLog(second);
    second.SetConnection(&f.Connection);
    f.Connection.SetReceiveTimeout(50);
    f.Connection.Open();
    second.ReadCoils(0, 1);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(secondLog.Count(), 0u);
}

}  // namespace
}  // namespace quelvan
