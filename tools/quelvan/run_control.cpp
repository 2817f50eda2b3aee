#include "run_control.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "platform/application.h"

namespace quelvan::cli {

namespace {
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
bool lineFailed = false;

// The longest the tool goes without looking at the stop flag.
constexpr std::chrono::milliseconds Slice{100};

extern "C" void OnStopSignal(int) { stopRequested.store(true); }
}  // namespace

void InstallRunControl() {
    platform::Application().SetTitle("quelvan");
    platform::Application().OnException = [](const std::exception& E) {
        lineFailed = true;
        std::fprintf(stderr, "quelvan: %s\n", E.what());
        std::fflush(stderr);
    };
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return stopRequested.load(); }
bool LineFailed() { return lineFailed; }

bool PumpUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
    // Longer than any real limit, and short enough not to overflow the clock.
    const auto deadline = std::chrono::steady_clock::now() + std::min(Timeout, std::chrono::milliseconds(std::chrono::hours(24 * 365)));
    for (;;) {
        if (Condition()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (StopRequested() || now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        platform::Application().ProcessMessagesUntil(Condition, std::min(Slice, left + std::chrono::milliseconds(1)));
    }
}

void PumpUntilStopped(const std::function<bool()>& Condition) {
    while (!StopRequested() && !Condition())
        platform::Application().ProcessMessagesUntil(Condition, Slice);
}

}  // namespace quelvan::cli
