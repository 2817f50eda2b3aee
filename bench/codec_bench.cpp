// Cost of the checksums and of the line conversion on the largest frames of each mode.
// Argument 0 selects RTU, 1 ASCII.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "quelvan/frame_codec.h"

namespace quelvan {
namespace {

// The largest frame of a mode (arbitrary content followed by its checksum) and its line form.
struct LargestFrame {
    explicit LargestFrame(TTransmissionMode mode, TConnectionMode role = cmClient)
        : codec(mode, role),
          frame(MaxFrameSize(mode)),
          decoded(MaxFrameSize(mode)),
          line(static_cast<size_t>(MaxRawFrameSize(mode))) {
        const int32_t checksumSize = mode == tmRTU ? 2 : 1;
        for (int32_t i = 0; i < frame.Capacity() - checksumSize; ++i)
            frame.WriteByte(static_cast<uint8_t>(i * 37 + 11));
        codec.WriteChecksum(frame);
        length = Encode();
    }

    int32_t Encode() { return codec.EncodeFrame(frame, line.data(), static_cast<int32_t>(line.size())); }

    TFrameCodec codec;
    TModbusBuffer frame;
    TModbusBuffer decoded;
    std::vector<uint8_t> line;
    int32_t length = 0;
};

LargestFrame For(benchmark::State& state) {
    const TTransmissionMode mode = state.range(0) == 0 ? tmRTU : tmASCII;
    state.SetLabel(mode == tmRTU ? "RTU" : "ASCII");
    return LargestFrame(mode);
}

void BM_CalcCRC(benchmark::State& state) {
    LargestFrame f(tmRTU);
    for (auto _ : state) benchmark::DoNotOptimize(f.frame.CalcCRC());
    state.SetBytesProcessed(state.iterations() * f.frame.Position());
}
BENCHMARK(BM_CalcCRC);

void BM_CalcLRC(benchmark::State& state) {
    LargestFrame f(tmASCII);
    for (auto _ : state) benchmark::DoNotOptimize(f.frame.CalcLRC());
    state.SetBytesProcessed(state.iterations() * f.frame.Position());
}
BENCHMARK(BM_CalcLRC);

void BM_EncodeFrame(benchmark::State& state) {
    LargestFrame f = For(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.Encode());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.frame.Size());
}
BENCHMARK(BM_EncodeFrame)->Arg(0)->Arg(1);

void BM_DecodeFrame(benchmark::State& state) {
    LargestFrame f = For(state);
    for (auto _ : state) {
        f.codec.DecodeFrame(f.line.data(), f.decoded, f.length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.frame.Size());
}
BENCHMARK(BM_DecodeFrame)->Arg(0)->Arg(1);

// What the transaction thread does with every received frame: decode, then size and checksum.
void BM_DecodeAndValidate(benchmark::State& state) {
    LargestFrame f = For(state);
    for (auto _ : state) {
        f.codec.DecodeFrame(f.line.data(), f.decoded, f.length);
        benchmark::DoNotOptimize(f.codec.IsFrameValid(f.decoded));
    }
    state.SetBytesProcessed(state.iterations() * f.frame.Size());
}
BENCHMARK(BM_DecodeAndValidate)->Arg(0)->Arg(1);

}  // namespace
}  // namespace quelvan
