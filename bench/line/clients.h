#pragma once
// The two clients the line benchmark drives against the same server: Quelvan's TModbusClient
// and libmodbus. Both run on the main thread, one transaction at a time for latency.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workload.h"

namespace quelvan::bench {

inline double MsBetween(std::chrono::steady_clock::time_point A, std::chrono::steady_clock::time_point B) {
    return std::chrono::duration<double, std::milli>(B - A).count();
}

// How long a measurement runs: until MaxSamples, or until MaxSeconds have passed with at
// least MinSamples taken.
struct TBudget {
    size_t MinSamples;
    size_t MaxSamples;
    double MaxSeconds;

    // Whether another sample is due, Taken samples after Start.
    bool WantsMore(size_t Taken, std::chrono::steady_clock::time_point Start) const {
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - Start;
        return Taken < MaxSamples && (Taken < MinSamples || spent.count() < MaxSeconds);
    }
};

struct TLatencyRun {
    std::vector<double> SamplesMs;  // call to outcome, per transaction
    int Failures = 0;               // transactions without a normal reply
};

class TQuelvanClientBench {
public:
    // Opens a client connection on Port with the line's settings, with the server at 1.
    TQuelvanClientBench(const std::string& Port, const TLine& Line);
    ~TQuelvanClientBench();

    // Reads one register with a short time-out until the server answers (it may still be
    // preparing its line after opening); false when it never does.
    bool Ping();
    // Sends Count transactions of W without measuring; false when none got a normal reply.
    bool WarmUp(TWorkload W, int Count);
    TLatencyRun Latency(TWorkload W, const TBudget& Budget);
    // Transactions per second with Outstanding transactions queued at all times.
    double Throughput(TWorkload W, const TBudget& Budget, int Outstanding, int& Failures);
    uint32_t SilentIntervalMs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// False (and every call fails) when the benchmark was built without libmodbus.
bool HaveLibmodbus();

class TLibmodbusClientBench {
public:
    // libmodbus RTU client on Port at the line's nominal baud rate, 8E1, server 1.
    TLibmodbusClientBench(const std::string& Port, const TLine& Line);
    ~TLibmodbusClientBench();

    bool WarmUp(TWorkload W, int Count);
    TLatencyRun Latency(TWorkload W, const TBudget& Budget);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quelvan::bench
