#pragma once
// Records every event a client fires, in order, with everything it carried.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/modbus_client.h"

namespace quelvan::test {

struct TRecordedFileRecord {
    uint16_t FileNumber, StartReg;
    std::vector<uint16_t> Values;
};

struct TClientEvent {
    std::string Kind;  // the event's name without "On", e.g. "HoldingRegistersRead"
    TTransactionInfo Info{};
    uint16_t Start = 0, Count = 0;  // also address (Start) of the single writes
    TBitValues Bits;
    TRegValues Regs;
    bool BitValue = false;
    uint16_t RegValue = 0, AndMask = 0, OrMask = 0;
    TDiagnosticAction Action = daReturnQueryData;
    uint16_t Result = 0;
    std::vector<TRecordedFileRecord> Records;
};

class TClientEventLog {
public:
    // Sets every event handler of Client (except OnTranslateExceptionCode).
    explicit TClientEventLog(TModbusClient& Client);
    const std::vector<TClientEvent>& Events() const { return events_; }
    size_t Count() const { return events_.size(); }
    const TClientEvent& Last() const { return events_.back(); }
    // The event of transaction ID, or null.
    const TClientEvent* Find(uint32_t ID) const;

private:
    std::vector<TClientEvent> events_;
};

}  // namespace quelvan::test
