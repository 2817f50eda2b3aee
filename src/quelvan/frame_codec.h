#pragma once
// Conversion between a frame buffer (address, PDU, checksum as bytes) and the bytes on the line,
// and the frame-level checks applied to what is received. The connection holds one codec for its
// transmission mode and role and forwards these operations as its own.
//
// The codec reads nothing but its two modes: it touches no port and takes no lock, so it may run
// on any thread that owns the buffers it is given.

#include <cstdint>

#include "quelvan/connection_types.h"
#include "quelvan/modbus_buffer.h"

namespace quelvan {

// Offset of the function code in every frame buffer (the byte after the address).
inline constexpr int32_t PDUOffset = 1;

// Capacity of a transaction's frame buffers: address 1 + PDU up to 253 + checksum (2 or 1).
constexpr int32_t MaxFrameSize(TTransmissionMode Mode) noexcept { return Mode == tmRTU ? 256 : 255; }

// Size of a line buffer: an RTU frame as is; ':' + two characters per byte + CR LF in ASCII.
constexpr int32_t MaxRawFrameSize(TTransmissionMode Mode) noexcept {
    return Mode == tmRTU ? 256 : 1 + 2 * MaxFrameSize(tmASCII) + 2;
}

// Input and output queue sizes asked of the serial driver at open.
constexpr int32_t SerialQueueSize(TTransmissionMode Mode) noexcept { return Mode == tmRTU ? 384 : 768; }

// Smallest request a server accepts: address, function code, checksum.
// Bytes of the checksum that ends a frame buffer: the CRC-16 in RTU, the LRC in ASCII.
constexpr int32_t ChecksumSize(TTransmissionMode Mode) noexcept { return Mode == tmRTU ? 2 : 1; }

constexpr int32_t MinRequestFrameSize(TTransmissionMode Mode) noexcept { return Mode == tmRTU ? 4 : 3; }

// Smallest reply a client accepts: address, function code, one data byte, checksum. Also the
// exact size of an exception reply.
constexpr int32_t MinReplyFrameSize(TTransmissionMode Mode) noexcept { return Mode == tmRTU ? 5 : 4; }

class TFrameCodec {
public:
    constexpr TFrameCodec(TTransmissionMode TransmissionMode = tmRTU,
                          TConnectionMode ConnectionMode = cmClient) noexcept
        : transmissionMode_(TransmissionMode), connectionMode_(ConnectionMode) {}

    constexpr TTransmissionMode TransmissionMode() const noexcept { return transmissionMode_; }
    constexpr TConnectionMode ConnectionMode() const noexcept { return connectionMode_; }

    // Appends the address byte (0 = broadcast).
    void WriteAddress(uint8_t Address, TModbusBuffer& Buffer) const;

    // Appends the checksum of the bytes before Position (the whole frame when written
    // sequentially): RTU CRC low byte first, ASCII LRC.
    void WriteChecksum(TModbusBuffer& Buffer) const;

    // Both leave Position at the byte they read.
    uint8_t PeekAddress(TModbusBuffer& Buffer) const;
    uint8_t PeekFunctionCode(TModbusBuffer& Buffer) const;

    // Writes the line form of the Size bytes of Buffer to Dest and returns its length (0 for an
    // empty buffer). Raises "Failed to encode frame" when it needs more than DestSize bytes.
    int32_t EncodeFrame(const TModbusBuffer& Buffer, uint8_t* Dest, int32_t DestSize) const;

    // Replaces the content of Buffer with the frame in the Length line bytes at Src; Buffer is
    // emptied first, so it is empty whenever this raises. RTU: the bytes as they are; longer
    // than Capacity raises "Failed to decode frame". ASCII: a frame not of the form
    // ':' hex-pairs CR LF raises EAssertionFailed ("DecodeFrame: ..."); more pairs than Capacity
    // raises "Failed to decode frame"; a character that is not an upper-case hexadecimal digit
    // leaves Buffer empty, so the frame fails IsFrameValid.
    void DecodeFrame(const uint8_t* Src, TModbusBuffer& Buffer, int32_t Length) const;

    // True when the trailing checksum matches the bytes before it. The buffer must hold at least
    // the checksum (IsFrameValid ensures it).
    bool VerifyChecksum(TModbusBuffer& Buffer) const;

    // True when the frame is long enough for the role (a request in server mode, a reply in
    // client mode) and its checksum holds.
    bool IsFrameValid(TModbusBuffer& Buffer) const;

    // Same address, and the reply's function code with bit 7 cleared equals the request's, so an
    // exception reply matches its request.
    bool ReplyMatchesRequest(TModbusBuffer& Request, TModbusBuffer& Reply) const;

    // Exactly the size of an exception reply, with a function code above 0x80.
    bool IsExceptionReply(TModbusBuffer& Reply) const;

    // The reply starts with the whole request (a line that echoes what was sent).
    bool IsEchoOfRequest(const TModbusBuffer& Request, const TModbusBuffer& Reply) const;

    // The code byte of an exception reply: RawExceptionCode as received, ExceptionCode the same
    // when it is 0 to 8, otherwise 0.
    void ReadExceptionCode(TModbusBuffer& Reply, uint8_t& ExceptionCode,
                           uint8_t& RawExceptionCode) const;

private:
    TTransmissionMode transmissionMode_;
    TConnectionMode connectionMode_;
};

}  // namespace quelvan
