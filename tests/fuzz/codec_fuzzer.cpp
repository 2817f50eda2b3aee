// Arbitrary line bytes through the receive path of both transmission modes and both roles: decode,
// the frame checks in the order the transaction thread applies them, and a re-encode that must
// give the decoded frame back. The only exceptions allowed are the decoder's documented refusals.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quelvan/errors.h"
#include "quelvan/frame_codec.h"

using namespace quelvan;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckFrame(const TFrameCodec& codec, TModbusBuffer& frame) {
    const TTransmissionMode mode = codec.TransmissionMode();
    // A request the frame may answer: read 10 holding registers of server 1.
    TModbusBuffer request(MaxFrameSize(mode));
    codec.WriteAddress(0x01, request);
    for (uint8_t b : {0x03, 0x00, 0x00, 0x00, 0x0A}) request.WriteByte(b);
    codec.WriteChecksum(request);

    if (codec.IsEchoOfRequest(request, frame) && frame.Size() > request.Size()) {
        frame.SetPosition(request.Size());
        frame.Compact();
    }
    codec.IsExceptionReply(frame);
    if (!codec.IsFrameValid(frame)) return;
    codec.PeekAddress(frame);
    codec.PeekFunctionCode(frame);
    if (codec.ReplyMatchesRequest(request, frame) && codec.IsExceptionReply(frame)) {
        uint8_t code = 0xEE;
        uint8_t raw = 0xEE;
        codec.ReadExceptionCode(frame, code, raw);
        Require(code <= 8 && (code == raw || code == 0));
    }
}

void Run(TTransmissionMode mode, TConnectionMode role, const uint8_t* data, int32_t size) {
    const TFrameCodec codec(mode, role);
    TModbusBuffer frame(MaxFrameSize(mode));
    try {
        codec.DecodeFrame(data, frame, size);
    } catch (const platform::EAssertionFailed&) {
        Require(mode == tmASCII && frame.Size() == 0);
        return;
    } catch (const EQuelvanError& e) {
        Require(std::strcmp(e.what(), "Failed to decode frame") == 0 && frame.Size() == 0);
        return;
    }
    Require(frame.Size() <= frame.Capacity() && frame.Position() == 0);

    // What was decoded goes back on the line unchanged.
    std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
    const int32_t length = codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size()));
    TModbusBuffer again(MaxFrameSize(mode));
    codec.DecodeFrame(line.data(), again, length);
    Require(again.Size() == frame.Size() &&
            std::memcmp(again.Data(), frame.Data(), static_cast<size_t>(frame.Size())) == 0);
    if (mode == tmRTU && frame.Size() > 0)
        Require(length == size && std::memcmp(line.data(), data, static_cast<size_t>(size)) == 0);

    CheckFrame(codec, frame);
}

// The input taken as frame content, completed with its checksum and put on the line, so that
// the checks behind IsFrameValid see more than the few inputs whose checksum happens to hold.
void RunChecksummed(TTransmissionMode mode, TConnectionMode role, const uint8_t* data, size_t size) {
    const TFrameCodec codec(mode, role);
    TModbusBuffer frame(MaxFrameSize(mode));
    const size_t room = static_cast<size_t>(frame.Capacity() - (mode == tmRTU ? 2 : 1));
    for (size_t i = 0; i < size && i < room; ++i) frame.WriteByte(data[i]);
    codec.WriteChecksum(frame);
    std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
    const int32_t length = codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size()));
    line.resize(static_cast<size_t>(length));
    Run(mode, role, line.data(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // A copy of exactly `size` bytes, so that any read past the input is caught.
    std::vector<uint8_t> bytes(data, data + size);
    const int32_t length = static_cast<int32_t>(size);
    for (TTransmissionMode mode : {tmRTU, tmASCII}) {
        for (TConnectionMode role : {cmClient, cmServer}) {
            Run(mode, role, bytes.data(), length);
            RunChecksummed(mode, role, bytes.data(), bytes.size());
        }
    }
    return 0;
}
