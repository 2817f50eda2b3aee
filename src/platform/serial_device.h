#pragma once
// The narrow serial-device interface the transport core talks to. One POSIX (termios)
// implementation (posix_serial_device.h) and one scriptable fake for tests
// (fake_serial_device.h). No operation knows anything of the protocol carried.
//
// Threading: after Open, one thread at a time uses a device; Configure may be called from
// another thread while the I/O thread is blocked in WaitForData or busy in Read or Write (the
// POSIX device applies it with one ioctl, which is safe alongside poll and read).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quelvan::platform {

class TEvent;

enum class TParityMode : uint8_t { None, Odd, Even };
// RtsToggle: RTS is on while bytes are sent, off otherwise (RS-485 direction control).
// DtrDsr: Linux has no DSR output handshake; the POSIX device holds DTR on and sends
// regardless of DSR.
enum class TFlowMode : uint8_t { None, RtsToggle, RtsCts, DtrDsr };

struct TLineSettings {
    uint32_t BaudRate = 19200;    // any rate; non-standard ones are set as custom rates
    uint8_t DataBits = 8;         // 5..8
    TParityMode Parity = TParityMode::Even;
    bool ParityCheck = true;      // check parity on input (INPCK)
    uint8_t StopBits = 1;         // 1 or 2
    TFlowMode Flow = TFlowMode::None;
    bool DtrOn = true;            // DTR held on (ignored with DtrDsr handshake)
    bool RtsOn = true;            // RTS held on (ignored with RtsToggle / RtsCts)

    bool operator==(const TLineSettings&) const = default;
};

// Line errors since the last TakeLineErrors.
struct TLineErrors {
    uint32_t Framing = 0, Overrun = 0, Parity = 0, Break = 0;
    bool Any() const { return Framing || Overrun || Parity || Break; }
};

enum class TWaitResult : uint8_t {
    Data,     // received bytes are waiting
    Timeout,  // nothing within the time-out
    Stopped,  // the stop event was signalled (and consumed)
    Failed    // the device failed (e.g. it disappeared); see LastError()
};

enum class TWriteResult : uint8_t {
    Complete,  // every byte was handed to the driver
    TimedOut,  // not all bytes went out within the time-out; output was aborted and cleared
    Failed     // the device failed; see LastError()
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the named port exclusively (see MapPortName). Raises EOSError with the system's
    // text and the device path; nothing stays open after a failure.
    virtual void Open(const std::string& PortName) = 0;
    virtual void Close() = 0;  // idempotent
    virtual bool IsOpen() const = 0;
    virtual std::string DevicePath() const = 0;

    // Applies the line settings; raises EOSError when the device refuses them.
    virtual void Configure(const TLineSettings& Settings) = 0;

    // Sets DTR and RTS by hand (for a manual RTS toggle). Devices without modem lines
    // accept it silently. False when the device failed; see LastError().
    virtual bool SetModemLines(bool Dtr, bool Rts) = 0;

    // Waits until received data is waiting, Timeout ms pass (INFINITE_WAIT: no limit) or
    // Stop (may be null) is signalled. Data already waiting is reported at once. A device
    // that has hung up (unplugged adapter, closed far end of a pseudo-terminal) reports
    // Failed, every time it is asked, without waiting.
    virtual TWaitResult WaitForData(uint32_t Timeout, TEvent* Stop) = 0;
    // Bytes waiting in the input queue, or -1 on failure. On the POSIX device a Read of that
    // many bytes right after returns exactly that many (the count is of data bytes, not of
    // the driver's in-band error marks); the fake device can be told to return fewer.
    virtual int BytesWaiting() = 0;
    // Reads up to Count bytes without blocking; returns the count read (0 when none is
    // waiting) or -1 on failure.
    virtual int Read(uint8_t* Dest, size_t Count) = 0;
    // Writes Count bytes within Timeout ms (Count 0 succeeds at once). With
    // TFlowMode::RtsToggle the device raises RTS for the write and lowers it when the
    // bytes have left (in the driver where it can, by hand otherwise; by hand, the time-out
    // covers the transmission too, since RTS must stay on until the last bit has gone).
    virtual TWriteResult Write(const uint8_t* Data, size_t Count, uint32_t Timeout) = 0;
    // Discards (and aborts) pending input and/or output. False when the device failed.
    virtual bool Purge(bool Input, bool Output) = 0;
    // Waits until every written byte has left. False when the device failed.
    virtual bool Drain() = 0;
    // Line errors since the last call, then clears them.
    virtual TLineErrors TakeLineErrors() = 0;
    // The errno of the last failed operation (0 if none).
    virtual int LastError() const = 0;
    // "<device path>: <system text>" for LastError(), or "" when there is none.
    std::string LastErrorText() const;
};

using TSerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

// A port name as the user gives it -> a device path: an absolute path as is; "COMn" (any
// letter case, n >= 1) -> "/dev/ttyS<n-1>"; any other name X -> "/dev/X". An empty name
// maps to "" (which no device opens).
std::string MapPortName(const std::string& PortName);

}  // namespace quelvan::platform
