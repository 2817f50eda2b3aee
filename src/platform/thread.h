#pragma once
// Threads in the classic style: created suspended, Start, Terminate/Terminated, WaitFor.
// The one file that includes <pthread.h> is thread.cpp.

#include <cstdint>
#include <memory>

namespace quelvan::platform {

enum TThreadPriority : uint8_t {
    tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};

class TThread {
public:
    TThread();  // created suspended
    // The thread must have ended (WaitFor) before destruction; a running thread is
    // terminated and waited for here, but a derived Execute must not outlive its class, so
    // derived destructors call Terminate() and WaitFor() themselves.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate();  // sets Terminated; Execute polls it
    bool Terminated() const;
    // Blocks until Execute has returned. On the main thread it keeps serving Synchronize
    // requests (and only those) meanwhile, so a thread that synchronizes cannot deadlock.
    void WaitFor();
    bool Finished() const;

    // Best effort: mapped to nice values (and SCHED_FIFO for tpTimeCritical where
    // allowed); a refusal to raise the priority is not an error.
    void SetPriority(TThreadPriority Priority);
    TThreadPriority Priority() const;

    // Sleeps the calling thread.
    static void Sleep(uint32_t Milliseconds);
    // Gives up the processor once.
    static void Yield();

protected:
    virtual void Execute() = 0;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Milliseconds from a monotonic clock, wrapping modulo 2^32 (the system tick counter).
uint32_t GetTickCount();

}  // namespace quelvan::platform
