#pragma once
// The library's message table: every text an EQuelvanError carries, plus the descriptions of
// the Modbus exception codes. An application may install a translated table at any time; the
// texts are looked up when an error is raised, so a translation applies from the next error on.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quelvan {

enum TMessageId : uint8_t {
    msgConnectionActive,      // a setting that needs a closed connection was changed while open
    msgConnectionInactive,    // an operation that needs an open connection was tried while closed
    msgEncodeFrame,           // an encoded frame does not fit the line buffer
    msgDecodeFrame,           // a decoded frame does not fit the frame buffer
    msgDiscreteCount,         // %d: the largest coil or discrete-input count allowed
    msgRegisterCount,         // %d: the largest register count allowed
    msgStartDiscreteIndex,    // %d: the start address of a bit range that runs past 65535
    msgStartRegisterIndex,    // %d: the start of a register range that runs past its limit
    msgRegisterIndex,         // %d: a file-record register index outside the record
    msgOpenPort,              // the serial port cannot be opened
    msgSerialBuffers,         // the driver queue sizes cannot be set
    msgTimeouts,              // the port time-outs cannot be set
    msgEventMask,             // the port's event mask cannot be cleared
    msgUpdateDCB,             // the line settings cannot be applied
    msgInternalError,         // a reply decoder met an inconsistency
    msgBufferNoRoom,          // a buffer read or write beyond its capacity
    msgBufferPosition,        // %d: a rejected buffer position
    msgBufferSize,            // %d: a rejected buffer size
    msgNoActiveConnection,    // a client or server used without an active connection
    msgValueRange,            // %d, %d: the allowed range of a property value
    msgDiagnosticAction,      // a diagnostic sub-function outside the known actions
    msgListIndex,             // %d: an index outside a list
    msgFileRecordListEmpty,   // a file-record call with no records
    msgFileRecordTooLarge,    // %d, %d: a file-record request or reply that would not fit a frame
    // The descriptions of the exception codes 0 to 8, in code order.
    msgUnknownExceptionCode,
    msgIllegalCommand,
    msgIllegalDataAddress,
    msgIllegalDataValue,
    msgServerFailure,
    msgAcknowledge,
    msgServerBusy,
    msgNegativeAcknowledge,
    msgMemoryParityError,
};

inline constexpr std::size_t MessageCount = msgMemoryParityError + 1;

using TMessageTable = std::array<std::string, MessageCount>;

// The built-in English texts.
const TMessageTable& DefaultMessageTable();

// The text of Id in the installed table. Safe on any thread; the reference stays valid for the
// life of the process, even after another table is installed.
const std::string& LoadMessage(TMessageId Id);

// The description of a Modbus exception code; codes above 8 give the text of code 0.
const std::string& ExceptionCodeText(uint8_t Code);

// Installs a translated table. Each entry must have the same placeholders, in the same order, as
// the built-in text, or EAssertionFailed is raised naming the entry and nothing is installed.
void SetMessageTable(const TMessageTable& Table);

// Goes back to the built-in texts.
void ResetMessageTable();

}  // namespace quelvan
