#include "platform/fake_serial_device.h"

#include <poll.h>

#include <algorithm>

#include "platform/exceptions.h"

namespace quelvan::platform {

namespace {
size_t OpIndex(TFakeOp Op) { return static_cast<size_t>(Op); }
}  // namespace

TFakeSerialLine::TFakeSerialLine() : changed_(false, false) {}

void TFakeSerialLine::QueueReceive(std::vector<uint8_t> Bytes, uint32_t DelayMs, TLineErrors Errors) {
    {
        std::lock_guard<std::mutex> g(m_);
        const auto due = std::max(Clock::now(), lastDue_) + std::chrono::milliseconds(DelayMs);
        lastDue_ = due;
        chunks_.push_back(Chunk{due, std::move(Bytes), Errors});
    }
    changed_.SetEvent();
}

void TFakeSerialLine::SetReadCap(size_t MaxBytes) {
    std::lock_guard<std::mutex> g(m_);
    readCap_ = MaxBytes;
}

void TFakeSerialLine::FailCall(TFakeOp Op, uint32_t Nth, int Error) {
    std::lock_guard<std::mutex> g(m_);
    failures_.push_back(Failure{Op, std::max<uint32_t>(Nth, 1), calls_[OpIndex(Op)], Error});
}

void TFakeSerialLine::TimeOutWrites(uint32_t Count) {
    std::lock_guard<std::mutex> g(m_);
    timeOutWrites_ = Count;
}

void TFakeSerialLine::Vanish() {
    {
        std::lock_guard<std::mutex> g(m_);
        vanished_ = true;
    }
    changed_.SetEvent();
}

void TFakeSerialLine::SetOnWrite(std::function<void(const std::vector<uint8_t>&)> Handler) {
    std::lock_guard<std::mutex> g(m_);
    onWrite_ = std::move(Handler);
}

std::vector<TFakeWrite> TFakeSerialLine::Writes() const {
    std::lock_guard<std::mutex> g(m_);
    return writes_;
}
std::vector<TLineSettings> TFakeSerialLine::Configurations() const {
    std::lock_guard<std::mutex> g(m_);
    return configurations_;
}
std::vector<TFakeModemLines> TFakeSerialLine::ModemLineChanges() const {
    std::lock_guard<std::mutex> g(m_);
    return modemLines_;
}
std::vector<TFakePurge> TFakeSerialLine::Purges() const {
    std::lock_guard<std::mutex> g(m_);
    return purges_;
}
uint32_t TFakeSerialLine::Drains() const {
    std::lock_guard<std::mutex> g(m_);
    return drains_;
}
uint32_t TFakeSerialLine::Opens() const {
    std::lock_guard<std::mutex> g(m_);
    return opens_;
}
uint32_t TFakeSerialLine::Closes() const {
    std::lock_guard<std::mutex> g(m_);
    return closes_;
}
uint32_t TFakeSerialLine::Calls(TFakeOp Op) const {
    std::lock_guard<std::mutex> g(m_);
    return calls_[OpIndex(Op)];
}
bool TFakeSerialLine::IsOpen() const {
    std::lock_guard<std::mutex> g(m_);
    return open_;
}
std::string TFakeSerialLine::LastPortName() const {
    std::lock_guard<std::mutex> g(m_);
    return lastPortName_;
}
size_t TFakeSerialLine::PendingReceive() const {
    std::lock_guard<std::mutex> g(m_);
    size_t n = input_.size();
    for (const Chunk& c : chunks_) n += c.Bytes.size();
    return n;
}

bool TFakeSerialLine::WaitForWrites(size_t Count, uint32_t TimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_);
    return written_.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [&] { return writes_.size() >= Count; });
}

void TFakeSerialLine::Arrive(Clock::time_point Now) {
    while (!chunks_.empty() && chunks_.front().Due <= Now) {
        Chunk& c = chunks_.front();
        input_.insert(input_.end(), c.Bytes.begin(), c.Bytes.end());
        errors_.Framing += c.Errors.Framing;
        errors_.Overrun += c.Errors.Overrun;
        errors_.Parity += c.Errors.Parity;
        errors_.Break += c.Errors.Break;
        chunks_.pop_front();
    }
}

int TFakeSerialLine::Enter(TFakeOp Op) {
    const uint32_t n = ++calls_[OpIndex(Op)];
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->Op == Op && n - it->Base == it->Nth) {
            const int e = it->Error;
            failures_.erase(it);
            return e;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------

TFakeSerialDevice::TFakeSerialDevice(std::shared_ptr<TFakeSerialLine> Line) : line_(std::move(Line)) {
    if (!line_) throw EAssertionFailed("TFakeSerialDevice needs a line");
}

TFakeSerialDevice::~TFakeSerialDevice() { Close(); }

int TFakeSerialDevice::Check(TFakeOp Op) {
    const int scripted = line_->Enter(Op);
    int e = scripted;
    if (!e && line_->vanished_) e = EIO;
    if (!e && !open_) e = EBADF;
    if (e) lastError_ = e;
    return e;
}

void TFakeSerialDevice::Open(const std::string& PortName) {
    Close();
    const std::string path = MapPortName(PortName);
    std::lock_guard<std::mutex> g(line_->m_);
    int e = line_->Enter(TFakeOp::Open);
    if (!e && line_->vanished_) e = ENOENT;
    if (!e && line_->open_) e = EBUSY;
    if (!e && path.empty()) e = ENOENT;
    if (e) {
        lastError_ = e;
        RaiseOSError(e, "Cannot open serial port " + path);
    }
    open_ = line_->open_ = true;
    path_ = path;
    lastError_ = 0;
    ++line_->opens_;
    line_->lastPortName_ = PortName;
}

void TFakeSerialDevice::Close() {
    std::lock_guard<std::mutex> g(line_->m_);
    if (!open_) return;
    open_ = line_->open_ = false;
    ++line_->closes_;
}

bool TFakeSerialDevice::IsOpen() const {
    std::lock_guard<std::mutex> g(line_->m_);
    return open_;
}

std::string TFakeSerialDevice::DevicePath() const {
    std::lock_guard<std::mutex> g(line_->m_);
    return path_;
}

int TFakeSerialDevice::LastError() const {
    std::lock_guard<std::mutex> g(line_->m_);
    return lastError_;
}

void TFakeSerialDevice::Configure(const TLineSettings& Settings) {
    std::lock_guard<std::mutex> g(line_->m_);
    if (int e = Check(TFakeOp::Configure)) RaiseOSError(e, "Cannot configure serial port " + path_);
    line_->configurations_.push_back(Settings);
}

bool TFakeSerialDevice::SetModemLines(bool Dtr, bool Rts) {
    std::lock_guard<std::mutex> g(line_->m_);
    if (Check(TFakeOp::SetModemLines)) return false;
    line_->modemLines_.push_back({Dtr, Rts});
    return true;
}

TWaitResult TFakeSerialDevice::WaitForData(uint32_t Timeout, TEvent* Stop) {
    using Clock = TFakeSerialLine::Clock;
    const auto start = Clock::now();
    const auto deadline = Timeout == INFINITE_WAIT ? Clock::time_point::max()
                                                   : start + std::chrono::milliseconds(Timeout);
    {
        std::lock_guard<std::mutex> g(line_->m_);
        if (Check(TFakeOp::WaitForData)) return TWaitResult::Failed;
    }
    for (;;) {
        auto wake = deadline;
        {
            std::lock_guard<std::mutex> g(line_->m_);
            if (line_->vanished_ || !open_) {
                lastError_ = line_->vanished_ ? EIO : EBADF;
                return TWaitResult::Failed;
            }
            const auto now = Clock::now();
            line_->Arrive(now);
            if (!line_->input_.empty()) return TWaitResult::Data;
            if (now >= deadline) return TWaitResult::Timeout;
            if (!line_->chunks_.empty()) wake = std::min(wake, line_->chunks_.front().Due);
        }
        int ms = -1;
        if (wake != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(wake - Clock::now()).count();
            ms = left <= 0 ? 0 : static_cast<int>(std::min<int64_t>((left + 999) / 1000, 3600000));
        }
        pollfd fds[2] = {{line_->changed_.Fd(), POLLIN, 0}, {Stop ? Stop->Fd() : -1, POLLIN, 0}};
        if (poll(fds, Stop ? 2 : 1, ms) < 0 && errno != EINTR) {
            std::lock_guard<std::mutex> g(line_->m_);
            lastError_ = errno;
            return TWaitResult::Failed;
        }
        if (Stop && (fds[1].revents & POLLIN) && Stop->TryConsume()) return TWaitResult::Stopped;
        if (fds[0].revents & POLLIN) line_->changed_.TryConsume();
    }
}

int TFakeSerialDevice::BytesWaiting() {
    std::lock_guard<std::mutex> g(line_->m_);
    if (Check(TFakeOp::BytesWaiting)) return -1;
    line_->Arrive(TFakeSerialLine::Clock::now());
    return static_cast<int>(line_->input_.size());
}

int TFakeSerialDevice::Read(uint8_t* Dest, size_t Count) {
    std::lock_guard<std::mutex> g(line_->m_);
    if (Check(TFakeOp::Read)) return -1;
    line_->Arrive(TFakeSerialLine::Clock::now());
    size_t n = std::min(Count, line_->input_.size());
    if (line_->readCap_ > 0) n = std::min(n, line_->readCap_);
    std::copy_n(line_->input_.begin(), n, Dest);
    line_->input_.erase(line_->input_.begin(), line_->input_.begin() + static_cast<ptrdiff_t>(n));
    return static_cast<int>(n);
}

TWriteResult TFakeSerialDevice::Write(const uint8_t* Data, size_t Count, uint32_t /*Timeout*/) {
    std::function<void(const std::vector<uint8_t>&)> handler;
    std::vector<uint8_t> frame(Data, Data + Count);
    TWriteResult result = TWriteResult::Complete;
    {
        std::lock_guard<std::mutex> g(line_->m_);
        if (Check(TFakeOp::Write)) {
            result = TWriteResult::Failed;
        } else if (line_->timeOutWrites_ > 0) {
            --line_->timeOutWrites_;
            result = TWriteResult::TimedOut;
        } else {
            handler = line_->onWrite_;
        }
        line_->writes_.push_back(TFakeWrite{frame, result});
    }
    line_->written_.notify_all();
    if (handler) handler(frame);
    return result;
}

bool TFakeSerialDevice::Purge(bool Input, bool Output) {
    std::lock_guard<std::mutex> g(line_->m_);
    if (Check(TFakeOp::Purge)) return false;
    line_->purges_.push_back({Input, Output});
    if (Input) {
        line_->Arrive(TFakeSerialLine::Clock::now());
        line_->input_.clear();
    }
    return true;
}

bool TFakeSerialDevice::Drain() {
    std::lock_guard<std::mutex> g(line_->m_);
    if (Check(TFakeOp::Drain)) return false;
    ++line_->drains_;
    return true;
}

TLineErrors TFakeSerialDevice::TakeLineErrors() {
    std::lock_guard<std::mutex> g(line_->m_);
    line_->Arrive(TFakeSerialLine::Clock::now());
    const TLineErrors e = line_->errors_;
    line_->errors_ = {};
    return e;
}

TSerialDeviceFactory FakeSerialDeviceFactory(std::shared_ptr<TFakeSerialLine> Line) {
    return [Line]() -> std::unique_ptr<ISerialDevice> { return std::make_unique<TFakeSerialDevice>(Line); };
}

}  // namespace quelvan::platform
