#include "quelvan/serial_port_driver.h"

#include "platform/thread.h"
#include "quelvan/ascii_frame_scanner.h"

namespace quelvan {

using platform::INFINITE_WAIT;
using platform::TWaitResult;

TSerialPortDriver::TSerialPortDriver(platform::ISerialDevice& Device, platform::TEvent& StopEvent,
                                     TTransmissionMode TransmissionMode,
                                     TConnectionMode ConnectionMode,
                                     std::function<uint32_t()> SilentIntervalMs)
    : device_(Device),
      stopEvent_(StopEvent),
      transmissionMode_(TransmissionMode),
      connectionMode_(ConnectionMode),
      silentIntervalMs_(std::move(SilentIntervalMs)) {}

void TSerialPortDriver::PurgePort(bool Receive, bool Transmit) {
    if (Receive || Transmit) device_.Purge(Receive, Transmit);
}

void TSerialPortDriver::PrepareLine(const std::function<bool()>& ShouldStop) {
    PurgePort(true, true);
    if (transmissionMode_ != tmRTU) return;
    while (!ShouldStop() && Wait(silentIntervalMs_(), true)) PurgePort(true, false);
}

bool TSerialPortDriver::WaitForRxChar(uint32_t Timeout) {
    return Wait(Timeout, Timeout == INFINITE_WAIT || connectionMode_ == cmServer);
}

// A stoppable wait consumes the stop event; the thread then sees Terminated at its next check,
// which was set before the event.
bool TSerialPortDriver::Wait(uint32_t Timeout, bool Stoppable) {
    if (deviceFailed_) return false;
    const TWaitResult r = device_.WaitForData(Timeout, Stoppable ? &stopEvent_ : nullptr);
    if (r == TWaitResult::Failed) deviceFailed_ = true;
    return r == TWaitResult::Data;
}

bool TSerialPortDriver::ReadAvailable(uint8_t* Dest, int32_t Room, int32_t& Count) {
    Count = 0;
    bool ok = !device_.TakeLineErrors().Any();
    const int waiting = device_.BytesWaiting();
    if (waiting < 0) {
        deviceFailed_ = true;
        return false;
    }
    ok = ok && waiting <= Room;
    if (ok) {
        const int got = waiting > 0 ? device_.Read(Dest, static_cast<size_t>(waiting)) : 0;
        if (got < 0) {
            deviceFailed_ = true;
            return false;
        }
        Count = got;
        ok = got == waiting && !device_.TakeLineErrors().Any();
    }
    if (!ok) PurgePort(true, false);
    return ok;
}

bool TSerialPortDriver::SendFrame(const uint8_t* Data, int32_t Count, uint32_t Timeout) {
    if (deviceFailed_) return false;
    device_.TakeLineErrors();
    const auto r = device_.Write(Data, static_cast<size_t>(Count < 0 ? 0 : Count), Timeout);
    if (r == platform::TWriteResult::Failed) deviceFailed_ = true;
    const bool lineError = device_.TakeLineErrors().Any();
    return r == platform::TWriteResult::Complete && !lineError;
}

// One wait, charged to Remaining: by the time it took in client mode; in server mode a wait
// that sees nothing ends the budget.
bool TSerialPortDriver::TimedWait(uint32_t Timeout, uint32_t& Remaining) {
    if (connectionMode_ == cmServer) {
        const bool got = WaitForRxChar(Timeout);
        if (!got) Remaining = 0;
        return got;
    }
    const uint32_t start = platform::GetTickCount();
    const bool got = WaitForRxChar(Timeout);
    const uint32_t spent = platform::GetTickCount() - start;  // wraps correctly
    Remaining = spent >= Remaining ? 0 : Remaining - spent;
    if (deviceFailed_) Remaining = 0;
    return got;
}

int32_t TSerialPortDriver::ReceiveFrame(uint8_t* Dest, int32_t Room, uint32_t& Remaining) {
    if (Remaining == 0) return 0;
    device_.TakeLineErrors();
    return transmissionMode_ == tmRTU ? ReceiveRTU(Dest, Room, Remaining)
                                      : ReceiveASCII(Dest, Room, Remaining);
}

int32_t TSerialPortDriver::ReceiveRTU(uint8_t* Dest, int32_t Room, uint32_t& Remaining) {
    if (!TimedWait(Remaining, Remaining)) return 0;
    int32_t total = 0;
    if (!ReadAvailable(Dest, Room, total)) return 0;
    // The frame ends at the first silent gap; the budget bounds a line that never goes quiet.
    while (Remaining > 0) {
        if (!TimedWait(silentIntervalMs_(), Remaining)) return deviceFailed_ ? 0 : total;
        int32_t count = 0;
        if (!ReadAvailable(Dest + total, Room - total, count)) return 0;
        total += count;
    }
    return total;
}

int32_t TSerialPortDriver::ReceiveASCII(uint8_t* Dest, int32_t Room, uint32_t& Remaining) {
    TAsciiFrameScanner scanner;
    int32_t total = 0;
    auto readAndScan = [&](uint32_t timeout) {
        if (!TimedWait(timeout, Remaining)) return false;
        int32_t count = 0;
        if (!ReadAvailable(Dest + total, Room - total, count)) return false;
        scanner.Scan(Dest, total, count);
        return true;
    };
    // Waiting for ':' may take the whole budget; inside a frame the gap between characters
    // may not exceed the silent interval.
    while (scanner.State() == TAsciiFrameScanner::WaitingForColon && Remaining > 0)
        if (!readAndScan(Remaining)) return 0;
    while ((scanner.State() == TAsciiFrameScanner::InFrame ||
            scanner.State() == TAsciiFrameScanner::CRSeen) &&
           Remaining > 0)
        if (!readAndScan(silentIntervalMs_())) return 0;
    return scanner.State() == TAsciiFrameScanner::Complete ? total : 0;
}

}  // namespace quelvan
