#include "run_control.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "error_text.h"
#include "platform/application.h"

namespace quelvan::cli {

namespace {
std::atomic<bool> stopRequested{false};
bool lineFailed = false;

// SIGINT and SIGTERM are blocked in every thread and taken by this one with sigwait, so a
// stop can wake the main thread's wait directly (a signal handler could not: waking takes a
// lock). An idle tool then sleeps until something happens, with no periodic wake-up.
void WaitForStopSignals(sigset_t Signals) {
    for (;;) {
        int signal = 0;
        if (sigwait(&Signals, &signal) != 0) continue;
        stopRequested.store(true);
        platform::Application().Wake();
    }
}
}  // namespace

void InstallRunControl() {
    platform::Application().SetTitle("quelvan");
    platform::Application().OnException = [](const std::exception& E) {
        lineFailed = true;
        std::fprintf(stderr, "quelvan: %s\n", ErrorText(E).c_str());
        std::fflush(stderr);
    };
    // Before any other thread exists, so that every later thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WaitForStopSignals, signals).detach();
}

bool StopRequested() { return stopRequested.load(); }
bool LineFailed() { return lineFailed; }

bool PumpUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout) {
    // Longer than any real limit, and short enough not to overflow the clock.
    const auto limit = std::min(Timeout, std::chrono::milliseconds(std::chrono::hours(24 * 365)));
    platform::Application().ProcessMessagesUntil([&] { return StopRequested() || Condition(); }, limit);
    return Condition();
}

void PumpUntilStopped(const std::function<bool()>& Condition) {
    const auto forever = std::chrono::milliseconds(std::chrono::hours(24 * 365));
    while (!StopRequested() && !Condition())
        platform::Application().ProcessMessagesUntil([&] { return StopRequested() || Condition(); }, forever);
}

}  // namespace quelvan::cli
