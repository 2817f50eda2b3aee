#include "quelvan/crc16.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace quelvan {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The generator applied bit by bit, independent of the table.
uint16_t BitwiseCrc16(std::span<const uint8_t> data) {
    unsigned crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

TEST(Crc16, KnownAnswers) {
    // Check value of CRC-16/MODBUS, and frames whose CRC is published with the frame.
    EXPECT_EQ(Crc16(Bytes("123456789")), 0x4B37);
    const std::vector<uint8_t> readTen = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(Crc16(readTen), 0xCDC5);
    const std::vector<uint8_t> readOne = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};  // ... 84 0A
    EXPECT_EQ(Crc16(readOne), 0x0A84);
    const std::vector<uint8_t> readThree = {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};  // ... 76 87
    EXPECT_EQ(Crc16(readThree), 0x8776);
    EXPECT_EQ(Crc16({}), 0xFFFF);
}

TEST(Crc16, TableAgreesWithTheBitwiseGenerator) {
    std::mt19937 random(12345);
    std::vector<uint8_t> data(300);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    for (size_t n = 0; n <= data.size(); ++n)
        ASSERT_EQ(Crc16({data.data(), n}), BitwiseCrc16({data.data(), n})) << "length " << n;
}

TEST(Lrc, KnownAnswersAndFrameSumsToZero) {
    const std::vector<uint8_t> readTen = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(Lrc(readTen), 0xF2);
    const std::vector<uint8_t> readThree = {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};  // :1103006B00037E
    EXPECT_EQ(Lrc(readThree), 0x7E);
    EXPECT_EQ(Lrc({}), 0x00);
    std::vector<uint8_t> large(255, 0xFF);  // the sum passes 256 many times
    const uint8_t lrc = Lrc(large);
    large.push_back(lrc);
    unsigned sum = 0;
    for (uint8_t b : large) sum += b;
    EXPECT_EQ(sum % 256, 0u);
}

}  // namespace
}  // namespace quelvan
