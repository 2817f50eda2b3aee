#include "quelvan/modbus_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "buffer_helpers.h"
#include "quelvan/errors.h"

namespace quelvan {
namespace {

using test::Bytes;
using test::Content;
using test::NoRoom;

struct State {
    int32_t position;
    int32_t size;
    Bytes content;  // the first `size` bytes
};

// One operation on a buffer of 8 bytes prepared with `content` and `position`. Either it raises
// `error` and the buffer is exactly as before, or the buffer ends in `after`.
struct BufferCase {
    const char* name;
    Bytes content;
    int32_t position;
    std::function<void(TModbusBuffer&)> operation;
    std::string error;
    State after;
};

constexpr int32_t Capacity = 8;

State StateOf(const TModbusBuffer& b) {
    return {b.Position(), b.Size(), Content(b)};
}

void PrintTo(const BufferCase& c, std::ostream* os) { *os << c.name; }

class BufferRules : public testing::TestWithParam<BufferCase> {};

TEST_P(BufferRules, Apply) {
    const BufferCase& c = GetParam();
    TModbusBuffer buffer(Capacity);
    test::Fill(buffer, c.content);
    buffer.SetPosition(c.position);
    const State before = StateOf(buffer);
    if (!c.error.empty()) {
        EXPECT_THAT([&] { c.operation(buffer); },
                    testing::ThrowsMessage<EQuelvanError>(testing::StrEq(c.error)));
        const State now = StateOf(buffer);
        EXPECT_EQ(now.position, before.position);
        EXPECT_EQ(now.size, before.size);
        EXPECT_EQ(now.content, before.content);
        return;
    }
    c.operation(buffer);
    const State now = StateOf(buffer);
    EXPECT_EQ(now.position, c.after.position);
    EXPECT_EQ(now.size, c.after.size);
    EXPECT_EQ(now.content, c.after.content);
}

const Bytes Four = {1, 2, 3, 4};
const Bytes Eight = {1, 2, 3, 4, 5, 6, 7, 8};

INSTANTIATE_TEST_SUITE_P(
    Cases, BufferRules,
    testing::Values(
        BufferCase{"PositionWithinSize", Four, 4, [](auto& b) { b.SetPosition(1); }, "", {1, 4, Four}},
        BufferCase{"PositionAtSize", Four, 0, [](auto& b) { b.SetPosition(4); }, "", {4, 4, Four}},
        BufferCase{"PositionNegative", Four, 2, [](auto& b) { b.SetPosition(-1); },
                   "Buffer position is invalid (-1)", {}},
        BufferCase{"PositionPastSize", Four, 2, [](auto& b) { b.SetPosition(5); },
                   "Buffer position is invalid (5)", {}},
        BufferCase{"SizeShrinkPullsPositionBack", {1, 2, 3, 4, 5}, 5, [](auto& b) { b.SetSize(3); },
                   "", {3, 3, {1, 2, 3}}},
        BufferCase{"SizeShrinkKeepsEarlierPosition", Four, 1, [](auto& b) { b.SetSize(2); }, "",
                   {1, 2, {1, 2}}},
        BufferCase{"SizeGrowToCapacity", Four, 4, [](auto& b) { b.SetSize(8); }, "",
                   {4, 8, {1, 2, 3, 4, 0, 0, 0, 0}}},
        BufferCase{"SizeNegative", Four, 4, [](auto& b) { b.SetSize(-1); },
                   "Buffer size is invalid (-1)", {}},
        BufferCase{"SizePastCapacity", Four, 4, [](auto& b) { b.SetSize(9); },
                   "Buffer size is invalid (9)", {}},
        BufferCase{"WriteByteExtendsSize", Four, 4, [](auto& b) { b.WriteByte(0xAB); }, "",
                   {5, 5, {1, 2, 3, 4, 0xAB}}},
        BufferCase{"WriteWordInsideKeepsSize", Four, 1, [](auto& b) { b.WriteWord(0xA1B2); }, "",
                   {3, 4, {1, 0xA1, 0xB2, 4}}},
        BufferCase{"WriteWordLELowByteFirst", Four, 3, [](auto& b) { b.WriteWordLE(0xA1B2); }, "",
                   {5, 5, {1, 2, 3, 0xB2, 0xA1}}},
        BufferCase{"WriteWordFillsLastTwoBytes", {1, 2, 3, 4, 5, 6}, 6,
                   [](auto& b) { b.WriteWord(0x0708); }, "", {8, 8, Eight}},
        BufferCase{"WriteByteWhenFull", Eight, 8, [](auto& b) { b.WriteByte(0); }, NoRoom, {}},
        BufferCase{"WriteWordWithOneByteOfRoom", {1, 2, 3, 4, 5, 6, 7}, 7,
                   [](auto& b) { b.WriteWord(0xFFFF); }, NoRoom, {}},
        BufferCase{"WriteWordLEWithOneByteOfRoom", {1, 2, 3, 4, 5, 6, 7}, 7,
                   [](auto& b) { b.WriteWordLE(0xFFFF); }, NoRoom, {}},
        BufferCase{"PeekWordWithOneByteOfRoom", Eight, 7, [](auto& b) { b.PeekWord(); }, NoRoom, {}},
        BufferCase{"PeekByteAtCapacity", Eight, 8, [](auto& b) { b.PeekByte(); }, NoRoom, {}},
        BufferCase{"CheckRoomCountsToCapacityNotSize", Four, 4, [](auto& b) { b.CheckRoom(4); }, "",
                   {4, 4, Four}},
        BufferCase{"CheckRoomOneTooMany", Four, 4, [](auto& b) { b.CheckRoom(5); }, NoRoom, {}},
        BufferCase{"SeekFirst", Four, 3, [](auto& b) { b.Seek(bmFirst); }, "", {0, 4, Four}},
        BufferCase{"SeekLast", Four, 1, [](auto& b) { b.Seek(bmLast); }, "", {4, 4, Four}},
        BufferCase{"SeekPrevWord", Four, 4, [](auto& b) { b.Seek(bmPrevWord); }, "", {2, 4, Four}},
        BufferCase{"SeekNextByte", Four, 3, [](auto& b) { b.Seek(bmNextByte); }, "", {4, 4, Four}},
        BufferCase{"SeekPrevByteAtZero", Four, 0, [](auto& b) { b.Seek(bmPrevByte); },
                   "Buffer position is invalid (-1)", {}},
        BufferCase{"SeekPrevWordAtOne", Four, 1, [](auto& b) { b.Seek(bmPrevWord); },
                   "Buffer position is invalid (-1)", {}},
        BufferCase{"SeekNextByteAtSize", Four, 4, [](auto& b) { b.Seek(bmNextByte); },
                   "Buffer position is invalid (5)", {}},
        BufferCase{"SeekNextWordPastSize", Four, 3, [](auto& b) { b.Seek(bmNextWord); },
                   "Buffer position is invalid (5)", {}},
        BufferCase{"CompactMovesTheRestToTheFront", Eight, 6, [](auto& b) { b.Compact(); }, "",
                   {2, 2, {7, 8}}},
        BufferCase{"CompactAtZeroChangesNothing", Eight, 0, [](auto& b) { b.Compact(); }, "",
                   {0, 8, Eight}},
        BufferCase{"CompactAtSizeKeepsTheData", Eight, 8, [](auto& b) { b.Compact(); }, "",
                   {8, 8, Eight}}),
    [](const testing::TestParamInfo<BufferCase>& p) { return std::string(p.param.name); });

TEST(ModbusBuffer, NewBufferIsEmpty) {
    TModbusBuffer buffer(256);
    EXPECT_EQ(buffer.Capacity(), 256);
    EXPECT_EQ(buffer.Position(), 0);
    EXPECT_EQ(buffer.Size(), 0);
    TModbusBuffer none(0);
    EXPECT_THAT([&] { none.PeekByte(); },
                testing::ThrowsMessage<EQuelvanError>(testing::StrEq(NoRoom)));
    EXPECT_THAT([] { TModbusBuffer bad(-1); },
                testing::ThrowsMessage<EQuelvanError>(testing::StrEq("Buffer size is invalid (-1)")));
}

TEST(ModbusBuffer, PeeksReadInTheirByteOrderWithoutMoving) {
    TModbusBuffer buffer(8);
    buffer.WriteWord(0x1234);
    buffer.WriteWordLE(0x5678);
    buffer.Seek(bmFirst);
    EXPECT_EQ(buffer.PeekByte(), 0x12);
    EXPECT_EQ(buffer.PeekWord(), 0x1234);
    EXPECT_EQ(buffer.PeekWordLE(), 0x3412);
    buffer.Seek(bmNextWord);
    EXPECT_EQ(buffer.PeekWordLE(), 0x5678);
    EXPECT_EQ(buffer.Position(), 2);
    // Room is measured against the capacity, so a peek at Size reads the (zeroed) storage.
    buffer.Seek(bmLast);
    EXPECT_EQ(buffer.PeekByte(), 0);
}

TEST(ModbusBuffer, ChecksumsCoverTheBytesBeforePosition) {
    TModbusBuffer buffer(16);
    for (uint8_t b : {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}) buffer.WriteByte(b);
    EXPECT_EQ(buffer.CalcCRC(), 0xCDC5);
    EXPECT_EQ(buffer.CalcLRC(), 0xF2);
    buffer.SetPosition(0);
    EXPECT_EQ(buffer.CalcCRC(), 0xFFFF);
    EXPECT_EQ(buffer.CalcLRC(), 0);
}

}  // namespace
}  // namespace quelvan
