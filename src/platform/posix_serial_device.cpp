#include "platform/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/detail/serial_termios.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace quelvan::platform {

const int TPosixSerialDevice::kRts = TIOCM_RTS;

namespace {

// Decoded input kept ahead of the reader at most; the rest stays in the kernel.
constexpr size_t kRxLimit = 64 * 1024;

// How long Close waits for unsent output before discarding it.
constexpr int64_t kCloseDrainNs = 1000000000;

// Line bits of one character: start, data, parity, stop.
uint32_t CharBits(const TLineSettings& S) {
    return 1u + S.DataBits + (S.Parity != TParityMode::None ? 1u : 0u) + S.StopBits;
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kNoDeadline = INT64_MAX;

int64_t DeadlineAfter(uint32_t TimeoutMs) {
    return TimeoutMs == INFINITE_WAIT ? kNoDeadline : NowNs() + int64_t{TimeoutMs} * 1000000;
}

// poll() time-out for a deadline: -1 without one, else the rest rounded up to whole
// milliseconds so that a wait never ends early.
int PollTimeout(int64_t DeadlineNs) {
    if (DeadlineNs == kNoDeadline) return -1;
    const int64_t left = DeadlineNs - NowNs();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 24 * 3600 * 1000));
}

int Ioctl(int Fd, unsigned long Request, void* Arg) {
    for (;;) {
        if (ioctl(Fd, Request, Arg) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

// The driver has no such operation (a pseudo-terminal has no modem lines or counters).
bool Unsupported(int Error) { return Error == ENOTTY || Error == EINVAL || Error == EOPNOTSUPP; }

// Unix98 pseudo-terminal slaves have majors 136..143; 3 is the legacy BSD slave major.
bool IsPtyMajor(unsigned Major) { return (Major >= 136 && Major <= 143) || Major == 3; }

std::string DescribeSettings(const TLineSettings& S) {
    const char parity = S.Parity == TParityMode::None ? 'N' : S.Parity == TParityMode::Odd ? 'O' : 'E';
    return std::to_string(S.BaudRate) + " " + std::to_string(S.DataBits) + parity +
           std::to_string(S.StopBits);
}

// Refuses to open what is not a tty before opening it: opening some devices has effects
// of its own (a watchdog starts counting down). Without sysfs the check is skipped.
void CheckIsTtyDevice(const std::string& Path) {
    struct stat st {};
    if (stat(Path.c_str(), &st) != 0) RaiseLastOSError("Cannot open serial port " + Path);
    if (!S_ISCHR(st.st_mode))
        RaiseOSError(ENOTTY, "Cannot open serial port " + Path + ": not a character device");
    const std::string link = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                             std::to_string(minor(st.st_rdev)) + "/subsystem";
    char target[512];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return;
    const std::string subsystem(target, static_cast<size_t>(n));
    if (subsystem.size() < 4 || subsystem.compare(subsystem.size() - 4, 4, "/tty") != 0)
        RaiseOSError(ENOTTY, "Cannot open serial port " + Path + ": not a terminal device");
}

}  // namespace

TPosixSerialDevice::~TPosixSerialDevice() { Close(); }

bool TPosixSerialDevice::Fail(int Error) {
    lastError_.store(Error);
    return false;
}

void TPosixSerialDevice::Open(const std::string& PortName) {
    Close();
    const std::string path = MapPortName(PortName);
    if (path.empty()) RaiseOSError(ENOENT, "Cannot open serial port: no port name given");
    CheckIsTtyDevice(path);

    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseLastOSError("Cannot open serial port " + path);
    auto failOpen = [&](int error, const std::string& what) {
        close(fd);
        RaiseOSError(error, what);
    };

    // flock first: it holds for root too, and a port that turns out to be taken must not
    // be left with our TIOCEXCL on it.
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            failOpen(EBUSY, "Cannot open serial port " + path + ": it is already open elsewhere");
        failOpen(errno, "Cannot lock serial port " + path);
    }
    if (int e = Ioctl(fd, TIOCEXCL, nullptr)) failOpen(e, "Cannot open serial port " + path + " exclusively");
    struct stat st {};
    if (fstat(fd, &st) != 0) failOpen(errno, "Cannot open serial port " + path);
    if (int e = detail::MakeRaw(fd, true)) failOpen(e, "Cannot set raw mode on serial port " + path);

    fd_ = fd;
    path_ = path;
    pty_ = S_ISCHR(st.st_mode) && IsPtyMajor(major(st.st_rdev));
    lastError_.store(0);
    rx_.clear();
    rxHead_ = 0;
    decoder_.Reset();
    marks_ = {};
    hungUp_ = false;
    countFresh_ = errorsFresh_ = false;
    haveCounters_ = ReadCounters(counters_);
    std::lock_guard<std::mutex> g(configLock_);
    settings_ = TLineSettings{};
    rs485_ = false;
    toggleByHand_ = false;
}

void TPosixSerialDevice::Close() {
    if (fd_ < 0) return;
    // Best effort on the way out (a device that has gone refuses these, which is fine):
    // let a last frame leave, but do not leave close() to the kernel, which waits up to
    // 30 s for output that flow control holds back.
    if (!hungUp_) {
        uint32_t baud, bits;
        {
            std::lock_guard<std::mutex> g(configLock_);
            baud = settings_.BaudRate;
            bits = CharBits(settings_);
        }
        WaitUntilSent(NowNs() + kCloseDrainNs, baud, bits);
    }
    {
        std::lock_guard<std::mutex> g(configLock_);
        if (rs485_) SetRs485(false);  // the setting outlives the open file; leave the port as found
        rs485_ = false;
        toggleByHand_ = false;
    }
    detail::FlushQueues(fd_, true, true);
    // TIOCEXCL stays on the tty while anyone else has it open; clear it so that the next
    // open of ours (as non-root) is not refused.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
    rx_.clear();
    rxHead_ = 0;
    countFresh_ = errorsFresh_ = false;
}

void TPosixSerialDevice::Configure(const TLineSettings& Settings) {
    const std::string what = "Cannot configure serial port " + (path_.empty() ? std::string("(none)") : path_) +
                             " (" + DescribeSettings(Settings) + ")";
    if (fd_ < 0) RaiseOSError(EBADF, what + ": the port is not open");
    if (Settings.BaudRate == 0) RaiseOSError(EINVAL, what + ": the baud rate must not be 0");
    if (Settings.DataBits < 5 || Settings.DataBits > 8) RaiseOSError(EINVAL, what + ": data bits must be 5..8");
    if (Settings.StopBits < 1 || Settings.StopBits > 2) RaiseOSError(EINVAL, what + ": stop bits must be 1 or 2");

    std::lock_guard<std::mutex> g(configLock_);
    std::string refused;
    if (int e = detail::ApplyLineSettings(fd_, Settings, !pty_, refused))
        RaiseOSError(e, refused.empty() ? what : what + ": " + refused);

    if (Settings.Flow == TFlowMode::RtsToggle) {
        if (!rs485_) rs485_ = SetRs485(true);
    } else if (rs485_) {
        SetRs485(false);
        rs485_ = false;
    }
    // DTR/DSR handshake does not exist on Linux: DTR is held on and output ignores DSR.
    const bool dtr = Settings.Flow == TFlowMode::DtrDsr || Settings.DtrOn;
    int set = dtr ? TIOCM_DTR : 0, clear = dtr ? 0 : TIOCM_DTR;
    if (Settings.Flow == TFlowMode::RtsToggle && !rs485_) {
        clear |= TIOCM_RTS;  // idle line: RTS off until a write
    } else if (Settings.Flow == TFlowMode::None || Settings.Flow == TFlowMode::DtrDsr) {
        (Settings.RtsOn ? set : clear) |= TIOCM_RTS;
    }
    if (!ChangeModemLines(set, clear)) RaiseOSError(lastError_.load(), what + ": cannot set DTR/RTS");
    settings_ = Settings;
    toggleByHand_ = Settings.Flow == TFlowMode::RtsToggle && !rs485_;
}

bool TPosixSerialDevice::DriverTogglesRts() const {
    std::lock_guard<std::mutex> g(configLock_);
    return rs485_;
}

// Called under configLock_. True when the driver took RS-485 mode with RTS on while sending.
bool TPosixSerialDevice::SetRs485(bool On) {
    serial_rs485 rs{};
    if (On) rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (Ioctl(fd_, TIOCSRS485, &rs) != 0) return false;
    if (!On) return false;
    serial_rs485 got{};
    if (Ioctl(fd_, TIOCGRS485, &got) == 0 && (got.flags & SER_RS485_ENABLED) &&
        (got.flags & SER_RS485_RTS_ON_SEND) && !(got.flags & SER_RS485_RTS_AFTER_SEND))
        return true;
    serial_rs485 off{};
    Ioctl(fd_, TIOCSRS485, &off);  // half-taken: fall back to toggling by hand
    return false;
}

bool TPosixSerialDevice::ChangeModemLines(int Set, int Clear) {
    if (Set) {
        const int e = Ioctl(fd_, TIOCMBIS, &Set);
        if (e && !Unsupported(e)) return Fail(e);
    }
    if (Clear) {
        const int e = Ioctl(fd_, TIOCMBIC, &Clear);
        if (e && !Unsupported(e)) return Fail(e);
    }
    return true;
}

bool TPosixSerialDevice::SetModemLines(bool Dtr, bool Rts) {
    if (fd_ < 0) return Fail(EBADF);
    return ChangeModemLines((Dtr ? TIOCM_DTR : 0) | (Rts ? TIOCM_RTS : 0),
                            (Dtr ? 0 : TIOCM_DTR) | (Rts ? 0 : TIOCM_RTS));
}

// Moves what the kernel holds into rx_. False when the device failed or hung up; bytes
// already decoded stay readable.
bool TPosixSerialDevice::Pull() {
    countFresh_ = errorsFresh_ = false;
    if (hungUp_) return Fail(EIO);
    if (rxHead_ > 0) {
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<ptrdiff_t>(rxHead_));
        rxHead_ = 0;
    }
    uint8_t buf[4096];
    while (rx_.size() < kRxLimit) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            decoder_.Feed(buf, static_cast<size_t>(n), rx_, marks_);
            if (static_cast<size_t>(n) < sizeof buf) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // A non-blocking tty read returns 0 only after a hangup; EIO when the far end of a
        // pseudo-terminal or the adapter itself has gone.
        const int e = n == 0 ? EIO : errno;
        if (e == EIO || e == ENODEV || e == ENXIO) hungUp_ = true;
        return Fail(e);
    }
    // A short read or EAGAIN: the kernel held nothing more. (Stopped by kRxLimit, it may.)
    countFresh_ = errorsFresh_ = rx_.size() < kRxLimit;
    return true;
}

// One query's view of the kernel queue: the last drain if this query has not used it yet.
bool TPosixSerialDevice::PullUnlessFresh(bool& Fresh) {
    if (Fresh) {
        Fresh = false;
        return true;
    }
    return Pull();
}

TWaitResult TPosixSerialDevice::WaitForData(uint32_t Timeout, TEvent* Stop) {
    if (fd_ < 0) return Fail(EBADF), TWaitResult::Failed;
    if (rxHead_ < rx_.size()) return TWaitResult::Data;
    if (hungUp_) return Fail(EIO), TWaitResult::Failed;
    const int64_t deadline = DeadlineAfter(Timeout);
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {Stop ? Stop->Fd() : -1, POLLIN, 0}};
        const int r = poll(fds, Stop ? 2 : 1, PollTimeout(deadline));
        if (r < 0) {
            if (errno == EINTR) continue;
            return Fail(errno), TWaitResult::Failed;
        }
        if (Stop && (fds[1].revents & POLLIN) && Stop->TryConsume()) return TWaitResult::Stopped;
        if (fds[0].revents) {
            const bool ok = Pull();
            if (rxHead_ < rx_.size()) return TWaitResult::Data;
            if (!ok) return TWaitResult::Failed;
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                hungUp_ = true;
                return Fail(EIO), TWaitResult::Failed;
            }
            // Only error marks arrived (a break): keep waiting.
        }
        if (r == 0 && deadline != kNoDeadline && NowNs() >= deadline) return TWaitResult::Timeout;
    }
}

int TPosixSerialDevice::BytesWaiting() {
    if (fd_ < 0) return Fail(EBADF), -1;
    if (!PullUnlessFresh(countFresh_) && rxHead_ == rx_.size()) return -1;
    return static_cast<int>(std::min<size_t>(rx_.size() - rxHead_, INT32_MAX));
}

int TPosixSerialDevice::Read(uint8_t* Dest, size_t Count) {
    if (fd_ < 0) return Fail(EBADF), -1;
    if (Count == 0) return 0;
    if (rx_.size() - rxHead_ < Count && !Pull() && rxHead_ == rx_.size()) return -1;
    const size_t n = std::min({Count, rx_.size() - rxHead_, size_t{INT32_MAX}});
    std::copy_n(rx_.begin() + static_cast<ptrdiff_t>(rxHead_), n, Dest);
    rxHead_ += n;
    if (rxHead_ == rx_.size()) {
        rx_.clear();
        rxHead_ = 0;
    }
    return static_cast<int>(n);
}

// Waits, sleeping, until the kernel's output queue is empty, then for the UART itself.
TWriteResult TPosixSerialDevice::WaitUntilSent(int64_t DeadlineNs, uint32_t BaudRate, uint32_t BitsPerChar) {
    for (;;) {
        int queued = 0;
        const int e = Ioctl(fd_, TIOCOUTQ, &queued);
        if (e && !Unsupported(e)) return Fail(e), TWriteResult::Failed;
        if (e || queued <= 0) break;
        const int64_t now = NowNs();
        if (DeadlineNs != kNoDeadline && now >= DeadlineNs) return TWriteResult::TimedOut;
        // Sleep about as long as the queued bytes take on the line, at least 1 ms.
        int64_t ns = int64_t{queued} * BitsPerChar * 1000000000 / std::max<uint32_t>(BaudRate, 1);
        ns = std::max<int64_t>(ns, 1000000);
        if (DeadlineNs != kNoDeadline) ns = std::min(ns, DeadlineNs - now);
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
    }
    if (int e = detail::DrainOutput(fd_)) return Fail(e), TWriteResult::Failed;
    return TWriteResult::Complete;
}

TWriteResult TPosixSerialDevice::WriteAll(const uint8_t* Data, size_t Count, int64_t DeadlineNs) {
    size_t done = 0;
    while (done < Count) {
        const ssize_t n = write(fd_, Data + done, Count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return Fail(errno), TWriteResult::Failed;
        pollfd p{fd_, POLLOUT, 0};
        const int timeout = PollTimeout(DeadlineNs);
        const int r = poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR) return Fail(errno), TWriteResult::Failed;
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return Fail(EIO), TWriteResult::Failed;
        if (r == 0 && timeout == 0) return TWriteResult::TimedOut;
    }
    return TWriteResult::Complete;
}

TWriteResult TPosixSerialDevice::Write(const uint8_t* Data, size_t Count, uint32_t Timeout) {
    if (fd_ < 0) return Fail(EBADF), TWriteResult::Failed;
    bool byHand;
    uint32_t baud, bits;
    {
        std::lock_guard<std::mutex> g(configLock_);
        byHand = toggleByHand_;
        baud = settings_.BaudRate;
        bits = CharBits(settings_);
    }
    const int64_t deadline = DeadlineAfter(Timeout);
    // By hand, RTS must stay on until the last stop bit has left, so the time-out covers
    // the transmission too.
    if (byHand && !SetRts(true)) return TWriteResult::Failed;
    TWriteResult result = WriteAll(Data, Count, deadline);
    if (result == TWriteResult::Complete && byHand) result = WaitUntilSent(deadline, baud, bits);
    if (result == TWriteResult::TimedOut) {
        // Abort what has not gone out, so that a late tail cannot run into the next frame.
        if (int e = detail::FlushQueues(fd_, false, true)) result = (Fail(e), TWriteResult::Failed);
    }
    if (byHand && !SetRts(false)) result = TWriteResult::Failed;
    return result;
}

bool TPosixSerialDevice::Purge(bool Input, bool Output) {
    if (fd_ < 0) return Fail(EBADF);
    if (Input) {
        rx_.clear();
        rxHead_ = 0;
        decoder_.Reset();
        countFresh_ = errorsFresh_ = false;
    }
    if (int e = detail::FlushQueues(fd_, Input, Output)) return Fail(e);
    // The kernel's input queue is empty now, as a drain would have left it.
    if (Input) countFresh_ = errorsFresh_ = true;
    return true;
}

bool TPosixSerialDevice::Drain() {
    if (fd_ < 0) return Fail(EBADF);
    if (int e = detail::DrainOutput(fd_)) return Fail(e);
    return true;
}

bool TPosixSerialDevice::ReadCounters(TCounters& C) {
    serial_icounter_struct ic{};
    if (Ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
    C.Framing = static_cast<uint32_t>(ic.frame);
    C.Overrun = static_cast<uint32_t>(ic.overrun) + static_cast<uint32_t>(ic.buf_overrun);
    C.Parity = static_cast<uint32_t>(ic.parity);
    C.Break = static_cast<uint32_t>(ic.brk);
    return true;
}

TLineErrors TPosixSerialDevice::TakeLineErrors() {
    TLineErrors e;
    if (fd_ < 0) return e;
    bool parityCheck, parity;
    {
        std::lock_guard<std::mutex> g(configLock_);
        parityCheck = settings_.ParityCheck;
        parity = settings_.Parity != TParityMode::None;
    }
    PullUnlessFresh(errorsFresh_);  // marks for bytes the kernel already holds
    TCounters now;
    if (haveCounters_ && ReadCounters(now)) {
        // The counters are exact and split by kind; the in-band marks then only duplicate them.
        e.Framing = now.Framing - counters_.Framing;  // unsigned: wraps correctly
        e.Overrun = now.Overrun - counters_.Overrun;
        e.Parity = parityCheck ? now.Parity - counters_.Parity : 0;
        e.Break = now.Break - counters_.Break;
        counters_ = now;
    } else {
        // Marks do not say whether a bad character failed parity or framing.
        (parity ? e.Parity : e.Framing) = marks_.BadChars;
        e.Break = marks_.Breaks;
    }
    marks_ = {};
    return e;
}

}  // namespace quelvan::platform
