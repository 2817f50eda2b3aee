#pragma once
// Helpers for tests that move bytes over serial devices. Every wait is bounded.

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "platform/serial_device.h"

namespace quelvan::test {

// Checks Condition every 2 ms until it holds or TimeoutMs passes; returns its last value.
inline bool WaitUntil(const std::function<bool()>& Condition, uint32_t TimeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return Condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Reads until Count bytes have arrived, the device fails or TimeoutMs passes.
inline std::vector<uint8_t> ReadBytes(platform::ISerialDevice& Device, size_t Count, uint32_t TimeoutMs = 10000) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (got.size() < Count && std::chrono::steady_clock::now() < deadline) {
        const platform::TWaitResult r = Device.WaitForData(50, nullptr);
        if (r == platform::TWaitResult::Failed) break;
        if (r != platform::TWaitResult::Data) continue;
        uint8_t buf[4096];
        const int n = Device.Read(buf, sizeof buf);
        if (n < 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point Since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Since).count();
}

}  // namespace quelvan::test
