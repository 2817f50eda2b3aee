// The virtual null-modem's relay controls, seen from two serial devices on its ends.

#include <gtest/gtest.h>

#include <bitset>
#include <chrono>
#include <vector>

#include "platform/posix_serial_device.h"
#include "platform/virtual_null_modem.h"
#include "serial_test_util.h"

using namespace quelvan::platform;
using quelvan::test::ElapsedMs;
using quelvan::test::ReadBytes;
using quelvan::test::WaitUntil;
using Bytes = std::vector<uint8_t>;
using Side = TNullModemSide;

namespace {

Bytes Sequence(size_t Count, uint8_t First = 0) {
    Bytes b(Count);
    for (size_t i = 0; i < Count; ++i) b[i] = static_cast<uint8_t>(First + i);
    return b;
}

class NullModem : public ::testing::Test {
protected:
    explicit NullModem(uint64_t Seed = 1) : cable_(Seed) {}
    void SetUp() override {
        a_.Open(cable_.PortA());
        b_.Open(cable_.PortB());
        a_.Configure(TLineSettings{});
        b_.Configure(TLineSettings{});
    }
    void Send(TPosixSerialDevice& From, const Bytes& Frame) {
        ASSERT_EQ(From.Write(Frame.data(), Frame.size(), 5000), TWriteResult::Complete);
    }
    // Waits until the relay has read Count bytes from From and delivered what survives.
    bool Settled(Side From, uint64_t Count) {
        return WaitUntil([&] { return cable_.Counters(From).Received >= Count && cable_.Idle(); });
    }

    TVirtualNullModem cable_;
    TPosixSerialDevice a_, b_;
};

}  // namespace

TEST_F(NullModem, RelaysBothWaysUnchangedByDefault) {
    EXPECT_NE(cable_.PortA(), cable_.PortB());
    EXPECT_EQ(cable_.Port(Side::A), cable_.PortA());
    const Bytes all = Sequence(256);
    Send(a_, all);
    EXPECT_EQ(ReadBytes(b_, all.size()), all);
    Send(b_, all);
    EXPECT_EQ(ReadBytes(a_, all.size()), all);
    const TRelayCounters c = cable_.Counters(Side::A);
    EXPECT_EQ(c.Received, 256u);
    EXPECT_EQ(c.Delivered, 256u);
    EXPECT_EQ(c.Dropped + c.Corrupted + c.Echoed + c.Injected, 0u);
}

TEST_F(NullModem, PacesBytesAtTheBaudRate) {
    TRelayControls c;
    c.BaudRate = 9600;
    c.BitsPerChar = 10;
    cable_.SetControls(Side::A, c);
    EXPECT_EQ(cable_.Controls(Side::A), c);
    const Bytes frame = Sequence(96);  // 96 * 10 bits at 9600 baud: 100 ms on the line
    const auto start = std::chrono::steady_clock::now();
    Send(a_, frame);
    EXPECT_EQ(ReadBytes(b_, frame.size()), frame);
    EXPECT_GE(ElapsedMs(start), 100);  // a lower bound: the line cannot be faster
}

TEST_F(NullModem, SplitsWritesIntoChunksWithPauses) {
    TRelayControls c;
    c.ChunkSize = 3;
    c.ChunkDelayMs = 20;
    cable_.SetControls(Side::A, c);
    const Bytes frame = Sequence(10);
    const auto start = std::chrono::steady_clock::now();
    Send(a_, frame);
    EXPECT_EQ(ReadBytes(b_, frame.size()), frame);
    EXPECT_GE(ElapsedMs(start), 60);  // three pauses between four chunks
    const TRelayCounters k = cable_.Counters(Side::A);
    EXPECT_EQ(k.Delivered, 10u);
    EXPECT_GE(k.Writes, 4u);  // never more than 3 bytes in one write
}

TEST_F(NullModem, DelaysDelivery) {
    TRelayControls c;
    c.DelayMs = 100;
    cable_.SetControls(Side::B, c);
    const Bytes frame = {1, 2, 3};
    const auto start = std::chrono::steady_clock::now();
    Send(b_, frame);
    EXPECT_EQ(ReadBytes(a_, frame.size()), frame);
    EXPECT_GE(ElapsedMs(start), 100);
}

TEST_F(NullModem, DropsTheNextBytesOrByChance) {
    cable_.DropNext(Side::A, 2);
    Send(a_, {1, 2, 3, 4, 5});
    EXPECT_EQ(ReadBytes(b_, 3), (Bytes{3, 4, 5}));
    EXPECT_EQ(cable_.Counters(Side::A).Dropped, 2u);

    TRelayControls c;
    c.DropProbability = 1.0;
    cable_.SetControls(Side::A, c);
    Send(a_, {6, 7, 8});
    ASSERT_TRUE(Settled(Side::A, 8));
    EXPECT_EQ(cable_.Counters(Side::A).Dropped, 5u);
    // Nothing of what was dropped turns up later.
    cable_.SetControls(Side::A, TRelayControls{});
    Send(a_, {9});
    EXPECT_EQ(ReadBytes(b_, 1), (Bytes{9}));
    EXPECT_EQ(b_.BytesWaiting(), 0);
}

TEST_F(NullModem, CorruptsAtAnOffsetOrByChance) {
    cable_.CorruptAt(Side::A, 1, 0x80);
    Send(a_, {1, 2, 3});
    EXPECT_EQ(ReadBytes(b_, 3), (Bytes{1, 0x82, 3}));
    EXPECT_EQ(cable_.Counters(Side::A).Corrupted, 1u);

    TRelayControls c;
    c.CorruptProbability = 1.0;
    cable_.SetControls(Side::A, c);
    const Bytes frame = Sequence(64);
    Send(a_, frame);
    const Bytes got = ReadBytes(b_, frame.size());
    ASSERT_EQ(got.size(), frame.size());
    for (size_t i = 0; i < frame.size(); ++i)
        EXPECT_EQ(std::bitset<8>(got[i] ^ frame[i]).count(), 1u) << "byte " << i;
    EXPECT_EQ(cable_.Counters(Side::A).Corrupted, 65u);
}

TEST_F(NullModem, InjectsBytesTowardASide) {
    cable_.Inject(Side::A, {0xAA, 0xBB});
    EXPECT_EQ(ReadBytes(a_, 2), (Bytes{0xAA, 0xBB}));
    cable_.Inject(Side::B, {0xCC});
    EXPECT_EQ(ReadBytes(b_, 1), (Bytes{0xCC}));
    cable_.Inject(Side::B, {});
    EXPECT_EQ(cable_.Counters(Side::B).Injected, 2u);  // toward A
    EXPECT_EQ(cable_.Counters(Side::A).Injected, 1u);
}

TEST_F(NullModem, EchoesASidesBytesBackToIt) {
    TRelayControls c;
    c.Echo = true;
    cable_.SetControls(Side::A, c);
    cable_.CorruptAt(Side::A, 0, 0x01);  // the echo is what was sent, not what arrived
    const Bytes frame = {0x10, 0x20, 0x30};
    Send(a_, frame);
    EXPECT_EQ(ReadBytes(a_, 3), frame);
    EXPECT_EQ(ReadBytes(b_, 3), (Bytes{0x11, 0x20, 0x30}));
    EXPECT_EQ(cable_.Counters(Side::A).Echoed, 3u);
    // B sends without echo.
    Send(b_, {0x40});
    EXPECT_EQ(ReadBytes(a_, 1), (Bytes{0x40}));
    EXPECT_EQ(b_.BytesWaiting(), 0);
}

TEST(NullModemSeed, TheSameSeedGivesTheSameLosses) {
    auto run = [](uint64_t Seed) {
        TVirtualNullModem cable(Seed);
        TPosixSerialDevice a, b;
        a.Open(cable.PortA());
        b.Open(cable.PortB());
        a.Configure(TLineSettings{});
        b.Configure(TLineSettings{});
        TRelayControls c;
        c.DropProbability = 0.3;
        c.CorruptProbability = 0.3;
        cable.SetControls(Side::A, c);
        const Bytes frame = Sequence(200);
        EXPECT_EQ(a.Write(frame.data(), frame.size(), 5000), TWriteResult::Complete);
        EXPECT_TRUE(WaitUntil([&] { return cable.Counters(Side::A).Received == 200 && cable.Idle(); }));
        const uint64_t kept = 200 - cable.Counters(Side::A).Dropped;
        return ReadBytes(b, kept);
    };
    const Bytes first = run(42);
    EXPECT_GT(first.size(), 50u);
    EXPECT_LT(first.size(), 200u);
    EXPECT_EQ(run(42), first);
}

TEST_F(NullModem, UnpluggingOneSideDropsWhatIsSentToIt) {
    cable_.Unplug(Side::A);
    cable_.Unplug(Side::A);  // once is enough
    EXPECT_TRUE(cable_.Unplugged(Side::A));
    EXPECT_FALSE(cable_.Unplugged(Side::B));
    EXPECT_EQ(a_.WaitForData(60000, nullptr), TWaitResult::Failed);
    Send(b_, {1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return cable_.Counters(Side::B).Dropped == 3; }));
    cable_.Inject(Side::A, {4});
    EXPECT_TRUE(WaitUntil([&] { return cable_.Counters(Side::B).Dropped == 4; }));
}

TEST(NullModemLifetime, StopsWithBytesStillOnTheLine) {
    // Three seconds of paced bytes are pending when the cable goes away.
    TVirtualNullModem cable;
    TPosixSerialDevice a;
    a.Open(cable.PortA());
    a.Configure(TLineSettings{});
    TRelayControls c;
    c.BaudRate = 300;
    cable.SetControls(Side::A, c);
    const Bytes frame = Sequence(100);
    ASSERT_EQ(a.Write(frame.data(), frame.size(), 5000), TWriteResult::Complete);
    ASSERT_TRUE(WaitUntil([&] { return cable.Counters(Side::A).Received == 100; }));
    EXPECT_FALSE(cable.Idle());
}
