#include "quelvan/bit_packing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "buffer_helpers.h"
#include "quelvan/errors.h"

namespace quelvan {
namespace {

using test::Bytes;
using test::Content;
using test::NoRoom;
using testing::StrEq;
using testing::ThrowsMessage;

TEST(BitByteCount, CountsPartialBytes) {
    const std::pair<int32_t, int32_t> cases[] = {{0, 0}, {1, 1},     {8, 1},     {9, 2},
                                                 {16, 2}, {2008, 251}, {1976, 247}};
    for (auto [n, bytes] : cases) EXPECT_EQ(BitByteCount(n), bytes) << n;
    EXPECT_THROW(BitByteCount(-1), platform::EAssertionFailed);
}

TEST(PackBits, FirstItemGoesToBitZeroAndTheLastByteIsPaddedWithZeros) {
    struct Case {
        TBitValues values;
        Bytes bytes;
    } cases[] = {
        {{true, false, false, false, false, false, false, true, true}, {0x81, 0x01}},
        {{true, true, true, true, true, true, true, true, true}, {0xFF, 0x01}},
        {{false, true, false}, {0x02}},
        {{true, true, true, true, true, true, true, true}, {0xFF}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        TModbusBuffer buffer(8);
        buffer.WriteByte(0xAA);  // packing appends at the position
        PackBits(c.values, buffer);
        Bytes expected = {0xAA};
        expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(Content(buffer), expected) << c.values.size() << " values";
    }
}

TEST(UnpackBits, ConsumesExactlyTheBytesOfTheRunAndIgnoresTheHighBits) {
    TModbusBuffer buffer(8);
    for (uint8_t b : {0xFF, 0x81, 0x01, 0xFE}) buffer.WriteByte(b);
    buffer.Seek(bmFirst);
    TBitValues three(3);
    UnpackBits(buffer, three);
    EXPECT_EQ(three, TBitValues(3, true));
    EXPECT_EQ(buffer.Position(), 1);

    TBitValues nine(9);
    UnpackBits(buffer, nine);
    EXPECT_EQ(nine, (TBitValues{true, false, false, false, false, false, false, true, true}));
    EXPECT_EQ(buffer.Position(), 3);

    TBitValues none;
    UnpackBits(buffer, none);
    EXPECT_EQ(buffer.Position(), 3);
}

TEST(BitPacking, EveryRunLengthRoundTrips) {
    std::mt19937 random(99);
    TModbusBuffer buffer(256);
    for (int32_t n = 1; n <= 2008; ++n) {
        TBitValues values(static_cast<size_t>(n));
        for (size_t k = 0; k < values.size(); ++k) values[k] = random() & 1;
        buffer.SetSize(0);
        PackBits(values, buffer);
        ASSERT_EQ(buffer.Size(), BitByteCount(n));
        buffer.Seek(bmFirst);
        TBitValues unpacked(static_cast<size_t>(n));
        UnpackBits(buffer, unpacked);
        ASSERT_EQ(unpacked, values) << n;
        ASSERT_EQ(buffer.Position(), BitByteCount(n));
    }
}

TEST(BitPacking, ARunThatDoesNotFitChangesNothing) {
    TModbusBuffer buffer(4);
    buffer.WriteWord(0x1234);
    buffer.WriteByte(0x56);
    EXPECT_THAT([&] { PackBits(TBitValues(9, true), buffer); },
                ThrowsMessage<EQuelvanError>(StrEq(NoRoom)));
    EXPECT_EQ(Content(buffer), (Bytes{0x12, 0x34, 0x56}));
    EXPECT_EQ(buffer.Position(), 3);

    // Reading past the capacity, or past the bytes received.
    buffer.SetPosition(1);
    TBitValues values(40, true);
    EXPECT_THAT([&] { UnpackBits(buffer, values); }, ThrowsMessage<EQuelvanError>(StrEq(NoRoom)));
    values.resize(17);
    EXPECT_THAT([&] { UnpackBits(buffer, values); },
                ThrowsMessage<EQuelvanError>(StrEq("Buffer position is invalid (4)")));
    EXPECT_EQ(values, TBitValues(17, true));
    EXPECT_EQ(buffer.Position(), 1);
}

}  // namespace
}  // namespace quelvan
