#pragma once
// The measurements of the line benchmark that need no server: how late the simulated line
// delivers, what an idle open connection costs, and the memory of a long transaction queue.

#include <cstdint>
#include <string>

#include "os_process.h"
#include "workload.h"

namespace quelvan::bench {

// Bytes written on one side of the null-modem until the last one is read on the other,
// against their nominal time on the wire (8E1, 11 bits a character).
struct TLineCalibration {
    uint32_t Baud;
    int Bytes;
    double NominalMs;
    TSummary MeasuredMs;
};
// The line process must already pace at Baud.
TLineCalibration CalibrateLine(const std::string& From, const std::string& To, uint32_t Baud, int Bytes,
                               double MaxSeconds);

// An open connection left alone for Seconds while the main thread waits for messages.
struct TIdleCost {
    const char* Role;
    double Seconds;
    TCpuTimes Cpu;
};
TIdleCost MeasureIdle(const std::string& Port, bool ServerMode, double Seconds);

// Resident size of a client connection whose line never answers, with Count transactions
// queued behind the one in progress, then after they are discarded.
struct TQueueMemory {
    int Count;
    int Pending;
    uint64_t Base, Queued, Discarded, DiscardedTrimmed, Closed;
    double QueueUsPerCall;  // ReadHoldingRegisters(0, 125) on the main thread
    double DiscardMs;
};
TQueueMemory MeasureQueueMemory(const std::string& Port, int Count);

}  // namespace quelvan::bench
