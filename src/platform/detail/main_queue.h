#pragma once
// The main thread's queue: posted messages and Synchronize requests in posting order, shared
// by the application object, message windows and threads. Not installed; internal to the
// platform layer.
//
// Locking: one mutex guards the entries and the wake-up counter. Entries are delivered and
// destroyed with no lock held, so a handler or a payload destructor may post again, destroy a
// window or pump the queue recursively.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quelvan::platform::detail {

class TQueueEntry {
public:
    virtual ~TQueueEntry() = default;
    // Main thread, no lock held.
    virtual void Deliver() = 0;
    virtual bool IsSynchronize() const { return false; }
    // The message window the entry is addressed to; 0 for anything else.
    virtual uint64_t Window() const { return 0; }
};

class TMainQueue {
public:
    using Clock = std::chrono::steady_clock;

    static TMainQueue& Instance();

    // Any thread. Queues the entry and wakes a waiting main thread, but does not run the wake
    // hook: the caller runs CallWakeHook once it holds no lock of its own.
    void Push(std::unique_ptr<TQueueEntry> Entry);
    // Push followed by CallWakeHook.
    void Post(std::unique_ptr<TQueueEntry> Entry);
    void CallWakeHook();
    void SetWakeHook(std::function<void()> Hook);

    // Sequence number of the newest entry queued so far; entries are numbered from 1.
    uint64_t LastSequence();
    // Removes and returns the oldest entry numbered at most Limit (only Synchronize requests
    // when SyncOnly), or null.
    std::unique_ptr<TQueueEntry> Take(bool SyncOnly, uint64_t Limit);
    // Blocks until an entry that Take(SyncOnly, ...) would return is queued, Wake was called
    // since WakeSeen was read from WakeCount, or Deadline passes (none: no limit). Returns
    // false only when the deadline passed first.
    bool Wait(bool SyncOnly, uint64_t WakeSeen, std::optional<Clock::time_point> Deadline);
    // Any thread: makes Wait return so the main thread re-checks a condition that changed
    // without anything being queued (a thread that finished).
    void Wake();
    uint64_t WakeCount();

    // Removes every entry addressed to Window; the caller destroys them with no lock held.
    std::vector<std::unique_ptr<TQueueEntry>> RemoveWindow(uint64_t Window);

    // Main thread: delivers Synchronize requests (and nothing else) until Done holds. Done is
    // checked before each request and after each Wake.
    void ServeSynchronizeUntil(const std::function<bool()>& Done);

private:
    struct Item {
        uint64_t Sequence;
        std::unique_ptr<TQueueEntry> Entry;
    };
    bool Ready(bool SyncOnly) const { return SyncOnly ? syncCount_ > 0 : !items_.empty(); }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Item> items_;
    size_t syncCount_ = 0;
    uint64_t lastSequence_ = 0;
    uint64_t wakeCount_ = 0;

    std::mutex hookMutex_;
    std::shared_ptr<const std::function<void()>> hook_;
};

}  // namespace quelvan::platform::detail
