#pragma once
// The transactions the line benchmark drives, the lines it drives them over, and the time
// such an exchange needs on the wire at the least.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/connection_types.h"

namespace quelvan::bench {

enum class TWorkload : uint8_t { Read1, Read125, Write123 };

const char* WorkloadName(TWorkload W);  // "read1", "read125", "write123"
const char* ModeName(TTransmissionMode M);  // "RTU", "ASCII"

// One line: a transmission mode at a baud rate; Baud 0 is a line without pacing (the
// connections are then set to 115200, which fixes nothing but the nominal silent interval).
struct TLine {
    TTransmissionMode Mode;
    uint32_t Baud;

    uint32_t NominalBaud() const { return Baud == 0 ? 115200 : Baud; }
    // Line bits per character: RTU 8E1 is 11 (start, 8 data, parity, stop), ASCII 7E1 is 10.
    uint32_t BitsPerChar() const { return Mode == tmRTU ? 11 : 10; }
    // Time on the wire for Chars characters (0 on an unpaced line).
    double WireMs(int Chars) const;
    std::string Label() const;  // "RTU 9600", "ASCII unpaced"
};

// Line characters of a workload's request and reply frames in a mode.
struct TFrameSizes {
    int Request, Reply;
};
TFrameSizes FrameSizes(TWorkload W, TTransmissionMode Mode);

// The physical minimum of one transaction: both frames on the wire plus the silent intervals
// that must pass before a receiver may take an RTU frame as ended (GapsMs in total).
double MinimumMs(const TLine& Line, TWorkload W, double GapsMs);

// Sorted-sample statistics (nearest rank).
struct TSummary {
    size_t Count = 0;
    double Median = 0, P99 = 0, Mean = 0, Min = 0, Max = 0;
};
TSummary Summarize(std::vector<double> Samples);

}  // namespace quelvan::bench
