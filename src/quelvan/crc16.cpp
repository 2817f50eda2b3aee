#include "quelvan/crc16.h"

#include <array>

namespace quelvan {

namespace {

// One entry per value of the low byte of (crc XOR data byte): the effect of shifting that byte
// out through the generator. Computed by the compiler, so it is ready before any thread runs.
constexpr std::array<uint16_t, 256> BuildCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> CrcTable = BuildCrcTable();

static_assert(CrcTable[1] == 0xC0C1 && CrcTable[255] == 0x4040);

}  // namespace

uint16_t Crc16(std::span<const uint8_t> Data) noexcept {
    unsigned crc = 0xFFFF;
    for (uint8_t b : Data) crc = CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return static_cast<uint16_t>(crc);
}

uint8_t Lrc(std::span<const uint8_t> Data) noexcept {
    unsigned sum = 0;
    for (uint8_t b : Data) sum += b;
    return static_cast<uint8_t>(0u - sum);
}

}  // namespace quelvan
