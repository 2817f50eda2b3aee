#include "quelvan/modbus_buffer.h"

#include <cstring>
#include <span>

#include "quelvan/crc16.h"
#include "quelvan/errors.h"

namespace quelvan {

namespace {
int32_t CheckedCapacity(int32_t capacity) {
    if (capacity < 0) RaiseErrorFmt(msgBufferSize, {capacity});
    return capacity;
}
}  // namespace

TModbusBuffer::TModbusBuffer(int32_t Capacity)
    : capacity_(CheckedCapacity(Capacity)), data_(std::make_unique<uint8_t[]>(capacity_)) {}

void TModbusBuffer::SetPosition(int32_t Value) { SetPositionChecked(Value); }

// Relative moves are computed in 64 bits so that a move near the int32 limit is reported with
// its true target instead of wrapping around.
void TModbusBuffer::SetPositionChecked(int64_t Value) {
    if (Value == position_) return;
    if (Value < 0 || Value > size_) RaiseErrorFmt(msgBufferPosition, {Value});
    position_ = static_cast<int32_t>(Value);
}

void TModbusBuffer::SetSize(int32_t Value) {
    if (Value == size_) return;
    if (Value < 0 || Value > capacity_) RaiseErrorFmt(msgBufferSize, {Value});
    size_ = Value;
    if (position_ > size_) position_ = size_;
}

void TModbusBuffer::CheckRoom(int32_t Count) const {
    if (Count > capacity_ - position_) RaiseError(msgBufferNoRoom);
}

uint8_t TModbusBuffer::PeekByte() const {
    CheckRoom(1);
    return data_[position_];
}

uint16_t TModbusBuffer::PeekWord() const {
    CheckRoom(2);
    return static_cast<uint16_t>(data_[position_] << 8 | data_[position_ + 1]);
}

uint16_t TModbusBuffer::PeekWordLE() const {
    CheckRoom(2);
    return static_cast<uint16_t>(data_[position_] | data_[position_ + 1] << 8);
}

void TModbusBuffer::WriteByte(uint8_t Value) {
    CheckRoom(1);
    data_[position_++] = Value;
    if (position_ > size_) size_ = position_;
}

void TModbusBuffer::WriteWord(uint16_t Value) {
    CheckRoom(2);
    data_[position_] = static_cast<uint8_t>(Value >> 8);
    data_[position_ + 1] = static_cast<uint8_t>(Value);
    position_ += 2;
    if (position_ > size_) size_ = position_;
}

void TModbusBuffer::WriteWordLE(uint16_t Value) {
    CheckRoom(2);
    data_[position_] = static_cast<uint8_t>(Value);
    data_[position_ + 1] = static_cast<uint8_t>(Value >> 8);
    position_ += 2;
    if (position_ > size_) size_ = position_;
}

void TModbusBuffer::Seek(TBufferMove Move) {
    switch (Move) {
    case bmFirst: position_ = 0; return;
    case bmLast: position_ = size_; return;
    case bmPrevByte: SetPositionChecked(int64_t{position_} - 1); return;
    case bmNextByte: SetPositionChecked(int64_t{position_} + 1); return;
    case bmPrevWord: SetPositionChecked(int64_t{position_} - 2); return;
    case bmNextWord: SetPositionChecked(int64_t{position_} + 2); return;
    }
    throw platform::EAssertionFailed("Seek: unknown move " + std::to_string(Move));
}

void TModbusBuffer::Compact() {
    if (position_ == 0 || position_ >= size_) return;
    const int32_t count = size_ - position_;
    std::memmove(data_.get(), data_.get() + position_, static_cast<size_t>(count));
    position_ = size_ = count;
}

uint16_t TModbusBuffer::CalcCRC() const noexcept {
    return Crc16(std::span(data_.get(), static_cast<size_t>(position_)));
}

uint8_t TModbusBuffer::CalcLRC() const noexcept {
    return Lrc(std::span(data_.get(), static_cast<size_t>(position_)));
}

}  // namespace quelvan
