#pragma once
// A scriptable serial device for tests of the code above the device: what a pseudo-terminal
// cannot show (line errors, exact chunking and timing, failing calls, a vanished adapter).
//
// The test keeps a TFakeSerialLine (shared_ptr) and scripts it while the code under test
// owns the TFakeSerialDevice. The line plays the far end and the driver: scripted chunks
// arrive at their time, written frames are recorded. Time is real (keep delays short).
// Every member of both classes is thread-safe; waits sleep in poll(), never spin.
//
// At most one device is open on a line at a time: a second Open is refused with EBUSY,
// as a real exclusive port would.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "platform/sync.h"

namespace quelvan::platform {

enum class TFakeOp : uint8_t { Open, Configure, SetModemLines, WaitForData, BytesWaiting, Read, Write, Purge, Drain };

struct TFakeWrite {
    std::vector<uint8_t> Data;
    TWriteResult Result;
};
struct TFakePurge {
    bool Input, Output;
    bool operator==(const TFakePurge&) const = default;
};
struct TFakeModemLines {
    bool Dtr, Rts;
    bool operator==(const TFakeModemLines&) const = default;
};

class TFakeSerialLine {
public:
    TFakeSerialLine();

    // --- Script -------------------------------------------------------------------------
    // Bytes that arrive DelayMs after the previously queued chunk arrived (or after now,
    // when that is later), with Errors reported from then on by TakeLineErrors. A chunk may
    // carry errors and no bytes.
    void QueueReceive(std::vector<uint8_t> Bytes, uint32_t DelayMs = 0, TLineErrors Errors = {});
    // Each Read returns at most this many bytes (0: no cap). BytesWaiting still counts all.
    void SetReadCap(size_t MaxBytes);
    // The Nth call of Op from now (1: the next one) fails with Error: Open and Configure
    // raise EOSError, WaitForData and Write report Failed, BytesWaiting and Read -1, the
    // others false.
    void FailCall(TFakeOp Op, uint32_t Nth = 1, int Error = EIO);
    // The next Count writes time out at once (recorded with TWriteResult::TimedOut).
    void TimeOutWrites(uint32_t Count);
    // The device disappears (an unplugged adapter): from now every operation fails with
    // EIO, a wait in progress ends with Failed, and Open fails with ENOENT.
    void Vanish();
    // Called on the writing thread, outside the line's lock, after each complete write
    // (typically to queue the far end's reply).
    void SetOnWrite(std::function<void(const std::vector<uint8_t>& Frame)> Handler);

    // --- Records ------------------------------------------------------------------------
    std::vector<TFakeWrite> Writes() const;
    std::vector<TLineSettings> Configurations() const;
    std::vector<TFakeModemLines> ModemLineChanges() const;
    std::vector<TFakePurge> Purges() const;
    uint32_t Drains() const;
    uint32_t Opens() const;
    uint32_t Closes() const;
    uint32_t Calls(TFakeOp Op) const;
    bool IsOpen() const;
    std::string LastPortName() const;
    // Scripted bytes not yet read (arrived or still to come).
    size_t PendingReceive() const;
    // Waits up to TimeoutMs until at least Count writes were made; true when they were.
    bool WaitForWrites(size_t Count, uint32_t TimeoutMs) const;

private:
    friend class TFakeSerialDevice;
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Clock::time_point Due;
        std::vector<uint8_t> Bytes;
        TLineErrors Errors;
    };

    // Under m_: moves chunks whose time has come to the input queue.
    void Arrive(Clock::time_point Now);
    // Under m_: counts the call; the errno it must fail with, or 0.
    int Enter(TFakeOp Op);

    mutable std::mutex m_;
    mutable std::condition_variable written_;
    TEvent changed_;  // set on every script change, to wake a waiting device
    std::deque<Chunk> chunks_;
    Clock::time_point lastDue_{};
    std::deque<uint8_t> input_;
    TLineErrors errors_;
    size_t readCap_ = 0;
    struct Failure {
        TFakeOp Op;
        uint32_t Nth;  // in calls of Op counted from when it was set
        uint32_t Base;
        int Error;
    };
    std::vector<Failure> failures_;
    uint32_t calls_[9] = {};  // by TFakeOp
    uint32_t timeOutWrites_ = 0;
    bool vanished_ = false;
    bool open_ = false;
    std::function<void(const std::vector<uint8_t>&)> onWrite_;
    std::vector<TFakeWrite> writes_;
    std::vector<TLineSettings> configurations_;
    std::vector<TFakeModemLines> modemLines_;
    std::vector<TFakePurge> purges_;
    uint32_t drains_ = 0, opens_ = 0, closes_ = 0;
    std::string lastPortName_;
};

class TFakeSerialDevice final : public ISerialDevice {
public:
    explicit TFakeSerialDevice(std::shared_ptr<TFakeSerialLine> Line);
    ~TFakeSerialDevice() override;

    void Open(const std::string& PortName) override;
    void Close() override;
    bool IsOpen() const override;
    std::string DevicePath() const override;
    void Configure(const TLineSettings& Settings) override;
    bool SetModemLines(bool Dtr, bool Rts) override;
    TWaitResult WaitForData(uint32_t Timeout, TEvent* Stop) override;
    int BytesWaiting() override;
    int Read(uint8_t* Dest, size_t Count) override;
    TWriteResult Write(const uint8_t* Data, size_t Count, uint32_t Timeout) override;
    bool Purge(bool Input, bool Output) override;
    bool Drain() override;
    TLineErrors TakeLineErrors() override;
    int LastError() const override;

private:
    // Under the line's lock: the errno this call fails with (counted, scripted, vanished,
    // not open), or 0.
    int Check(TFakeOp Op);

    std::shared_ptr<TFakeSerialLine> line_;
    bool open_ = false;  // under the line's lock
    std::string path_;   // under the line's lock
    int lastError_ = 0;  // under the line's lock
};

// Makes devices on Line (for a connection's device factory).
TSerialDeviceFactory FakeSerialDeviceFactory(std::shared_ptr<TFakeSerialLine> Line);

}  // namespace quelvan::platform
