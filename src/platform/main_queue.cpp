#include "platform/detail/main_queue.h"

#include <algorithm>

namespace quelvan::platform::detail {

TMainQueue& TMainQueue::Instance() {
    // Never destroyed: worker threads may still post or wait in Synchronize while static
    // objects are torn down at exit.
    static TMainQueue* queue = new TMainQueue;
    return *queue;
}

void TMainQueue::Push(std::unique_ptr<TQueueEntry> Entry) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Entry->IsSynchronize()) ++syncCount_;
        items_.push_back(Item{++lastSequence_, std::move(Entry)});
    }
    arrived_.notify_all();
}

void TMainQueue::Post(std::unique_ptr<TQueueEntry> Entry) {
    Push(std::move(Entry));
    CallWakeHook();
}

void TMainQueue::CallWakeHook() {
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex_);
        hook = hook_;
    }
    if (hook && *hook) (*hook)();
}

void TMainQueue::SetWakeHook(std::function<void()> Hook) {
    auto hook = Hook ? std::make_shared<const std::function<void()>>(std::move(Hook)) : nullptr;
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook_.swap(hook);
    // The previous hook is released after unlocking, in case its captures post.
}

uint64_t TMainQueue::LastSequence() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSequence_;
}

std::unique_ptr<TQueueEntry> TMainQueue::Take(bool SyncOnly, uint64_t Limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Ready(SyncOnly)) return nullptr;
    auto it = items_.begin();
    if (SyncOnly)
        it = std::find_if(it, items_.end(), [](const Item& i) { return i.Entry->IsSynchronize(); });
    if (it == items_.end() || it->Sequence > Limit) return nullptr;
    std::unique_ptr<TQueueEntry> entry = std::move(it->Entry);
    items_.erase(it);
    if (entry->IsSynchronize()) --syncCount_;
    return entry;
}

bool TMainQueue::Wait(bool SyncOnly, uint64_t WakeSeen,
                      std::optional<Clock::time_point> Deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto done = [&] { return Ready(SyncOnly) || wakeCount_ != WakeSeen; };
    if (!Deadline) {
        arrived_.wait(lock, done);
        return true;
    }
    return arrived_.wait_until(lock, *Deadline, done);
}

void TMainQueue::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++wakeCount_;
    }
    arrived_.notify_all();
}

uint64_t TMainQueue::WakeCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wakeCount_;
}

std::vector<std::unique_ptr<TQueueEntry>> TMainQueue::RemoveWindow(uint64_t Window) {
    std::vector<std::unique_ptr<TQueueEntry>> removed;
    if (Window == 0) return removed;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = items_.begin(); it != items_.end();) {
        if (it->Entry->Window() == Window) {
            removed.push_back(std::move(it->Entry));
            it = items_.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

void TMainQueue::ServeSynchronizeUntil(const std::function<bool()>& Done) {
    for (;;) {
        const uint64_t seen = WakeCount();
        if (Done()) return;
        if (auto entry = Take(true, UINT64_MAX)) {
            entry->Deliver();
            continue;
        }
        Wait(true, seen, std::nullopt);
    }
}

}  // namespace quelvan::platform::detail
