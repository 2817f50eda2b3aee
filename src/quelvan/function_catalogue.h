#pragma once
// The application layer shared by client and server: command codes, the quantity and address
// limits of the counted commands, exception codes, and the diagnostic actions of command 0x08.

#include <cstdint>

#include "quelvan/messages.h"

namespace quelvan {

// Commands (Modbus function codes).
constexpr uint8_t mcReadCoils = 0x01;
constexpr uint8_t mcReadDiscreteInputs = 0x02;
constexpr uint8_t mcReadHoldingRegisters = 0x03;
constexpr uint8_t mcReadInputRegisters = 0x04;
constexpr uint8_t mcWriteSingleCoil = 0x05;
constexpr uint8_t mcWriteSingleRegister = 0x06;
constexpr uint8_t mcDiagnostics = 0x08;
constexpr uint8_t mcWriteMultipleCoils = 0x0F;
constexpr uint8_t mcWriteMultipleRegisters = 0x10;
constexpr uint8_t mcReadFileRecord = 0x14;
constexpr uint8_t mcWriteFileRecord = 0x15;
constexpr uint8_t mcMaskWriteRegister = 0x16;

// Exception codes a server produces.
constexpr uint8_t ecIllegalCommand = 1;
constexpr uint8_t ecIllegalDataAddress = 2;
constexpr uint8_t ecIllegalDataValue = 3;

// Coil values of command 0x05.
constexpr uint16_t CoilOn = 0xFF00;
constexpr uint16_t CoilOff = 0x0000;

// File records: the only reference type, and the highest record number.
constexpr uint8_t FileRecordReferenceType = 6;

// The item limits of a counted command (0x01-0x04, 0x0F, 0x10): one table binds the
// client's validation and the server's checks.
struct TCountLimit {
    uint8_t Command;
    uint16_t MaxCount;
    TMessageId CountMessage;    // "... count must be between 1 and %d"
    TMessageId AddressMessage;  // "Starting ... index is invalid (%d)"
};

// The limits of Command, or null for a command without a count.
const TCountLimit* FindCountLimit(uint8_t Command);

enum class TRangeCheck : uint8_t { Ok, BadCount, BadAddress };

// Count first (1..MaxCount), then the address rule: Start + Count - 1 <= 65535, computed
// without 16-bit wrap-around.
TRangeCheck CheckRange(const TCountLimit& Limit, uint32_t Start, uint32_t Count);

// Client side: raises EQuelvanError with the command's message when the range fails.
void ValidateRange(uint8_t Command, uint32_t Start, uint32_t Count);

// Diagnostics, command 0x08 ------------------------------------------------------------------

enum TDiagnosticAction : uint8_t {
    daReturnQueryData,
    daRestartCommsOption,
    daRestartCommsOptionAndClearEventLog,
    daReturnDiagnosticRegister,
    daForceListenOnlyMode,
    daClearCountersAndDiagnosticRegister,
    daReturnBusMessageCount,
    daReturnBusCommErrorCount,
    daReturnBusExceptionErrorCount,
    daReturnServerMessageCount,
    daReturnServerNoReplyCount,
    daReturnServerNegativeAcknowledgeCount,
    daReturnServerBusyCount,
    daReturnBusCharacterOverrunCount,
    daClearOverrunCounterAndFlag
};
constexpr int DiagnosticActionCount = 15;

uint16_t DiagnosticSubFunction(TDiagnosticAction Action);
// The data word sent: 0xA537 for daReturnQueryData, 0xFF00 for
// daRestartCommsOptionAndClearEventLog, 0 otherwise.
uint16_t DiagnosticRequestData(TDiagnosticAction Action);
// True when the reply's data word must echo the data sent (no result is carried).
bool DiagnosticReplyEchoes(TDiagnosticAction Action);
// The action of a request: the first table entry with the sub-function, except that
// sub-function 1 with data 0xFF00 is daRestartCommsOptionAndClearEventLog. Raises
// "Diagnostic action was not recognized" for a sub-function not in the table.
TDiagnosticAction DiagnosticActionFromRequest(uint16_t SubFunction, uint16_t Data);

}  // namespace quelvan
