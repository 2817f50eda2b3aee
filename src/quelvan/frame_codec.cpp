#include "quelvan/frame_codec.h"

#include <array>
#include <cstring>

#include "quelvan/errors.h"

namespace quelvan {

namespace {

constexpr uint8_t Colon = ':';
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t NotHex = 0xFF;
constexpr char HexDigits[] = "0123456789ABCDEF";

// Value of each upper-case hexadecimal digit; NotHex for every other character.
constexpr std::array<uint8_t, 256> BuildHexValues() {
    std::array<uint8_t, 256> values{};
    values.fill(NotHex);
    for (uint8_t v = 0; v < 16; ++v) values[static_cast<uint8_t>(HexDigits[v])] = v;
    return values;
}
constexpr std::array<uint8_t, 256> HexValues = BuildHexValues();

[[noreturn]] void AssertionFailure(const char* text) { throw platform::EAssertionFailed(text); }

}  // namespace

void TFrameCodec::WriteAddress(uint8_t Address, TModbusBuffer& Buffer) const {
    Buffer.WriteByte(Address);
}

void TFrameCodec::WriteChecksum(TModbusBuffer& Buffer) const {
    if (transmissionMode_ == tmRTU) Buffer.WriteWordLE(Buffer.CalcCRC());
    else Buffer.WriteByte(Buffer.CalcLRC());
}

uint8_t TFrameCodec::PeekAddress(TModbusBuffer& Buffer) const {
    Buffer.Seek(bmFirst);
    return Buffer.PeekByte();
}

uint8_t TFrameCodec::PeekFunctionCode(TModbusBuffer& Buffer) const {
    Buffer.SetPosition(PDUOffset);
    return Buffer.PeekByte();
}

int32_t TFrameCodec::EncodeFrame(const TModbusBuffer& Buffer, uint8_t* Dest,
                                 int32_t DestSize) const {
    const int32_t n = Buffer.Size();
    if (n <= 0) return 0;
    const uint8_t* src = Buffer.Data();
    if (transmissionMode_ == tmRTU) {
        if (n > DestSize) RaiseError(msgEncodeFrame);
        if (!Dest) AssertionFailure("EncodeFrame: no destination");
        std::memcpy(Dest, src, static_cast<size_t>(n));
        return n;
    }
    const int64_t length = 2 * int64_t{n} + 3;
    if (length > DestSize) RaiseError(msgEncodeFrame);
    if (!Dest) AssertionFailure("EncodeFrame: no destination");
    uint8_t* out = Dest;
    *out++ = Colon;
    for (int32_t i = 0; i < n; ++i) {
        *out++ = static_cast<uint8_t>(HexDigits[src[i] >> 4]);
        *out++ = static_cast<uint8_t>(HexDigits[src[i] & 0x0F]);
    }
    *out++ = CR;
    *out = LF;
    return static_cast<int32_t>(length);
}

void TFrameCodec::DecodeFrame(const uint8_t* Src, TModbusBuffer& Buffer, int32_t Length) const {
    Buffer.SetSize(0);
    if (Length <= 0) return;
    if (!Src) AssertionFailure("DecodeFrame: no source");
    uint8_t* dest = Buffer.Data();
    if (transmissionMode_ == tmRTU) {
        if (Length > Buffer.Capacity()) RaiseError(msgDecodeFrame);
        std::memcpy(dest, Src, static_cast<size_t>(Length));
        Buffer.SetSize(Length);
        return;
    }
    if (Length <= 3) AssertionFailure("DecodeFrame: The size is too small.");
    if (Length % 2 == 0) AssertionFailure("DecodeFrame: The size is not an odd number.");
    if (Src[0] != Colon) AssertionFailure("DecodeFrame: Leading colon is missing.");
    if (Src[Length - 2] != CR) AssertionFailure("DecodeFrame: Trailing CR is missing.");
    if (Src[Length - 1] != LF) AssertionFailure("DecodeFrame: Trailing LF is missing.");
    const int32_t n = (Length - 3) / 2;
    if (n > Buffer.Capacity()) RaiseError(msgDecodeFrame);
    // A character outside 0-9/A-F is line corruption: the frame is dropped here rather than
    // decoded into arbitrary bytes that a matching 8-bit LRC could let through.
    const uint8_t* pair = Src + 1;
    for (int32_t i = 0; i < n; ++i, pair += 2) {
        const uint8_t high = HexValues[pair[0]];
        const uint8_t low = HexValues[pair[1]];
        if (high == NotHex || low == NotHex) return;
        dest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    Buffer.SetSize(n);
}

bool TFrameCodec::VerifyChecksum(TModbusBuffer& Buffer) const {
    Buffer.Seek(bmLast);
    if (transmissionMode_ == tmRTU) {
        Buffer.Seek(bmPrevWord);
        return Buffer.CalcCRC() == Buffer.PeekWordLE();
    }
    Buffer.Seek(bmPrevByte);
    return Buffer.CalcLRC() == Buffer.PeekByte();
}

bool TFrameCodec::IsFrameValid(TModbusBuffer& Buffer) const {
    const int32_t minimum = connectionMode_ == cmServer ? MinRequestFrameSize(transmissionMode_)
                                                        : MinReplyFrameSize(transmissionMode_);
    return Buffer.Size() >= minimum && VerifyChecksum(Buffer);
}

bool TFrameCodec::ReplyMatchesRequest(TModbusBuffer& Request, TModbusBuffer& Reply) const {
    return PeekAddress(Reply) == PeekAddress(Request) &&
           (PeekFunctionCode(Reply) & 0x7F) == PeekFunctionCode(Request);
}

bool TFrameCodec::IsExceptionReply(TModbusBuffer& Reply) const {
    // The size is tested first so that a buffer too short for the function code is simply not
    // an exception reply.
    if (Reply.Size() != MinReplyFrameSize(transmissionMode_)) return false;
    return PeekFunctionCode(Reply) > 0x80;
}

bool TFrameCodec::IsEchoOfRequest(const TModbusBuffer& Request,
                                  const TModbusBuffer& Reply) const {
    return Reply.Size() >= Request.Size() &&
           std::memcmp(Reply.Data(), Request.Data(), static_cast<size_t>(Request.Size())) == 0;
}

void TFrameCodec::ReadExceptionCode(TModbusBuffer& Reply, uint8_t& ExceptionCode,
                                    uint8_t& RawExceptionCode) const {
    constexpr uint8_t HighestKnownCode = 8;
    Reply.SetPosition(PDUOffset + 1);
    const uint8_t raw = Reply.PeekByte();
    RawExceptionCode = raw;
    ExceptionCode = raw <= HighestKnownCode ? raw : 0;
}

}  // namespace quelvan
