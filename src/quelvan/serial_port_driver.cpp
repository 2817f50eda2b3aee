#include "quelvan/serial_port_driver.h"

#include <algorithm>

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
    if (Receive) carried_.clear();
    if (Receive || Transmit) device_.Purge(Receive, Transmit);
}

void TSerialPortDriver::PrepareLine(const std::function<bool()>& ShouldStop) {
    PurgePort(true, true);
    if (transmissionMode_ != tmRTU) return;
    while (!ShouldStop() && WaitForRxChar(silentIntervalMs_(), true)) PurgePort(true, false);
}

bool TSerialPortDriver::WaitForRxChar(uint32_t Timeout, bool Interruptible) {
    if (deviceFailed_) return false;
    // Closing must not wait for a wait that can last long: an unbounded one, any wait of a
    // server, or one outside a transaction. A client's bounded waits inside a transaction
    // run to their end, so the transaction in progress finishes as it would have.
    const bool stoppable = Interruptible || Timeout == INFINITE_WAIT || connectionMode_ == cmServer;
    const TWaitResult r = device_.WaitForData(Timeout, stoppable ? &stopEvent_ : nullptr);
    if (r == TWaitResult::Failed) deviceFailed_ = true;
    // The connection is closing: keep the signal, so every later stoppable wait of this
    // thread (the next attempt of a transaction, say) ends at once too.
    if (r == TWaitResult::Stopped) stopEvent_.SetEvent();
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
    // A wait never outlasts the budget (a silent interval longer than the budget would).
    if (Timeout > Remaining) Timeout = Remaining;
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
    // Scans Count bytes at Dest + total; keeps what follows a completed frame.
    auto scan = [&](int32_t count) {
        uint8_t* chunk = Dest + total;
        const int32_t scanned = scanner.Scan(Dest, total, count);
        carried_.assign(chunk + scanned, chunk + count);
    };
    auto readAndScan = [&](uint32_t timeout) {
        if (!TimedWait(timeout, Remaining)) return false;
        int32_t count = 0;
        if (!ReadAvailable(Dest + total, Room - total, count)) return false;
        scan(count);
        return true;
    };
    // Bytes that arrived with the previous frame come first (an echo and the start of the
    // reply in one read, say); dropping them would lose that frame.
    if (!carried_.empty()) {
        const auto count = static_cast<int32_t>(std::min<size_t>(carried_.size(), static_cast<size_t>(Room)));
        std::copy(carried_.begin(), carried_.begin() + count, Dest);
        scan(count);
    }
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
