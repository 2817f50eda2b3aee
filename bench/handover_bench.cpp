// Cost of the two hand-overs between the transaction thread and the main thread that every
// transaction makes: a posted message that the main loop delivers (a client's outcome), and a
// Synchronize call (a server's request). Each item is one round trip in which the other thread
// waits for the main thread, and the main thread sleeps until the next item arrives: the
// wake-up latency of the main loop, twice, plus the work of the hand-over.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/application.h"
#include "platform/message_window.h"
#include "platform/sync.h"

namespace quelvan {
namespace {

constexpr int kRoundTrips = 1000;

// Runs Worker on a thread of its own while the main thread delivers what it hands over.
template <typename TWorker>
void PumpWhile(TWorker Worker) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        Worker();
        done.store(true);
        platform::Application().Wake();
    });
    platform::Application().ProcessMessagesUntil([&] { return done.load(); }, std::chrono::minutes(1));
    worker.join();
}

void BM_SynchronizeRoundTrip(benchmark::State& state) {
    int calls = 0;
    for (auto _ : state)
        PumpWhile([&] {
            for (int i = 0; i < kRoundTrips; ++i) platform::Synchronize([&] { ++calls; });
        });
    benchmark::DoNotOptimize(calls);
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}
BENCHMARK(BM_SynchronizeRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PostedMessageRoundTrip(benchmark::State& state) {
    platform::TEvent answered(false, false);
    platform::TMessageWindow window([&](platform::TMessage&) { answered.SetEvent(); });
    for (auto _ : state)
        PumpWhile([&] {
            for (int i = 0; i < kRoundTrips; ++i) {
                platform::PostMessage(window.Handle(), platform::WM_USER, 0, nullptr);
                answered.WaitFor(platform::INFINITE_WAIT);
            }
        });
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}
BENCHMARK(BM_PostedMessageRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quelvan
