#pragma once
// A fixed-capacity byte buffer holding one whole serial-line frame: address byte, PDU and
// checksum. Words are big-endian (Modbus data) unless the name says LE (the RTU CRC).
//
// Contract: 0 <= Position <= Size <= Capacity. Room for reads and writes is measured against
// Capacity, not Size, so a peek past Size is allowed and writing past Size extends Size.
// Every operation that fails raises EQuelvanError and leaves the buffer as it was.
// No lock: one thread at a time owns a buffer.

#include <cstdint>
#include <memory>

namespace quelvan {

enum TBufferMove : uint8_t { bmFirst, bmLast, bmPrevByte, bmNextByte, bmPrevWord, bmNextWord };

class TModbusBuffer {
public:
    // The storage is allocated here once and never grows. A negative Capacity raises
    // "Buffer size is invalid (%d)".
    explicit TModbusBuffer(int32_t Capacity);

    TModbusBuffer(const TModbusBuffer&) = delete;
    TModbusBuffer& operator=(const TModbusBuffer&) = delete;

    int32_t Capacity() const noexcept { return capacity_; }

    int32_t Position() const noexcept { return position_; }
    // Outside 0..Size raises "Buffer position is invalid (%d)" with the value.
    void SetPosition(int32_t Value);

    int32_t Size() const noexcept { return size_; }
    // Outside 0..Capacity raises "Buffer size is invalid (%d)" with the value. A Position beyond
    // the new Size is pulled back to it.
    void SetSize(int32_t Value);

    // Raises "There is not enough space in the buffer to perform the requested action" when
    // fewer than Count bytes lie between Position and Capacity.
    void CheckRoom(int32_t Count) const;

    // Reads at Position without moving it.
    uint8_t PeekByte() const;
    uint16_t PeekWord() const;
    uint16_t PeekWordLE() const;

    // Writes at Position, advances it and extends Size when writing past it.
    void WriteByte(uint8_t Value);
    void WriteWord(uint16_t Value);
    void WriteWordLE(uint16_t Value);

    // bmFirst/bmLast go to 0/Size; the relative moves go through SetPosition.
    void Seek(TBufferMove Move);

    // Drops the bytes before Position: the bytes in [Position, Size) move to the front and
    // Position = Size = their count. Nothing changes when Position is 0 or equals Size.
    void Compact();

    // Checksums of the bytes [0, Position).
    uint16_t CalcCRC() const noexcept;
    uint8_t CalcLRC() const noexcept;

    // The storage, Capacity bytes. Bytes beyond Size are unspecified (zero when new).
    uint8_t* Data() noexcept { return data_.get(); }
    const uint8_t* Data() const noexcept { return data_.get(); }

private:
    void SetPositionChecked(int64_t Value);

    int32_t capacity_;
    int32_t position_ = 0;
    int32_t size_ = 0;
    std::unique_ptr<uint8_t[]> data_;
};

}  // namespace quelvan
