// The transaction thread in client mode against a scripted far end: attempts and retries,
// classification of what arrives, echoes, broadcasts, ordering, and a vanishing device.

#include <gtest/gtest.h>

#include "platform/application.h"
#include "quelvan/errors.h"
#include "support/mode_param.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using test::Bytes;
using test::LineFrame;
using test::PumpUntil;

class ThreadTest : public ::testing::TestWithParam<TTransmissionMode> {
protected:
    ThreadTest() : f(GetParam()) {
        f.Connection.OnFrameSend = [this](TModbusConnection&, const TFrameData& d) { trace.push_back("send " + test::Hex(d)); };
        f.Connection.OnFrameReceive = [this](TModbusConnection&, const TFrameData& d) { trace.push_back("recv " + test::Hex(d)); };
    }
    Bytes Line(const Bytes& Frame) { return LineFrame(GetParam(), Frame); }
    // The far end answers every request with these frames (each after DelayMs).
    void Answer(std::vector<Bytes> Frames, uint32_t DelayMs = 5) {
        f.Line->SetOnWrite([this, Frames, DelayMs](const std::vector<uint8_t>&) {
            for (const Bytes& fr : Frames) f.Line->QueueReceive(fr, DelayMs);
        });
    }
    size_t Count(const std::string& Prefix) const {
        size_t n = 0;
        for (const std::string& t : trace) n += t.rfind(Prefix, 0) == 0;
        return n;
    }

    test::TFakeClient f;
    std::vector<std::string> trace;
};

const Bytes Read2{0x01, 0x03, 0x00, 0x10, 0x00, 0x02};
const Bytes Reply2{0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78};

TEST_P(ThreadTest, SilentPeerGetsEveryAttemptThenNoReply) {
    f.Connection.SetMaxRetries(3);
    f.Connection.SetReceiveTimeout(100);
    f.Connection.Open();
    const uint32_t id = f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    const test::TClientEvent& e = f.Log.Last();
    EXPECT_EQ(e.Info.ID, id);
    EXPECT_EQ(e.Info.Reply, rkNoReply);
    EXPECT_EQ(e.Info.Attempts, 3u);
    EXPECT_EQ(e.Regs, (TRegValues{0, 0}));
    EXPECT_EQ(e.Start, 0x10);
    EXPECT_EQ(e.Count, 2);
    EXPECT_EQ(Count("send "), 3u);
    EXPECT_EQ(trace, (std::vector<std::string>{"send " + test::Hex(Line(Read2)), "recv ",
                                                "send " + test::Hex(Line(Read2)), "recv ",
                                                "send " + test::Hex(Line(Read2)), "recv "}));
}

TEST_P(ThreadTest, ExceptionReplyIsNotRetried) {
    f.Connection.SetMaxRetries(3);
    Answer({Line({0x01, 0x83, 0x02})});
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkExceptionReply);
    EXPECT_EQ(f.Log.Last().Info.Attempts, 1u);
    EXPECT_EQ(f.Log.Last().Info.ExceptionCode, 2);
    EXPECT_EQ(f.Log.Last().Info.RawExceptionCode, 2);
    EXPECT_EQ(f.Client.GetExceptionCodeText(f.Log.Last().Info.ExceptionCode), "Illegal data address");
}

TEST_P(ThreadTest, ExceptionCodeAboveEightIsKeptRawOnly) {
    Answer({Line({0x01, 0x83, 0x0B})});
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkExceptionReply);
    EXPECT_EQ(f.Log.Last().Info.ExceptionCode, 0);
    EXPECT_EQ(f.Log.Last().Info.RawExceptionCode, 0x0B);
}

// A frame for someone else does not end the wait for the right one.
TEST_P(ThreadTest, ForeignFrameFirstThenTheReply) {
    Answer({Line({0x07, 0x03, 0x02, 0x00, 0x01}), Line(Reply2)}, 40);
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNormalReply);
    EXPECT_EQ(f.Log.Last().Regs, (TRegValues{0x1234, 0x5678}));
    EXPECT_EQ(Count("recv "), 2u);
}

// After an unmatched frame the thread keeps listening for the rest of the budget; what it
// hears last decides the outcome.
TEST_P(ThreadTest, UnmatchedFrameKeepsTheWaitGoing) {
    Answer({Line({0x01, 0x04, 0x02, 0x00, 0x01})});
    f.Connection.SetReceiveTimeout(150);
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNoReply);
    EXPECT_EQ(Count("recv "), 2u);
    EXPECT_EQ(trace[1], "recv " + test::Hex(Line({0x01, 0x04, 0x02, 0x00, 0x01})));
}

TEST_P(ThreadTest, CorruptedReplyCountsAsNoReplyAndIsRetried) {
    Bytes bad = Line(Reply2);
    bad[3] ^= 0x01;  // breaks the checksum (or a hex digit)
    int writes = 0;
    f.Line->SetOnWrite([&, bad](const std::vector<uint8_t>&) {
        f.Line->QueueReceive(++writes == 1 ? bad : Line(Reply2), 5);
    });
    f.Connection.SetMaxRetries(2);
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNormalReply);
    EXPECT_EQ(f.Log.Last().Info.Attempts, 2u);
}

// Noise that looks like an ASCII frame but is malformed must still end in exactly one outcome.
TEST(ThreadAsciiTest, MalformedAsciiFrameIsNoReplyNotALostTransaction) {
    test::TFakeClient f(tmASCII);
    f.Line->SetOnWrite([&](const std::vector<uint8_t>&) { f.Line->QueueReceive({':', '0', '\r', '\n'}, 5); });
    std::vector<std::string> shown;
    platform::Application().OnException = [&](const std::exception& e) { shown.push_back(e.what()); };
    f.Connection.Open();
    f.Client.ReadCoils(0, 1);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    platform::Application().OnException = nullptr;
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNoReply);
    EXPECT_TRUE(shown.empty());
}

TEST_P(ThreadTest, EchoAsItsOwnFrameThenTheReply) {
    f.Connection.SetEchoQueryBeforeReply(true);
    Answer({Line(Read2), Line(Reply2)}, 40);
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNormalReply);
    EXPECT_EQ(f.Log.Last().Regs, (TRegValues{0x1234, 0x5678}));
    EXPECT_EQ(Count("recv "), 2u);
}

TEST_P(ThreadTest, EchoWithoutTheFlagIsTakenForTheReply) {
    Answer({Line(Read2), Line(Reply2)}, 40);
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    // The echo matches address and command: judged a normal reply, then fails the content
    // check of a read (its byte count is not 4).
    EXPECT_EQ(f.Log.Last().Info.Reply, rkUnmatchedReply);
    EXPECT_EQ(Count("recv "), 1u);
}

TEST_P(ThreadTest, EchoAndReplyInOneBlock) {
    f.Connection.SetEchoQueryBeforeReply(true);
    int received = 0;
    f.Connection.OnFrameReceive = [&](TModbusConnection&, const TFrameData&) { ++received; };
    Bytes block = Line(Read2);
    const Bytes reply = Line(Reply2);
    block.insert(block.end(), reply.begin(), reply.end());
    f.Line->SetOnWrite([&, block](const std::vector<uint8_t>&) { f.Line->QueueReceive(block, 5); });
    f.Connection.Open();
    f.Client.ReadHoldingRegisters(0x10, 2);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.Reply, rkNormalReply);
    EXPECT_EQ(f.Log.Last().Regs, (TRegValues{0x1234, 0x5678}));
    // RTU: one frame holding both, cut apart; ASCII: two frames from one read.
    EXPECT_EQ(received, GetParam() == tmRTU ? 1 : 2);
}

TEST_P(ThreadTest, BroadcastIsSentOnceAndNeverDelivered) {
    f.Connection.SetTurnaroundDelay(10);
    f.Connection.SetMaxRetries(3);
    f.Connection.Open();
    f.Connection.BroadcastWriteSingleRegister(5, 0x1234);
    const uint32_t id = f.Client.WriteSingleRegister(5, 1);  // a later transaction to wait for
    Answer({Line({0x01, 0x06, 0x00, 0x05, 0x00, 0x01})});
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 1; }));
    EXPECT_EQ(f.Log.Last().Info.ID, id);
    ASSERT_GE(f.Line->Writes().size(), 2u);
    EXPECT_EQ(f.Line->Writes()[0].Data, Line({0x00, 0x06, 0x00, 0x05, 0x12, 0x34}));
    EXPECT_EQ(Count("send "), 2u);
}

TEST_P(ThreadTest, DiscardedTransactionsFireNothing) {
    f.Connection.SetReceiveTimeout(200);
    f.Connection.Open();
    f.Client.ReadCoils(0, 1);  // answered by nobody
    ASSERT_TRUE(f.Line->WaitForWrites(1, 5000));  // now in progress
    for (int i = 0; i < 5; ++i) f.Client.ReadCoils(0, 1);
    EXPECT_EQ(f.Connection.GetPendingTransactionCount(&f.Client), 5);
    f.Connection.DiscardPendingTransactions(&f.Client);
    EXPECT_EQ(f.Connection.GetPendingTransactionCount(), 0);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() >= 1; }));
    test::PumpFor(300);
    EXPECT_EQ(f.Log.Count(), 1u);  // only the one in progress
}

TEST_P(ThreadTest, ResultsArriveInSendingOrderAfterTheirFrames) {
    Answer({Line(Reply2)});
    f.Connection.Open();
    std::vector<uint32_t> ids;
    for (int i = 0; i < 5; ++i) ids.push_back(f.Client.ReadHoldingRegisters(0x10, 2));
    std::vector<std::string> order;
    f.Client.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo& I, uint16_t, uint16_t, const TRegValues&) {
        order.push_back("result " + std::to_string(I.ID));
        trace.push_back("result");
    };
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 5; }));
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(order[i], "result " + std::to_string(ids[i]));
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(trace[3 * i].substr(0, 5), "send ");
        EXPECT_EQ(trace[3 * i + 1].substr(0, 5), "recv ");
        EXPECT_EQ(trace[3 * i + 2], "result");
    }
}

TEST_P(ThreadTest, ClosingWaitsForTheTransactionInProgress) {
    f.Connection.SetReceiveTimeout(150);
    f.Connection.Open();
    f.Client.ReadCoils(0, 1);
    f.Line->WaitForWrites(1, 5000);
    f.Connection.Close();  // returns after the attempt; queued ones are freed
    EXPECT_FALSE(f.Connection.Active());
}

// Waits that could outlast any patience end when the connection closes: an unbounded
// receive time-out, and a silent interval of days while the thread prepares the line.
TEST_P(ThreadTest, ClosingEndsLongWaits) {
    f.Connection.SetReceiveTimeout(platform::INFINITE_WAIT);
    f.Connection.SetMaxRetries(3);
    f.Connection.Open();
    f.Client.ReadCoils(0, 1);
    ASSERT_TRUE(f.Line->WaitForWrites(1, 5000));
    f.Connection.Close();
    EXPECT_FALSE(f.Connection.Active());

    f.Connection.SetSilentInterval(500000000);
    f.Connection.Open();
    f.Connection.Close();
    EXPECT_FALSE(f.Connection.Active());
}

// An unplugged adapter: transactions still end with one outcome each, the error is shown
// once, nothing spins, and closing and opening again recovers.
TEST_P(ThreadTest, VanishedDeviceEndsTransactionsAndIsReportedOnce) {
    std::vector<std::string> shown;
    platform::Application().OnException = [&](const std::exception& e) { shown.push_back(e.what()); };
    f.Connection.SetReceiveTimeout(200);
    f.Connection.SetMaxRetries(2);
    f.Connection.Open();
    f.Line->Vanish();
    for (int i = 0; i < 4; ++i) f.Client.ReadCoils(0, 1);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 4; }));
    for (const auto& e : f.Log.Events()) EXPECT_EQ(e.Info.Reply, rkNoReply);
    ASSERT_TRUE(PumpUntil([&] { return !shown.empty(); }));
    test::PumpFor(50);
    platform::Application().OnException = nullptr;
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("/dev/fake"), std::string::npos) << shown[0];
    f.Connection.Close();
    EXPECT_FALSE(f.Connection.Active());
}

INSTANTIATE_TEST_SUITE_P(Modes, ThreadTest, ::testing::Values(tmRTU, tmASCII),
                         test::ModeName);

}  // namespace
}  // namespace quelvan
