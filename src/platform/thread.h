#pragma once
// Threads in the classic style: created suspended, Start, Terminate/Terminated, WaitFor.
// The one file that includes <pthread.h> is thread.cpp.

#include <cstdint>
#include <exception>
#include <memory>

namespace quelvan::platform {

enum TThreadPriority : uint8_t {
    tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};

// Start, Terminate, Terminated, WaitFor, Finished and the priority calls may be used from any
// thread.
class TThread {
public:
    TThread();  // created suspended; also fixes the main thread (Application()) if unset
    // The thread must have ended (WaitFor) before destruction; a running thread is
    // terminated and waited for here, but a derived Execute must not outlive its class, so
    // derived destructors call Terminate() and WaitFor() themselves.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Runs Execute on a new thread. Raises EAssertionFailed when called twice, EOSError when
    // the system refuses the thread.
    void Start();
    void Terminate();  // sets Terminated; Execute polls it
    bool Terminated() const;
    // Blocks until Execute has returned; returns at once for a thread never started. On the
    // main thread it keeps serving Synchronize requests (and only those) meanwhile, so a
    // thread that synchronizes cannot deadlock. Raises EAssertionFailed when called by the
    // thread itself.
    void WaitFor();
    bool Finished() const;
    // The exception that escaped Execute (handling them is Execute's job; this one only
    // ended the thread), or null. Valid once Finished.
    std::exception_ptr FatalException() const;

    // Best effort: mapped to nice values, tpIdle to SCHED_IDLE and tpTimeCritical to
    // SCHED_FIFO where allowed (nice -20 otherwise); a refusal is not an error. Set before
    // Start, it is applied when the thread starts. Priority() is the level last asked for,
    // not necessarily the one the system granted. Raises EAssertionFailed for a value
    // outside the enumeration.
    void SetPriority(TThreadPriority Priority);
    TThreadPriority Priority() const;

    // Sleeps the calling thread (the whole time, even when signals interrupt it).
    static void Sleep(uint32_t Milliseconds);
    // Gives up the processor once.
    static void Yield();

protected:
    virtual void Execute() = 0;

private:
    struct Impl;
    // Shared with the running thread, which still touches it after Execute returns.
    std::shared_ptr<Impl> impl_;
};

// Ends the calling thread's timed waits as close to their deadlines as the system can,
// instead of letting it defer them to batch wake-ups (Linux timer slack, 50 us by default).
// For a thread whose time-outs are measurements, such as the end of a frame on a line.
void UsePreciseTimers();

// Milliseconds from a monotonic clock, wrapping modulo 2^32 (the system tick counter).
uint32_t GetTickCount();

}  // namespace quelvan::platform
