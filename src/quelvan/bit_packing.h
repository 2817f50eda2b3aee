#pragma once
// Packed bits of the coil and discrete-input commands: item k of a run is bit (k mod 8) of data
// byte (k div 8), bit 0 being the least significant.

#include <cstdint>

#include "quelvan/item_values.h"
#include "quelvan/modbus_buffer.h"

namespace quelvan {

// Number of data bytes for N items: N div 8, plus one for a partial byte. N must not be negative
// (raises EAssertionFailed).
int32_t BitByteCount(int32_t N);

// Appends BitByteCount(Values.size()) bytes at the buffer's Position; the unused high bits of the
// last byte are 0. When the bytes do not fit within Capacity nothing is written and the buffer's
// error is raised.
void PackBits(const TBitValues& Values, TModbusBuffer& Buffer);

// Fills every element of Values from BitByteCount(Values.size()) bytes at the buffer's Position
// and moves Position past them; the unused high bits of the last byte are ignored. The bytes must
// lie within Size: otherwise the buffer's error is raised and neither Values nor the buffer
// change. An empty Values consumes nothing.
void UnpackBits(TModbusBuffer& Buffer, TBitValues& Values);

}  // namespace quelvan
