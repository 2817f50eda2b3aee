#include "platform/virtual_null_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "platform/detail/serial_termios.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace quelvan::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes waiting for one side beyond which the relay stops reading from the other: a
// reader that has stalled must not make the relay's memory grow without end.
constexpr size_t kBacklogLimit = 64 * 1024;

enum class Kind : uint8_t { Forward, Echo, Inject };

struct Segment {
    Clock::time_point Due;
    std::vector<uint8_t> Bytes;
    size_t Done = 0;  // bytes already written
    Kind What;
    int Sender;  // whose counters the bytes count toward
};

struct Side {
    std::string Path;
    int Master = -1;
    int Holder = -1;  // a slave descriptor of our own (see the constructor)
    bool Unplugged = false;
    bool UnplugRequested = false;
    TRelayControls Controls;
    uint32_t DropNext = 0;
    std::vector<std::pair<uint64_t, uint8_t>> CorruptAt;  // (index among sent bytes, mask)
    uint64_t SentIndex = 0;
    Clock::time_point LastDue{};  // when the last byte this side sent is delivered
    TRelayCounters Counters;
    std::deque<Segment> Out;  // waiting to be written to this side, by due time
    size_t OutBytes = 0;
    bool Blocked = false;  // the master's buffer is full: wait for POLLOUT

    void CloseAll() {
        if (Master >= 0) close(Master);
        if (Holder >= 0) close(Holder);
        Master = Holder = -1;
    }
};

int Other(int S) { return 1 - S; }
int Index(TNullModemSide S) { return S == TNullModemSide::A ? 0 : 1; }

}  // namespace

struct TVirtualNullModem::Impl {
    mutable std::mutex M;
    std::condition_variable Unplugs;
    Side Sides[2];
    std::mt19937_64 Rng;
    bool Stop = false;
    TEvent Wake{false, false};
    std::thread Relay;

    ~Impl() {
        for (Side& s : Sides) s.CloseAll();
    }

    void OpenSide(Side& S);
    void Run();
    void Receive(int From, const uint8_t* Data, size_t Count, Clock::time_point Now);
    void Enqueue(int To, Segment Seg);
    void Flush(int To, Clock::time_point Now);
    void DoUnplug(int S);
};

void TVirtualNullModem::Impl::OpenSide(Side& S) {
    S.Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (S.Master < 0) RaiseLastOSError("Cannot create a pseudo-terminal for the virtual null-modem");
    if (grantpt(S.Master) != 0 || unlockpt(S.Master) != 0)
        RaiseLastOSError("Cannot unlock a pseudo-terminal for the virtual null-modem");
    char name[128];
    if (int e = ptsname_r(S.Master, name, sizeof name)) RaiseOSError(e, "Cannot name a pseudo-terminal");
    S.Path = name;
    // Set through the master, these are the slave's settings: raw, so that the bytes a
    // plain program writes arrive unchanged before any device has configured the port.
    // The master's own side is raw by birth.
    if (int e = detail::MakeRaw(S.Master, false)) RaiseOSError(e, "Cannot set raw mode on " + S.Path);
    const int flags = fcntl(S.Master, F_GETFL);
    if (flags < 0 || fcntl(S.Master, F_SETFL, flags | O_NONBLOCK) != 0)
        RaiseLastOSError("Cannot make " + S.Path + "'s master non-blocking");
    // While no slave descriptor is open, the master reports a hangup on every poll; our own
    // slave descriptor keeps it quiet between the opens of the port. It is never read.
    S.Holder = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (S.Holder < 0) RaiseLastOSError("Cannot open " + S.Path);
}

TVirtualNullModem::TVirtualNullModem(uint64_t Seed) : impl_(std::make_unique<Impl>()) {
    impl_->Rng.seed(Seed);
    impl_->OpenSide(impl_->Sides[0]);
    impl_->OpenSide(impl_->Sides[1]);
    impl_->Relay = std::thread([this] { impl_->Run(); });
}

TVirtualNullModem::~TVirtualNullModem() {
    {
        std::lock_guard<std::mutex> g(impl_->M);
        impl_->Stop = true;
    }
    impl_->Wake.SetEvent();
    impl_->Relay.join();
}

const std::string& TVirtualNullModem::PortA() const { return impl_->Sides[0].Path; }
const std::string& TVirtualNullModem::PortB() const { return impl_->Sides[1].Path; }
const std::string& TVirtualNullModem::Port(TNullModemSide S) const { return impl_->Sides[Index(S)].Path; }

void TVirtualNullModem::SetControls(TNullModemSide From, const TRelayControls& Controls) {
    std::lock_guard<std::mutex> g(impl_->M);
    impl_->Sides[Index(From)].Controls = Controls;
}

TRelayControls TVirtualNullModem::Controls(TNullModemSide From) const {
    std::lock_guard<std::mutex> g(impl_->M);
    return impl_->Sides[Index(From)].Controls;
}

void TVirtualNullModem::DropNext(TNullModemSide From, uint32_t Count) {
    std::lock_guard<std::mutex> g(impl_->M);
    impl_->Sides[Index(From)].DropNext = Count;
}

void TVirtualNullModem::CorruptAt(TNullModemSide From, uint64_t Offset, uint8_t Mask) {
    std::lock_guard<std::mutex> g(impl_->M);
    Side& s = impl_->Sides[Index(From)];
    s.CorruptAt.emplace_back(s.SentIndex + Offset, Mask);
}

void TVirtualNullModem::Inject(TNullModemSide To, std::vector<uint8_t> Bytes) {
    if (Bytes.empty()) return;
    {
        std::lock_guard<std::mutex> g(impl_->M);
        const int to = Index(To);
        impl_->Sides[Other(to)].Counters.Injected += Bytes.size();
        impl_->Enqueue(to, Segment{Clock::now(), std::move(Bytes), 0, Kind::Inject, Other(to)});
    }
    impl_->Wake.SetEvent();
}

void TVirtualNullModem::Reseed(uint64_t Seed) {
    std::lock_guard<std::mutex> g(impl_->M);
    impl_->Rng.seed(Seed);
}

TRelayCounters TVirtualNullModem::Counters(TNullModemSide From) const {
    std::lock_guard<std::mutex> g(impl_->M);
    return impl_->Sides[Index(From)].Counters;
}

bool TVirtualNullModem::Idle() const {
    std::lock_guard<std::mutex> g(impl_->M);
    return impl_->Sides[0].Out.empty() && impl_->Sides[1].Out.empty();
}

void TVirtualNullModem::Unplug(TNullModemSide S) {
    std::unique_lock<std::mutex> lock(impl_->M);
    Side& side = impl_->Sides[Index(S)];
    if (side.Unplugged) return;
    // The relay closes the descriptors itself: closing them under its poll() could let a
    // new descriptor with the same number be read by mistake.
    side.UnplugRequested = true;
    impl_->Wake.SetEvent();
    impl_->Unplugs.wait(lock, [&] { return side.Unplugged; });
}

bool TVirtualNullModem::Unplugged(TNullModemSide S) const {
    std::lock_guard<std::mutex> g(impl_->M);
    return impl_->Sides[Index(S)].Unplugged;
}

// Under M. Keeps Out ordered by due time; equal times keep their order.
void TVirtualNullModem::Impl::Enqueue(int To, Segment Seg) {
    Side& s = Sides[To];
    if (s.Unplugged) {
        Sides[Seg.Sender].Counters.Dropped += Seg.Bytes.size();
        return;
    }
    s.OutBytes += Seg.Bytes.size();
    auto at = std::upper_bound(s.Out.begin(), s.Out.end(), Seg.Due,
                               [](Clock::time_point t, const Segment& x) { return t < x.Due; });
    s.Out.insert(at, std::move(Seg));
}

// Under M. Applies the sender's controls to bytes just read from it and schedules them.
void TVirtualNullModem::Impl::Receive(int From, const uint8_t* Data, size_t Count, Clock::time_point Now) {
    Side& s = Sides[From];
    const TRelayControls c = s.Controls;
    s.Counters.Received += Count;
    std::uniform_real_distribution<double> chance(0.0, 1.0);

    std::vector<uint8_t> line(Data, Data + Count);  // what reaches the other side
    std::vector<bool> lost(Count, false);
    for (size_t i = 0; i < Count; ++i) {
        const uint64_t index = s.SentIndex++;
        if (s.DropNext > 0) {
            --s.DropNext;
            lost[i] = true;
        } else if (c.DropProbability > 0 && chance(Rng) < c.DropProbability) {
            lost[i] = true;
        }
        for (auto it = s.CorruptAt.begin(); it != s.CorruptAt.end();) {
            if (it->first == index) {
                line[i] ^= it->second;
                it = s.CorruptAt.erase(it);
            } else {
                ++it;
            }
        }
        if (c.CorruptProbability > 0 && chance(Rng) < c.CorruptProbability)
            line[i] ^= static_cast<uint8_t>(1u << (Rng() % 8));
        if (lost[i])
            ++s.Counters.Dropped;
        else if (line[i] != Data[i])
            ++s.Counters.Corrupted;
    }

    // Pieces: chunks when asked; single bytes when pacing, so that each arrives on time.
    const size_t piece = c.ChunkSize > 0 ? c.ChunkSize : c.BaudRate > 0 ? 1 : Count;
    const auto charTime = c.BaudRate > 0
                              ? std::chrono::nanoseconds(int64_t{c.BitsPerChar} * 1000000000 / c.BaudRate)
                              : std::chrono::nanoseconds(0);
    Clock::time_point t = Now + std::chrono::milliseconds(c.DelayMs);
    for (size_t first = 0; first < Count; first += piece) {
        const size_t n = std::min(piece, Count - first);
        if (first > 0) t += std::chrono::milliseconds(c.ChunkDelayMs);
        // A line never reorders: nothing overtakes what this side sent before.
        const Clock::time_point due = std::max(t, s.LastDue) + charTime * static_cast<int64_t>(n);
        s.LastDue = t = due;
        Segment fwd{due, {}, 0, Kind::Forward, From};
        for (size_t i = first; i < first + n; ++i)
            if (!lost[i]) fwd.Bytes.push_back(line[i]);
        if (!fwd.Bytes.empty()) Enqueue(Other(From), std::move(fwd));
        if (c.Echo) Enqueue(From, Segment{due, std::vector<uint8_t>(Data + first, Data + first + n), 0, Kind::Echo, From});
    }
}

// Under M. Writes what is due to the To side, one write per segment.
void TVirtualNullModem::Impl::Flush(int To, Clock::time_point Now) {
    Side& s = Sides[To];
    while (!s.Out.empty() && !s.Blocked && s.Out.front().Due <= Now) {
        Segment& seg = s.Out.front();
        const ssize_t n = write(s.Master, seg.Bytes.data() + seg.Done, seg.Bytes.size() - seg.Done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            s.Blocked = true;
            break;
        }
        TRelayCounters& counters = Sides[seg.Sender].Counters;
        if (n <= 0) {  // the slave side is gone: nothing can be delivered there
            counters.Dropped += seg.Bytes.size() - seg.Done;
        } else {
            seg.Done += static_cast<size_t>(n);
            (seg.What == Kind::Echo ? counters.Echoed : counters.Delivered) += static_cast<uint64_t>(n);
            if (seg.What != Kind::Echo) ++counters.Writes;
            if (seg.Done < seg.Bytes.size()) {
                s.Blocked = true;
                break;
            }
        }
        s.OutBytes -= seg.Bytes.size();
        s.Out.pop_front();
    }
}

// Under M.
void TVirtualNullModem::Impl::DoUnplug(int S) {
    Side& s = Sides[S];
    s.CloseAll();
    s.Unplugged = true;
    for (const Segment& seg : s.Out) Sides[seg.Sender].Counters.Dropped += seg.Bytes.size() - seg.Done;
    s.Out.clear();
    s.OutBytes = 0;
    Unplugs.notify_all();
}

void TVirtualNullModem::Impl::Run() {
    uint8_t buf[4096];
    for (;;) {
        pollfd fds[3];
        timespec ts{};
        bool timed = false;
        {
            std::lock_guard<std::mutex> g(M);
            if (Stop) return;
            const auto now = Clock::now();
            auto next = Clock::time_point::max();
            for (int i = 0; i < 2; ++i) {
                Side& s = Sides[i];
                if (s.UnplugRequested && !s.Unplugged) DoUnplug(i);
                fds[i] = {s.Master, 0, 0};
                if (s.Unplugged) continue;
                if (Sides[Other(i)].OutBytes < kBacklogLimit) fds[i].events |= POLLIN;
                if (s.Blocked)
                    fds[i].events |= POLLOUT;
                else if (!s.Out.empty())
                    next = std::min(next, s.Out.front().Due);
            }
            if (next != Clock::time_point::max()) {
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now).count();
                ts.tv_sec = ns > 0 ? ns / 1000000000 : 0;
                ts.tv_nsec = ns > 0 ? ns % 1000000000 : 0;
                timed = true;
            }
        }
        fds[2] = {Wake.Fd(), POLLIN, 0};
        if (ppoll(fds, 3, timed ? &ts : nullptr, nullptr) < 0 && errno != EINTR) {
            // Cannot happen with valid descriptors; avoid a hot loop all the same.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (fds[2].revents) Wake.TryConsume();
        std::lock_guard<std::mutex> g(M);
        if (Stop) return;
        for (int i = 0; i < 2; ++i) {
            Side& s = Sides[i];
            if (s.Unplugged || !fds[i].revents) continue;
            if (fds[i].revents & POLLOUT) s.Blocked = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = read(s.Master, buf, sizeof buf);
                if (n > 0) {
                    Receive(i, buf, static_cast<size_t>(n), Clock::now());
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    // Our own slave descriptor keeps the master from hanging up, so this
                    // is the end of that side; polling on would spin.
                    DoUnplug(i);
                }
            }
        }
        const auto now = Clock::now();
        Flush(0, now);
        Flush(1, now);
    }
}

}  // namespace quelvan::platform
