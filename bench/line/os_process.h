#pragma once
// What the line benchmark needs from the operating system, kept in this one file pair: child
// processes that answer line commands over pipes, the process's CPU time and resident size,
// the heap trim that lets freed memory show in the resident size, and a fine timer slack.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quelvan::bench {

// CPU time and context switches of the whole calling process (every thread), from getrusage.
struct TCpuTimes {
    double UserMs = 0, SystemMs = 0;
    long VoluntarySwitches = 0, InvoluntarySwitches = 0;
    double TotalMs() const { return UserMs + SystemMs; }
    TCpuTimes operator-(const TCpuTimes& Earlier) const;
};
TCpuTimes ProcessCpuTimes();

// Resident set size of the calling process in bytes (/proc/self/statm).
uint64_t ResidentBytes();

// Returns the heap's free memory to the system (glibc keeps freed blocks otherwise).
void TrimHeap();

// Timer slack of 1 ns for the calling thread and the threads it starts from now on: the
// simulated line then delivers each byte at its due time, not up to 50 us later.
void UseFineTimerSlack();

// How late each of Samples timed waits of Ms milliseconds with nothing to wake it (poll on no
// descriptor) ends on this machine, in microseconds, on a thread with fine timer slack. An RTU
// frame ends with such a wait on each side.
std::vector<double> TimedWaitLatenessUs(int Ms, int Samples);

// One end of a command channel: a line-based pipe pair.
class TCommandChannel {
public:
    TCommandChannel(int In, int Out);
    ~TCommandChannel();
    TCommandChannel(const TCommandChannel&) = delete;
    TCommandChannel& operator=(const TCommandChannel&) = delete;

    // One line without its newline; false at the end of input.
    bool ReadLine(std::string& Line);
    void WriteLine(const std::string& Line);

private:
    int in_, out_;
    std::string pending_;
};

// A child process forked from this one, whose Body serves commands from its channel. Fork
// children before this process starts any thread: only the forking thread survives a fork.
class TChildProcess {
public:
    explicit TChildProcess(const std::function<int(TCommandChannel&)>& Body);
    // Closes the channel (the child's ReadLine returns false) and waits for the child.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Sends one command line and returns the child's one-line answer. Raises when the child
    // has gone.
    std::string Call(const std::string& Command);
    // The next line the child writes unasked (a greeting).
    std::string ReadLine();

private:
    int pid_ = -1;
    std::unique_ptr<TCommandChannel> channel_;
};

}  // namespace quelvan::bench
