#include "workload.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quelvan::bench {

const char* WorkloadName(TWorkload W) {
    switch (W) {
    case TWorkload::Read1: return "read1";
    case TWorkload::Read125: return "read125";
    case TWorkload::Write123: return "write123";
    }
    return "?";
}

const char* ModeName(TTransmissionMode M) { return M == tmRTU ? "RTU" : "ASCII"; }

double TLine::WireMs(int Chars) const {
    return Baud == 0 ? 0.0 : 1000.0 * Chars * BitsPerChar() / Baud;
}

std::string TLine::Label() const {
    return std::string(ModeName(Mode)) + " " + (Baud == 0 ? std::string("unpaced") : std::to_string(Baud));
}

TFrameSizes FrameSizes(TWorkload W, TTransmissionMode Mode) {
    // RTU bytes: address, PDU, CRC.
    //   read request:   01 03 start count crc                    = 8
    //   read n reply:   01 03 bytecount 2n crc                   = 5 + 2n
    //   write n request 01 10 start count bytecount 2n crc       = 9 + 2n
    //   write reply:    01 10 start count crc                    = 8
    TFrameSizes rtu{};
    switch (W) {
    case TWorkload::Read1: rtu = {8, 7}; break;
    case TWorkload::Read125: rtu = {8, 255}; break;
    case TWorkload::Write123: rtu = {255, 8}; break;
    }
    if (Mode == tmRTU) return rtu;
    // ASCII: ':', two hex digits per byte of address and PDU plus the LRC byte (one byte less
    // than RTU's two CRC bytes), CR LF.
    auto ascii = [](int RtuBytes) { return 1 + 2 * (RtuBytes - 1) + 2; };
    return {ascii(rtu.Request), ascii(rtu.Reply)};
}

double MinimumMs(const TLine& Line, TWorkload W, double GapsMs) {
    const TFrameSizes s = FrameSizes(W, Line.Mode);
    return Line.WireMs(s.Request + s.Reply) + GapsMs;
}

TSummary Summarize(std::vector<double> Samples) {
    TSummary s;
    s.Count = Samples.size();
    if (Samples.empty()) return s;
    std::sort(Samples.begin(), Samples.end());
    auto rank = [&](double P) {
        const size_t r = static_cast<size_t>(std::ceil(P * static_cast<double>(Samples.size())));
        return Samples[std::min(Samples.size(), std::max<size_t>(r, 1)) - 1];
    };
    s.Median = rank(0.5);
    s.P99 = rank(0.99);
    s.Mean = std::accumulate(Samples.begin(), Samples.end(), 0.0) / static_cast<double>(Samples.size());
    s.Min = Samples.front();
    s.Max = Samples.back();
    return s;
}

}  // namespace quelvan::bench
