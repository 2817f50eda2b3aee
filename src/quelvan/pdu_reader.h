#pragma once
// Reads the fields of a frame's PDU from offset 2 onwards, never past the last data byte
// (the checksum and whatever lies beyond the received size are off limits). Reading past it
// raises EQuelvanError, so a request or reply shorter than its command's fields is rejected
// instead of being parsed from stale buffer contents.

#include <cstdint>

#include "quelvan/connection_types.h"
#include "quelvan/item_values.h"
#include "quelvan/modbus_buffer.h"

namespace quelvan {

class TPduReader {
public:
    // Positions Buffer at the first field after the command byte.
    TPduReader(TModbusBuffer& Buffer, TTransmissionMode Mode);

    uint8_t ReadByte();
    uint16_t ReadWord();
    // Count packed bits (Count >= 1), consuming BitByteCount(Count) bytes.
    void ReadBits(TBitValues& Values);
    // Bytes left before the checksum.
    int32_t Remaining() const;

private:
    void Need(int32_t Bytes) const;
    TModbusBuffer& buffer_;
    int32_t end_;
};

}  // namespace quelvan
