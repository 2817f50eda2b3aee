#pragma once
// The two Modbus serial-line checksums.

#include <cstdint>
#include <span>

namespace quelvan {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR. It goes on the
// line low byte first. Check value: 0x4B37 for the text "123456789".
uint16_t Crc16(std::span<const uint8_t> Data) noexcept;

// Longitudinal redundancy check of Modbus ASCII: the two's complement of the byte sum, so that
// the frame's bytes plus the LRC sum to 0 modulo 256.
uint8_t Lrc(std::span<const uint8_t> Data) noexcept;

}  // namespace quelvan
