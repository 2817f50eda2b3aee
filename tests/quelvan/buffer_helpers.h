#pragma once
// Small helpers for tests that fill and inspect frame buffers.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/modbus_buffer.h"

namespace quelvan::test {

using Bytes = std::vector<uint8_t>;

inline const std::string NoRoom =
    "There is not enough space in the buffer to perform the requested action";

// The Size bytes of the buffer.
inline Bytes Content(const TModbusBuffer& buffer) {
    return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// Replaces the content with the bytes; Position ends at Size.
inline void Fill(TModbusBuffer& buffer, const Bytes& bytes) {
    buffer.SetSize(0);
    for (uint8_t b : bytes) buffer.WriteByte(b);
}

}  // namespace quelvan::test
