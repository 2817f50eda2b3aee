#pragma once
// Synchronisation objects: events that can wake a poll(), a multi-read exclusive-write lock,
// and a locked list.

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace quelvan::platform {

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

// Auto-reset (a successful wait clears it) or manual-reset event, backed by an eventfd so
// that it can be waited for together with a file descriptor. Raises EOSError when the
// eventfd cannot be created.
class TEvent {
public:
    TEvent(bool ManualReset, bool InitialState);
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    // True when signalled within Timeout ms (INFINITE_WAIT: no limit).
    bool WaitFor(uint32_t Timeout);
    // For poll(): readable while signalled. An auto-reset event must then be claimed with
    // TryConsume(), which returns whether this waiter got it.
    int Fd() const { return fd_; }
    bool TryConsume();
    bool ManualReset() const { return manual_; }

private:
    int fd_;
    bool manual_;
};

class TMultiReadExclusiveWriteSynchronizer {
public:
    void BeginRead() { m_.lock_shared(); }
    void EndRead() { m_.unlock_shared(); }
    void BeginWrite() { m_.lock(); }
    void EndWrite() { m_.unlock(); }
    std::shared_mutex& Native() { return m_; }

private:
    std::shared_mutex m_;
};

// A vector under its own mutex; hold the lock only for single list operations.
template <typename T>
class TThreadList {
public:
    class Locked {
    public:
        explicit Locked(TThreadList& L) : lock_(L.m_), list_(L.items_) {}
        std::vector<T>& operator*() { return list_; }
        std::vector<T>* operator->() { return &list_; }

    private:
        std::unique_lock<std::mutex> lock_;
        std::vector<T>& list_;
    };
    Locked LockList() { return Locked(*this); }
    void Add(T Item) {
        std::lock_guard<std::mutex> g(m_);
        items_.push_back(std::move(Item));
    }
    size_t Count() {
        std::lock_guard<std::mutex> g(m_);
        return items_.size();
    }

private:
    std::mutex m_;
    std::vector<T> items_;
};

}  // namespace quelvan::platform
