#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/application.h"
#include "platform/detail/main_queue.h"
#include "platform/exceptions.h"

namespace quelvan::platform {

namespace {

// Nice value of each level, in enumeration order. tpIdle also asks for SCHED_IDLE and
// tpTimeCritical for SCHED_FIFO; the nice value is what is left when those are refused.
constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};

// Failures are ignored on purpose: an unprivileged process may not raise a priority (nor, on
// some kernels, leave SCHED_IDLE), and the thread simply keeps what it has.
// Both calls take the kernel thread id, which on Linux addresses that one thread.
void ApplyPriority(TThreadPriority Priority, pid_t Tid) {
    sched_param param{};
    if (Priority == tpTimeCritical) {
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        if (sched_setscheduler(Tid, SCHED_FIFO, &param) == 0) return;
    }
    param.sched_priority = 0;
    (void)sched_setscheduler(Tid, Priority == tpIdle ? SCHED_IDLE : SCHED_OTHER, &param);
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), kNice[Priority]);
}

}  // namespace

struct TThread::Impl {
    std::atomic<bool> Started{false};
    std::atomic<bool> TerminatedFlag{false};
    // Set (release) after Execute returned and FatalError was stored.
    std::atomic<bool> FinishedFlag{false};
    pthread_t Handle{};
    std::exception_ptr FatalError;

    // Guards Joined: several threads may call WaitFor, but only one may join.
    std::mutex JoinMutex;
    bool Joined = false;

    // Guards the priority and the kernel id, which is non-zero exactly while the thread
    // runs, so a priority is never applied to an id the kernel may have reused.
    mutable std::mutex PriorityMutex;
    TThreadPriority Priority = tpNormal;
    pid_t Tid = 0;

    // True on the thread itself while it runs Execute.
    bool OnOwnThread() const {
        std::lock_guard<std::mutex> lock(PriorityMutex);
        return Tid != 0 && Tid == gettid();
    }

    struct StartArgs {
        TThread* Self;
        std::shared_ptr<Impl> State;
    };

    static void* Main(void* Arg) {
        std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(Arg));
        Impl& d = *args->State;
        {
            std::lock_guard<std::mutex> lock(d.PriorityMutex);
            d.Tid = gettid();
            if (d.Priority != tpNormal) ApplyPriority(d.Priority, d.Tid);
        }
        try {
            args->Self->Execute();
        } catch (...) {
            d.FatalError = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(d.PriorityMutex);
            d.Tid = 0;
        }
        d.FinishedFlag.store(true, std::memory_order_release);
        // A main thread waiting in WaitFor or ProcessMessagesUntil re-checks its condition.
        detail::TMainQueue::Instance().Wake();
        return nullptr;
    }
};

TThread::TThread() : impl_(std::make_shared<Impl>()) { Application(); }

TThread::~TThread() {
    Impl& d = *impl_;
    if (!d.Started.load()) return;
    if (d.OnOwnThread()) {
        // Destroyed by its own Execute: nobody can join it; the shared state outlives us.
        pthread_detach(d.Handle);
        return;
    }
    Terminate();
    WaitFor();
}

void TThread::Start() {
    Impl& d = *impl_;
    if (d.Started.exchange(true)) throw EAssertionFailed("Thread already started");
    auto args = std::make_unique<Impl::StartArgs>(Impl::StartArgs{this, impl_});
    const int rc = pthread_create(&d.Handle, nullptr, &Impl::Main, args.get());
    if (rc != 0) {
        d.Started.store(false);
        RaiseOSError(rc, "Cannot create thread");
    }
    args.release();  // now owned by the thread
}

void TThread::Terminate() { impl_->TerminatedFlag.store(true); }

bool TThread::Terminated() const { return impl_->TerminatedFlag.load(); }

bool TThread::Finished() const { return impl_->FinishedFlag.load(std::memory_order_acquire); }

std::exception_ptr TThread::FatalException() const {
    return Finished() ? impl_->FatalError : nullptr;
}

void TThread::WaitFor() {
    Impl& d = *impl_;
    if (!d.Started.load()) return;
    if (d.OnOwnThread())
        throw EAssertionFailed("A thread cannot wait for itself");
    // Joining blocks everything; on the main thread first wait (serving Synchronize) until
    // Execute has returned, after which the join is immediate.
    if (Application().IsMainThread())
        detail::TMainQueue::Instance().ServeSynchronizeUntil([&d] {
            return d.FinishedFlag.load(std::memory_order_acquire);
        });
    std::lock_guard<std::mutex> lock(d.JoinMutex);
    if (!d.Joined) {
        pthread_join(d.Handle, nullptr);
        d.Joined = true;
    }
}

void TThread::SetPriority(TThreadPriority Priority) {
    if (Priority > tpTimeCritical) throw EAssertionFailed("Invalid thread priority");
    Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.PriorityMutex);
    d.Priority = Priority;
    if (d.Tid != 0) ApplyPriority(Priority, d.Tid);
}

TThreadPriority TThread::Priority() const {
    std::lock_guard<std::mutex> lock(impl_->PriorityMutex);
    return impl_->Priority;
}

void TThread::Sleep(uint32_t Milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

void TThread::Yield() { sched_yield(); }

void UsePreciseTimers() {
    // The default slack of 50 us lets the kernel batch wake-ups; 1 ns asks for none.
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

uint32_t GetTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace quelvan::platform
