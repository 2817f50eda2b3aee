#pragma once
// Building line frames in tests from known-good checksum routines.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/connection_types.h"

namespace quelvan::test {

using Bytes = std::vector<uint8_t>;

// Address and PDU -> RTU line bytes (CRC low byte first).
Bytes Rtu(Bytes Frame);
// Address and PDU -> ASCII line bytes (':' hex LRC CR LF).
Bytes Ascii(const Bytes& Frame);
Bytes LineFrame(TTransmissionMode Mode, const Bytes& Frame);
// Line bytes -> address and PDU (checksum removed); empty when not a valid frame.
Bytes FromLine(TTransmissionMode Mode, const Bytes& Line);
std::string Hex(const Bytes& B);

}  // namespace quelvan::test
