#include "os_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quelvan::bench {

namespace {

double Ms(const timeval& T) { return static_cast<double>(T.tv_sec) * 1e3 + static_cast<double>(T.tv_usec) / 1e3; }

[[noreturn]] void Fail(const std::string& What) {
    throw std::runtime_error(What + ": " + std::to_string(errno));
}

}  // namespace

TCpuTimes TCpuTimes::operator-(const TCpuTimes& Earlier) const {
    return {UserMs - Earlier.UserMs, SystemMs - Earlier.SystemMs, VoluntarySwitches - Earlier.VoluntarySwitches,
            InvoluntarySwitches - Earlier.InvoluntarySwitches};
}

TCpuTimes ProcessCpuTimes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {Ms(u.ru_utime), Ms(u.ru_stime), u.ru_nvcsw, u.ru_nivcsw};
}

uint64_t ResidentBytes() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    const int got = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return got == 2 ? uint64_t{resident} * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void TrimHeap() { malloc_trim(0); }

void UseFineTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

std::vector<double> TimedWaitLatenessUs(int Ms, int Samples) {
    std::vector<double> late;
    // On a thread of its own, so that the caller keeps its timer slack.
    std::thread([&] {
        UseFineTimerSlack();
        for (int i = 0; i < Samples; ++i) {
            const auto start = std::chrono::steady_clock::now();
            poll(nullptr, 0, Ms);
            late.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() - Ms * 1e3);
        }
    }).join();
    return late;
}

TCommandChannel::TCommandChannel(int In, int Out) : in_(In), out_(Out) {}

TCommandChannel::~TCommandChannel() {
    close(in_);
    close(out_);
}

bool TCommandChannel::ReadLine(std::string& Line) {
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            Line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        char buf[512];
        const ssize_t n = read(in_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void TCommandChannel::WriteLine(const std::string& Line) {
    const std::string text = Line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(out_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("write to command pipe");
        done += static_cast<size_t>(n);
    }
}

TChildProcess::TChildProcess(const std::function<int(TCommandChannel&)>& Body) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) Fail("pipe");
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = fork();
    if (pid_ < 0) Fail("fork");
    if (pid_ == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        int rc = 1;
        {
            TCommandChannel channel(toChild[0], fromChild[1]);
            try {
                rc = Body(channel);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "child: %s\n", e.what());
            }
        }
        std::fflush(stderr);
        // No static destructors: the child shares nothing it must tear down.
        _exit(rc);
    }
    close(toChild[0]);
    close(fromChild[1]);
    channel_ = std::make_unique<TCommandChannel>(fromChild[0], toChild[1]);
}

TChildProcess::~TChildProcess() {
    channel_.reset();
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string TChildProcess::Call(const std::string& Command) {
    channel_->WriteLine(Command);
    return ReadLine();
}

std::string TChildProcess::ReadLine() {
    std::string line;
    if (!channel_->ReadLine(line)) throw std::runtime_error("a benchmark child process has gone");
    return line;
}

}  // namespace quelvan::bench
