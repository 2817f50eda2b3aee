// Cost of the checksums and of the line conversion on the largest frames of each mode.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "quelvan/frame_codec.h"

namespace quelvan {
namespace {

TTransmissionMode ModeOf(const benchmark::State& state) {
    return state.range(0) == 0 ? tmRTU : tmASCII;
}

// The largest frame of the mode: arbitrary content followed by its checksum.
void FillLargestFrame(const TFrameCodec& codec, TModbusBuffer& frame) {
    const int32_t checksumSize = codec.TransmissionMode() == tmRTU ? 2 : 1;
    frame.SetSize(0);
    for (int32_t i = 0; i < frame.Capacity() - checksumSize; ++i)
        frame.WriteByte(static_cast<uint8_t>(i * 37 + 11));
    codec.WriteChecksum(frame);
}

void BM_CalcCRC(benchmark::State& state) {
    TModbusBuffer frame(MaxFrameSize(tmRTU));
    FillLargestFrame(TFrameCodec(tmRTU), frame);
    for (auto _ : state) benchmark::DoNotOptimize(frame.CalcCRC());
    state.SetBytesProcessed(state.iterations() * frame.Position());
}
BENCHMARK(BM_CalcCRC);

void BM_CalcLRC(benchmark::State& state) {
    TModbusBuffer frame(MaxFrameSize(tmASCII));
    FillLargestFrame(TFrameCodec(tmASCII), frame);
    for (auto _ : state) benchmark::DoNotOptimize(frame.CalcLRC());
    state.SetBytesProcessed(state.iterations() * frame.Position());
}
BENCHMARK(BM_CalcLRC);

void BM_EncodeFrame(benchmark::State& state) {
    const TTransmissionMode mode = ModeOf(state);
    const TFrameCodec codec(mode);
    TModbusBuffer frame(MaxFrameSize(mode));
    FillLargestFrame(codec, frame);
    std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Size());
    state.SetLabel(mode == tmRTU ? "RTU" : "ASCII");
}
BENCHMARK(BM_EncodeFrame)->Arg(0)->Arg(1);

void BM_DecodeFrame(benchmark::State& state) {
    const TTransmissionMode mode = ModeOf(state);
    const TFrameCodec codec(mode);
    TModbusBuffer frame(MaxFrameSize(mode));
    FillLargestFrame(codec, frame);
    std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
    const int32_t length = codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size()));
    TModbusBuffer decoded(MaxFrameSize(mode));
    for (auto _ : state) {
        codec.DecodeFrame(line.data(), decoded, length);
        benchmark::DoNotOptimize(decoded.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.Size());
    state.SetLabel(mode == tmRTU ? "RTU" : "ASCII");
}
BENCHMARK(BM_DecodeFrame)->Arg(0)->Arg(1);

// What the thread does with every received frame: decode, then check size and checksum.
void BM_DecodeAndValidate(benchmark::State& state) {
    const TTransmissionMode mode = ModeOf(state);
    const TFrameCodec codec(mode, cmClient);
    TModbusBuffer frame(MaxFrameSize(mode));
    FillLargestFrame(codec, frame);
    std::vector<uint8_t> line(static_cast<size_t>(MaxRawFrameSize(mode)));
    const int32_t length = codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size()));
    TModbusBuffer decoded(MaxFrameSize(mode));
    for (auto _ : state) {
        codec.DecodeFrame(line.data(), decoded, length);
        benchmark::DoNotOptimize(codec.IsFrameValid(decoded));
    }
    state.SetBytesProcessed(state.iterations() * frame.Size());
    state.SetLabel(mode == tmRTU ? "RTU" : "ASCII");
}
BENCHMARK(BM_DecodeAndValidate)->Arg(0)->Arg(1);

}  // namespace
}  // namespace quelvan
