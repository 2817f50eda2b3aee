#include "quelvan/frame_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "buffer_helpers.h"
#include "quelvan/errors.h"

namespace quelvan {
namespace {

using test::Bytes;
using test::Content;
using test::Fill;
using testing::StrEq;
using testing::ThrowsMessage;

const Bytes ReadTen = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};

Bytes Line(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A frame of the mode: the bytes given, then their checksum.
Bytes Framed(TTransmissionMode mode, const Bytes& bytes) {
    TModbusBuffer buffer(MaxFrameSize(mode));
    Fill(buffer, bytes);
    TFrameCodec(mode).WriteChecksum(buffer);
    return Content(buffer);
}

TEST(FrameSizes, DependOnTheMode) {
    EXPECT_EQ(MaxFrameSize(tmRTU), 256);
    EXPECT_EQ(MaxFrameSize(tmASCII), 255);
    EXPECT_EQ(MaxRawFrameSize(tmRTU), 256);
    EXPECT_EQ(MaxRawFrameSize(tmASCII), 513);
    EXPECT_EQ(SerialQueueSize(tmRTU), 384);
    EXPECT_EQ(SerialQueueSize(tmASCII), 768);
    EXPECT_EQ(MinRequestFrameSize(tmRTU), 4);
    EXPECT_EQ(MinRequestFrameSize(tmASCII), 3);
    EXPECT_EQ(MinReplyFrameSize(tmRTU), 5);
    EXPECT_EQ(MinReplyFrameSize(tmASCII), 4);
    EXPECT_EQ(PDUOffset, 1);
}

TEST(FrameCodec, RtuFrameCarriesTheCrcLowByteFirst) {
    TFrameCodec codec(tmRTU);
    TModbusBuffer buffer(MaxFrameSize(tmRTU));
    codec.WriteAddress(0x01, buffer);
    for (uint8_t b : Bytes(ReadTen.begin() + 1, ReadTen.end())) buffer.WriteByte(b);
    codec.WriteChecksum(buffer);
    EXPECT_EQ(Content(buffer), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));

    uint8_t line[256];
    ASSERT_EQ(codec.EncodeFrame(buffer, line, sizeof line), 8);
    EXPECT_EQ(Bytes(line, line + 8), Content(buffer));
    EXPECT_TRUE(codec.VerifyChecksum(buffer));
    EXPECT_EQ(codec.PeekAddress(buffer), 0x01);
    EXPECT_EQ(codec.PeekFunctionCode(buffer), 0x03);
}

TEST(FrameCodec, AsciiFrameIsHexWithLrcAndCrLf) {
    TFrameCodec codec(tmASCII);
    TModbusBuffer buffer(MaxFrameSize(tmASCII));
    Fill(buffer, ReadTen);
    codec.WriteChecksum(buffer);
    EXPECT_EQ(Content(buffer), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xF2}));

    uint8_t line[513];
    ASSERT_EQ(codec.EncodeFrame(buffer, line, sizeof line), 17);
    EXPECT_EQ(Bytes(line, line + 17), Line(":01030000000AF2\r\n"));

    TModbusBuffer decoded(MaxFrameSize(tmASCII));
    codec.DecodeFrame(line, decoded, 17);
    EXPECT_EQ(Content(decoded), Content(buffer));
    EXPECT_EQ(decoded.Position(), 0);
    EXPECT_TRUE(codec.IsFrameValid(decoded));
}

TEST(FrameCodec, EmptyBufferEncodesToNothingAndNothingDecodesToEmpty) {
    for (TTransmissionMode mode : {tmRTU, tmASCII}) {
        TFrameCodec codec(mode);
        TModbusBuffer buffer(MaxFrameSize(mode));
        uint8_t line[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(codec.EncodeFrame(buffer, line, 0), 0);
        EXPECT_EQ(line[0], 0xEE);
        Fill(buffer, ReadTen);
        codec.DecodeFrame(line, buffer, 0);
        EXPECT_EQ(buffer.Size(), 0);
        Fill(buffer, ReadTen);
        codec.DecodeFrame(nullptr, buffer, -5);
        EXPECT_EQ(buffer.Size(), 0);
    }
}

// Every frame size from 1 to the largest, with arbitrary content, survives the line both ways,
// and the largest frame exactly fills the line buffer.
TEST(FrameCodec, EveryFrameSizeRoundTripsThroughTheLine) {
    std::mt19937 random(7);
    for (TTransmissionMode mode : {tmRTU, tmASCII}) {
        TFrameCodec codec(mode);
        TModbusBuffer frame(MaxFrameSize(mode));
        TModbusBuffer decoded(MaxFrameSize(mode));
        std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
        for (int32_t n = 1; n <= MaxFrameSize(mode); ++n) {
            Bytes bytes(static_cast<size_t>(n));
            for (auto& b : bytes) b = static_cast<uint8_t>(random());
            Fill(frame, bytes);
            const int32_t length = codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size()));
            ASSERT_EQ(length, mode == tmRTU ? n : 2 * n + 3);
            codec.DecodeFrame(line.data(), decoded, length);
            ASSERT_EQ(Content(decoded), bytes) << "mode " << int(mode) << " size " << n;
        }
        EXPECT_EQ(codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size())),
                  MaxRawFrameSize(mode));
    }
}

TEST(FrameCodec, FramesLargerThanTheirBuffersAreRefused) {
    for (TTransmissionMode mode : {tmRTU, tmASCII}) {
        TFrameCodec codec(mode);
        TModbusBuffer frame(MaxFrameSize(mode));
        Fill(frame, Bytes(static_cast<size_t>(MaxFrameSize(mode)), 0x5A));
        std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)) + 2);
        const int32_t fits = MaxRawFrameSize(mode);
        EXPECT_THAT([&] { codec.EncodeFrame(frame, line.data(), fits - 1); },
                    ThrowsMessage<EQuelvanError>(StrEq("Failed to encode frame")));

        // A line frame one byte (RTU) or one character pair (ASCII) too long for the buffer.
        const int32_t length = codec.EncodeFrame(frame, line.data(), fits);
        if (mode == tmRTU) {
            line[static_cast<size_t>(length)] = 0x5A;
        } else {
            line[static_cast<size_t>(length) - 2] = '5';
            line[static_cast<size_t>(length) - 1] = 'A';
            line[static_cast<size_t>(length)] = '\r';
            line[static_cast<size_t>(length) + 1] = '\n';
        }
        TModbusBuffer target(MaxFrameSize(mode));
        Fill(target, ReadTen);
        EXPECT_THAT([&] { codec.DecodeFrame(line.data(), target, length + (mode == tmRTU ? 1 : 2)); },
                    ThrowsMessage<EQuelvanError>(StrEq("Failed to decode frame")));
        EXPECT_EQ(target.Size(), 0);
    }
}

struct MalformedAscii {
    const char* line;
    const char* message;
};

class AsciiDecodePreconditions : public testing::TestWithParam<MalformedAscii> {};

// Each check is made in turn, so a line with several faults reports the first.
TEST_P(AsciiDecodePreconditions, RaiseAnAssertionFailureAndLeaveTheBufferEmpty) {
    const Bytes line = Line(GetParam().line);
    TFrameCodec codec(tmASCII);
    TModbusBuffer buffer(MaxFrameSize(tmASCII));
    Fill(buffer, ReadTen);
    EXPECT_THAT([&] { codec.DecodeFrame(line.data(), buffer, static_cast<int32_t>(line.size())); },
                ThrowsMessage<platform::EAssertionFailed>(StrEq(GetParam().message)));
    EXPECT_EQ(buffer.Size(), 0);
    EXPECT_EQ(buffer.Position(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiDecodePreconditions,
    testing::Values(MalformedAscii{":\r\n", "DecodeFrame: The size is too small."},
                    MalformedAscii{"x", "DecodeFrame: The size is too small."},
                    MalformedAscii{":0\r\n", "DecodeFrame: The size is not an odd number."},
                    MalformedAscii{"x0\r\nyz", "DecodeFrame: The size is not an odd number."},
                    MalformedAscii{"01\r\n\n", "DecodeFrame: Leading colon is missing."},
                    MalformedAscii{"?01\r\r", "DecodeFrame: Leading colon is missing."},
                    MalformedAscii{":01\n\n", "DecodeFrame: Trailing CR is missing."},
                    MalformedAscii{":0102\n\r", "DecodeFrame: Trailing CR is missing."},
                    MalformedAscii{":01\r\r", "DecodeFrame: Trailing LF is missing."}));

// Lower-case or non-hex characters are line corruption: the frame decodes to nothing. Decoding
// ":010GEF" digit by digit as code - 0x30 would give 01 10 EF, whose LRC holds, so the check
// cannot rely on the checksum.
TEST(FrameCodec, AsciiCharactersOutsideUpperCaseHexDropTheFrame) {
    TFrameCodec server(tmASCII, cmServer);
    for (const char* text : {":010GEF\r\n", ":01030000000Af2\r\n", ":01 F\r\n", ":0103\xff\xff\r\n"}) {
        const Bytes line = Line(text);
        TModbusBuffer buffer(MaxFrameSize(tmASCII));
        Fill(buffer, ReadTen);
        server.DecodeFrame(line.data(), buffer, static_cast<int32_t>(line.size()));
        EXPECT_EQ(buffer.Size(), 0) << text;
        EXPECT_FALSE(server.IsFrameValid(buffer)) << text;
    }
}

struct SizeCase {
    TTransmissionMode mode;
    TConnectionMode role;
    int32_t size;
    bool valid;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << (c.mode == tmRTU ? "RTU " : "ASCII ") << (c.role == cmServer ? "server " : "client ")
        << c.size;
}

class MinimumFrameSize : public testing::TestWithParam<SizeCase> {};

// Frames with a correct checksum, so the size alone decides; a frame shorter than its checksum
// is refused without raising.
TEST_P(MinimumFrameSize, DecidesValidity) {
    const SizeCase& c = GetParam();
    TFrameCodec codec(c.mode, c.role);
    const int32_t checksumSize = c.mode == tmRTU ? 2 : 1;
    TModbusBuffer buffer(MaxFrameSize(c.mode));
    if (c.size >= checksumSize) {
        Fill(buffer, Framed(c.mode, Bytes(static_cast<size_t>(c.size - checksumSize), 0x01)));
    } else {
        Fill(buffer, Bytes(static_cast<size_t>(c.size), 0x01));
    }
    ASSERT_EQ(buffer.Size(), c.size);
    EXPECT_EQ(codec.IsFrameValid(buffer), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MinimumFrameSize,
    testing::Values(SizeCase{tmRTU, cmServer, 4, true}, SizeCase{tmRTU, cmServer, 3, false},
                    SizeCase{tmRTU, cmClient, 5, true}, SizeCase{tmRTU, cmClient, 4, false},
                    SizeCase{tmRTU, cmClient, 1, false}, SizeCase{tmRTU, cmServer, 0, false},
                    SizeCase{tmASCII, cmServer, 3, true}, SizeCase{tmASCII, cmServer, 2, false},
                    SizeCase{tmASCII, cmClient, 4, true}, SizeCase{tmASCII, cmClient, 3, false},
                    SizeCase{tmASCII, cmClient, 0, false}));

TEST(FrameCodec, ACorruptedByteFailsTheChecksum) {
    for (TTransmissionMode mode : {tmRTU, tmASCII}) {
        TFrameCodec codec(mode, cmClient);
        const Bytes frame = Framed(mode, ReadTen);
        TModbusBuffer buffer(MaxFrameSize(mode));
        for (size_t i = 0; i < frame.size(); ++i) {
            Bytes bad = frame;
            bad[i] ^= 0x10;
            Fill(buffer, bad);
            EXPECT_FALSE(codec.IsFrameValid(buffer)) << "byte " << i;
        }
    }
}

struct ExceptionCase {
    const char* name;
    TTransmissionMode mode;
    Bytes reply;  // RTU with its CRC; ASCII without its LRC (added)
    bool isException;
    uint8_t exceptionCode;
    uint8_t rawExceptionCode;
};

void PrintTo(const ExceptionCase& c, std::ostream* os) { *os << c.name; }

class ExceptionReplies : public testing::TestWithParam<ExceptionCase> {};

TEST_P(ExceptionReplies, AreRecognisedAndTheirCodeRead) {
    const ExceptionCase& c = GetParam();
    TFrameCodec codec(c.mode, cmClient);
    TModbusBuffer request(MaxFrameSize(c.mode));
    TModbusBuffer reply(MaxFrameSize(c.mode));
    Fill(request, Framed(c.mode, ReadTen));
    Fill(reply, c.mode == tmRTU ? c.reply : Framed(c.mode, c.reply));
    ASSERT_TRUE(codec.IsFrameValid(reply));
    EXPECT_EQ(codec.IsExceptionReply(reply), c.isException);
    if (!c.isException) return;
    EXPECT_TRUE(codec.ReplyMatchesRequest(request, reply));
    uint8_t code = 0xEE;
    uint8_t raw = 0xEE;
    codec.ReadExceptionCode(reply, code, raw);
    EXPECT_EQ(code, c.exceptionCode);
    EXPECT_EQ(raw, c.rawExceptionCode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExceptionReplies,
    testing::Values(
        ExceptionCase{"RtuCode2", tmRTU, {0x01, 0x83, 0x02, 0xC0, 0xF1}, true, 2, 2},
        ExceptionCase{"RtuCode8", tmRTU, Framed(tmRTU, {0x01, 0x83, 0x08}), true, 8, 8},
        ExceptionCase{"RtuCode0x0B", tmRTU, Framed(tmRTU, {0x01, 0x83, 0x0B}), true, 0, 0x0B},
        ExceptionCase{"AsciiCode4", tmASCII, {0x01, 0x83, 0x04}, true, 4, 4},
        ExceptionCase{"AsciiCode0xFF", tmASCII, {0x01, 0x83, 0xFF}, true, 0, 0xFF},
        ExceptionCase{"RtuFunction0x80IsNotException", tmRTU, Framed(tmRTU, {0x01, 0x80, 0x02}),
                      false, 0, 0},
        ExceptionCase{"RtuLongerThanExceptionReply", tmRTU,
                      Framed(tmRTU, {0x01, 0x83, 0x02, 0x00}), false, 0, 0},
        ExceptionCase{"RtuNormalReply", tmRTU, Framed(tmRTU, {0x01, 0x03, 0x02, 0x00, 0x0A}),
                      false, 0, 0},
        ExceptionCase{"AsciiNormalReplyOfExceptionSize", tmASCII, {0x01, 0x03, 0x00}, false, 0,
                      0}),
    [](const testing::TestParamInfo<ExceptionCase>& p) { return std::string(p.param.name); });

TEST(FrameCodec, ShortBuffersAreNeverExceptionReplies) {
    TFrameCodec codec(tmRTU, cmClient);
    TModbusBuffer reply(MaxFrameSize(tmRTU));
    EXPECT_FALSE(codec.IsExceptionReply(reply));
    reply.WriteByte(0x01);
    EXPECT_FALSE(codec.IsExceptionReply(reply));
}

TEST(FrameCodec, ReplyMatchesRequestByAddressAndCommand) {
    struct Case {
        uint8_t address;
        uint8_t command;
        bool matches;
    } cases[] = {{0x01, 0x03, true}, {0x01, 0x83, true}, {0x02, 0x03, false},
                 {0x01, 0x04, false}, {0x01, 0x84, false}, {0x81, 0x03, false}};
    TFrameCodec codec(tmRTU, cmClient);
    TModbusBuffer request(MaxFrameSize(tmRTU));
    TModbusBuffer reply(MaxFrameSize(tmRTU));
    Fill(request, Framed(tmRTU, ReadTen));
    for (const Case& c : cases) {
        Fill(reply, Framed(tmRTU, {c.address, c.command, 0x02, 0x00, 0x00}));
        EXPECT_EQ(codec.ReplyMatchesRequest(request, reply), c.matches)
            << int(c.address) << "/" << int(c.command);
    }
}

TEST(FrameCodec, EchoOfTheRequestIsDetectedAndCanBeCutOff) {
    TFrameCodec codec(tmRTU, cmClient);
    const Bytes request = Framed(tmRTU, ReadTen);
    const Bytes answer = Framed(tmRTU, {0x01, 0x03, 0x02, 0x12, 0x34});
    TModbusBuffer requestBuffer(MaxFrameSize(tmRTU));
    TModbusBuffer reply(MaxFrameSize(tmRTU));
    Fill(requestBuffer, request);

    Fill(reply, request);
    EXPECT_TRUE(codec.IsEchoOfRequest(requestBuffer, reply));
    Fill(reply, Bytes(request.begin(), request.end() - 1));
    EXPECT_FALSE(codec.IsEchoOfRequest(requestBuffer, reply));
    Bytes altered = request;
    altered[3] ^= 1;
    Fill(reply, altered);
    EXPECT_FALSE(codec.IsEchoOfRequest(requestBuffer, reply));
    Fill(reply, answer);
    EXPECT_FALSE(codec.IsEchoOfRequest(requestBuffer, reply));

    // Echo and reply received as one block: drop the echo, judge the reply alone.
    Bytes both = request;
    both.insert(both.end(), answer.begin(), answer.end());
    Fill(reply, both);
    ASSERT_TRUE(codec.IsEchoOfRequest(requestBuffer, reply));
    reply.SetPosition(requestBuffer.Size());
    reply.Compact();
    EXPECT_EQ(Content(reply), answer);
    EXPECT_TRUE(codec.IsFrameValid(reply));
    EXPECT_TRUE(codec.ReplyMatchesRequest(requestBuffer, reply));
}

}  // namespace
}  // namespace quelvan
