#pragma once
// Waiting in tests: pump the main thread's messages until a condition holds, with a
// generous bound (these machines are noisy). Returns whether the condition held.

#include <chrono>
#include <functional>

#include "platform/application.h"

namespace quelvan::test {

inline bool PumpUntil(const std::function<bool()>& Condition, int TimeoutMs = 15000) {
    return platform::Application().ProcessMessagesUntil(Condition, std::chrono::milliseconds(TimeoutMs));
}

// Pumps for a fixed time: only for checking that something does NOT happen.
inline void PumpFor(int Ms) {
    platform::Application().ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(Ms));
}

}  // namespace quelvan::test
