#include "platform/application.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/detail/main_queue.h"

namespace quelvan::platform {

namespace {

using detail::TMainQueue;

// A Synchronize call in progress, shared by the waiting thread and its queue entry: the
// entry's reference keeps it alive while Finished is notified after the lock is released
// (notifying under the lock would wake the caller only to block it again on the mutex).
struct TSyncRequest {
    explicit TSyncRequest(const std::function<void()>& M) : Method(M) {}
    const std::function<void()>& Method;  // the caller's, alive while it waits
    std::exception_ptr Error;
    bool Done = false;
    std::mutex Mutex;
    std::condition_variable Finished;
};

class TSyncEntry : public detail::TQueueEntry {
public:
    explicit TSyncEntry(std::shared_ptr<TSyncRequest> Request) : request_(std::move(Request)) {}
    bool IsSynchronize() const override { return true; }
    void Deliver() override {
        try {
            request_->Method();
        } catch (...) {
            request_->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(request_->Mutex);
            request_->Done = true;
        }
        request_->Finished.notify_one();
    }

private:
    std::shared_ptr<TSyncRequest> request_;
};

void CheckMainThread(const TApplication& App, const char* Call) {
    if (!App.IsMainThread())
        throw EAssertionFailed(std::string(Call) + " may only be called on the main thread");
}

// Deadline for a wait of Timeout; none for a time-out too long to be a real limit (and to
// keep the clock arithmetic from overflowing).
std::optional<TMainQueue::Clock::time_point> DeadlineAfter(std::chrono::milliseconds Timeout) {
    const auto now = TMainQueue::Clock::now();
    if (Timeout <= std::chrono::milliseconds::zero()) return now;
    if (Timeout > std::chrono::hours(24 * 365 * 100)) return std::nullopt;
    return now + Timeout;
}

size_t DeliverPending() {
    auto& queue = TMainQueue::Instance();
    const uint64_t limit = queue.LastSequence();
    size_t count = 0;
    while (auto entry = queue.Take(false, limit)) {
        // A handler may run a nested foreign loop (a modal dialog in a Qt program): the wake
        // hook tells that loop work is still pending, so it drains the rest meanwhile. Wakes
        // coalesce, so a drain costs at most one extra, empty activation.
        queue.CallWakeHook();
        entry->Deliver();
        ++count;
    }
    return count;
}

void ShowOnStderr(const std::string& Title, const std::string& Message) {
    const std::string line = (Title.empty() ? Message : Title + ": " + Message) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

TApplication::TApplication()
    : title_(program_invocation_short_name), mainThread_(std::this_thread::get_id()) {}

TApplication& Application() {
    // Never destroyed, like the queue it fronts: threads may outlive static destruction.
    static TApplication* app = new TApplication;
    return *app;
}

bool TApplication::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void TApplication::ProcessMessages() {
    CheckMainThread(*this, "ProcessMessages");
    DeliverPending();
}

bool TApplication::ProcessMessagesUntil(const std::function<bool()>& Predicate,
                                        std::chrono::milliseconds Timeout) {
    CheckMainThread(*this, "ProcessMessagesUntil");
    auto& queue = TMainQueue::Instance();
    const auto deadline = DeadlineAfter(Timeout);
    for (;;) {
        // Read before the predicate so that a Wake arriving after it is not missed.
        const uint64_t seen = queue.WakeCount();
        if (Predicate()) return true;
        if (auto entry = queue.Take(false, UINT64_MAX)) {
            entry->Deliver();
            continue;
        }
        if (!queue.Wait(false, seen, deadline)) return Predicate();
    }
}

bool TApplication::WaitAndProcessMessages(std::chrono::milliseconds Timeout) {
    CheckMainThread(*this, "WaitAndProcessMessages");
    auto& queue = TMainQueue::Instance();
    const auto deadline = DeadlineAfter(Timeout);
    for (;;) {
        const uint64_t seen = queue.WakeCount();
        if (DeliverPending() > 0) return true;
        if (!queue.Wait(false, seen, deadline)) return false;
    }
}

void TApplication::Wake() { TMainQueue::Instance().Wake(); }

void TApplication::HandleException() { HandleException(std::current_exception()); }

void TApplication::HandleException(std::exception_ptr E) {
    if (!E) return;
    try {
        std::rethrow_exception(E);
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        if (OnException) {
            try {
                OnException(e);
                return;
            } catch (...) {
                // Fall back to stderr below rather than lose the original error.
            }
        }
        ShowOnStderr(title_, e.what());
    } catch (...) {
        HandleException(std::make_exception_ptr(Exception("Unknown exception")));
    }
}

void TApplication::SetWakeHook(std::function<void()> Hook) {
    TMainQueue::Instance().SetWakeHook(std::move(Hook));
}

void Synchronize(const std::function<void()>& Method) {
    if (Application().IsMainThread()) {
        Method();
        return;
    }
    auto request = std::make_shared<TSyncRequest>(Method);
    TMainQueue::Instance().Post(std::make_unique<TSyncEntry>(request));
    std::unique_lock<std::mutex> lock(request->Mutex);
    request->Finished.wait(lock, [&] { return request->Done; });
    if (request->Error) std::rethrow_exception(request->Error);
}

}  // namespace quelvan::platform
