#include "quelvan/pdu_reader.h"

#include "quelvan/bit_packing.h"
#include "quelvan/errors.h"
#include "quelvan/frame_codec.h"

namespace quelvan {

TPduReader::TPduReader(TModbusBuffer& Buffer, TTransmissionMode Mode)
    : buffer_(Buffer), end_(Buffer.Size() - ChecksumSize(Mode)) {
    buffer_.SetPosition(buffer_.Size() < PDUOffset + 1 ? buffer_.Size() : PDUOffset + 1);
}

int32_t TPduReader::Remaining() const {
    const int32_t left = end_ - buffer_.Position();
    return left > 0 ? left : 0;
}

void TPduReader::Need(int32_t Bytes) const {
    if (Remaining() < Bytes) RaiseInternalError();
}

uint8_t TPduReader::ReadByte() {
    Need(1);
    const uint8_t v = buffer_.PeekByte();
    buffer_.Seek(bmNextByte);
    return v;
}

uint16_t TPduReader::ReadWord() {
    Need(2);
    const uint16_t v = buffer_.PeekWord();
    buffer_.Seek(bmNextWord);
    return v;
}

void TPduReader::ReadBits(TBitValues& Values) {
    Need(BitByteCount(static_cast<int32_t>(Values.size())));
    UnpackBits(buffer_, Values);
}

}  // namespace quelvan
