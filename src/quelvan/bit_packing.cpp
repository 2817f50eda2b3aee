#include "quelvan/bit_packing.h"

#include <array>
#include <limits>
#include <string>

#include "quelvan/errors.h"

namespace quelvan {

namespace {

constexpr std::array<uint8_t, 8> BitMasks = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};

int32_t ByteCountOf(const TBitValues& values) {
    if (values.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw platform::EAssertionFailed("Bit run too long: " + std::to_string(values.size()));
    return BitByteCount(static_cast<int32_t>(values.size()));
}

}  // namespace

int32_t BitByteCount(int32_t N) {
    if (N < 0) throw platform::EAssertionFailed("BitByteCount: negative count " + std::to_string(N));
    return N / 8 + (N % 8 != 0 ? 1 : 0);
}

void PackBits(const TBitValues& Values, TModbusBuffer& Buffer) {
    Buffer.CheckRoom(ByteCountOf(Values));
    uint8_t current = 0;
    size_t bit = 0;
    for (bool value : Values) {
        if (value) current |= BitMasks[bit];
        if (++bit == 8) {
            Buffer.WriteByte(current);
            current = 0;
            bit = 0;
        }
    }
    if (bit > 0) Buffer.WriteByte(current);
}

void UnpackBits(TModbusBuffer& Buffer, TBitValues& Values) {
    const int32_t count = ByteCountOf(Values);
    Buffer.CheckRoom(count);
    const int64_t end = int64_t{Buffer.Position()} + count;
    if (end > Buffer.Size()) RaiseErrorFmt(msgBufferPosition, {end});
    const uint8_t* bytes = Buffer.Data() + Buffer.Position();
    for (size_t k = 0; k < Values.size(); ++k) Values[k] = (bytes[k / 8] & BitMasks[k % 8]) != 0;
    Buffer.SetPosition(static_cast<int32_t>(end));
}

}  // namespace quelvan
