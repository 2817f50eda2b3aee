#pragma once
// Frame-level port operations of an open connection: purging, waiting for received
// characters, reading what the driver holds, writing one frame within a time-out, and
// receiving one RTU or ASCII frame within a time budget.
//
// Used only by the transaction thread once the port is open (one thread at a time).

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/serial_device.h"
#include "platform/sync.h"
#include "quelvan/connection_types.h"

namespace quelvan {

class TSerialPortDriver {
public:
    TSerialPortDriver(platform::ISerialDevice& Device, platform::TEvent& StopEvent,
                      TTransmissionMode TransmissionMode, TConnectionMode ConnectionMode,
                      std::function<uint32_t()> SilentIntervalMs);

    void PurgePort(bool Receive, bool Transmit);
    // Purges both sides; in RTU then waits for one full silent interval without data.
    // ShouldStop is checked between gaps so a babbling line cannot hold a closing thread.
    void PrepareLine(const std::function<bool()>& ShouldStop);
    // True when received data is present within Timeout ms (INFINITE_WAIT: no limit). The
    // stop event ends an unbounded wait, every wait in server mode, and an Interruptible one.
    bool WaitForRxChar(uint32_t Timeout, bool Interruptible = false);
    // Reads everything the driver holds. False on a line error, when more bytes wait than
    // Room, or when the read is short; the input is then discarded, so the same bytes
    // cannot fail the next receive again.
    bool ReadAvailable(uint8_t* Dest, int32_t Room, int32_t& Count);
    // True when every byte was written within Timeout ms without a line error.
    bool SendFrame(const uint8_t* Data, int32_t Count, uint32_t Timeout);
    // One frame into Dest; its length, or 0 for none. Remaining (ms) is the budget, reduced by
    // the time spent waiting in client mode; in server mode it is not reduced by time, and a
    // wait that sees nothing sets it to 0.
    int32_t ReceiveFrame(uint8_t* Dest, int32_t Room, uint32_t& Remaining);

    // The device failed (e.g. it was unplugged); every later operation fails at once.
    bool DeviceFailed() const { return deviceFailed_.load(); }
    int DeviceError() const { return device_.LastError(); }

private:
    bool TimedWait(uint32_t Timeout, uint32_t& Remaining);
    int32_t ReceiveRTU(uint8_t* Dest, int32_t Room, uint32_t& Remaining);
    int32_t ReceiveASCII(uint8_t* Dest, int32_t Room, uint32_t& Remaining);

    platform::ISerialDevice& device_;
    platform::TEvent& stopEvent_;
    TTransmissionMode transmissionMode_;
    TConnectionMode connectionMode_;
    std::function<uint32_t()> silentIntervalMs_;
    std::atomic<bool> deviceFailed_{false};
    // ASCII: bytes read after the LF of the last frame, scanned first by the next receive.
    std::vector<uint8_t> carried_;
};

}  // namespace quelvan
