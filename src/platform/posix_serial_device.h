#pragma once
// A serial port through the Linux tty layer: real UARTs, USB adapters and pseudo-terminals.
//
// Open: exclusive (flock, which also holds for root, plus TIOCEXCL), non-blocking, raw.
// Configure: any baud rate; the read-back is checked against the request on real devices.
// A pseudo-terminal has no character framing (the kernel keeps it at 8 data bits without
// parity whatever is asked), so its framing is taken as virtual and not checked.
// Line errors come from the driver's error counters where it has them, otherwise from the
// receiver's in-band marks (see line_mark_decoder.h), so parity, framing and break reach
// TakeLineErrors either way; overruns only where the driver counts them.
// Closing waits up to a second for unsent output to leave, then discards the rest: the
// kernel would otherwise hold close() for up to 30 s on a line that flow control stopped.
// Status queries: BytesWaiting and TakeLineErrors each answer once from the kernel's input
// queue as the last read of it left it (drained), the way one status call reports errors
// and count at the same instant; asked again, they read the kernel anew. A receive step
// (wait, errors, count, read, errors) so costs one kernel read, not four.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/line_mark_decoder.h"
#include "platform/serial_device.h"

namespace quelvan::platform {

class TPosixSerialDevice final : public ISerialDevice {
public:
    TPosixSerialDevice() = default;
    ~TPosixSerialDevice() override;
    TPosixSerialDevice(const TPosixSerialDevice&) = delete;
    TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

    // Opening an open device closes it first.
    void Open(const std::string& PortName) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string DevicePath() const override { return path_; }
    void Configure(const TLineSettings& Settings) override;
    bool SetModemLines(bool Dtr, bool Rts) override;
    TWaitResult WaitForData(uint32_t Timeout, TEvent* Stop) override;
    int BytesWaiting() override;
    int Read(uint8_t* Dest, size_t Count) override;
    TWriteResult Write(const uint8_t* Data, size_t Count, uint32_t Timeout) override;
    bool Purge(bool Input, bool Output) override;
    bool Drain() override;
    TLineErrors TakeLineErrors() override;
    int LastError() const override { return lastError_.load(); }

    // True when the open device is a pseudo-terminal (virtual framing).
    bool IsPseudoTerminal() const { return pty_; }
    // True when the driver drives RTS itself for TFlowMode::RtsToggle (RS-485 mode).
    bool DriverTogglesRts() const;

private:
    struct TCounters {
        uint32_t Framing = 0, Overrun = 0, Parity = 0, Break = 0;
    };

    bool Fail(int Error);
    bool Pull();
    bool PullUnlessFresh(bool& Fresh);
    bool ReadCounters(TCounters& C);
    bool ChangeModemLines(int Set, int Clear);
    bool SetRts(bool On) { return On ? ChangeModemLines(kRts, 0) : ChangeModemLines(0, kRts); }
    bool SetRs485(bool On);
    TWriteResult WriteAll(const uint8_t* Data, size_t Count, int64_t DeadlineNs);
    TWriteResult WaitUntilSent(int64_t DeadlineNs, uint32_t BaudRate, uint32_t BitsPerChar);

    static const int kRts;

    int fd_ = -1;
    std::string path_;
    bool pty_ = false;
    std::atomic<int> lastError_{0};

    // Configure may run on another thread than the I/O; these are read under the lock.
    mutable std::mutex configLock_;
    TLineSettings settings_;
    bool rs485_ = false;        // the driver toggles RTS
    bool toggleByHand_ = false;  // RtsToggle without driver support

    // Receive side, I/O thread only: decoded bytes not yet read.
    std::vector<uint8_t> rx_;
    size_t rxHead_ = 0;
    TLineMarkDecoder decoder_;
    TLineMarkDecoder::TMarks marks_;
    bool hungUp_ = false;
    // Set when the kernel's input queue was last seen empty; each query takes its own flag.
    bool countFresh_ = false, errorsFresh_ = false;

    bool haveCounters_ = false;
    TCounters counters_;
};

}  // namespace quelvan::platform
