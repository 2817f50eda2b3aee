#include "request_text.h"

#include <cstdio>

namespace quelvan::cli {

std::string Hex4(uint16_t Value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", Value);
    return buf;
}

std::string FormatRegister(uint16_t Value) { return std::to_string(Value) + " (" + Hex4(Value) + ")"; }

std::string CommandName(uint8_t Command) {
    switch (Command) {
    case mcReadCoils: return "read coils";
    case mcReadDiscreteInputs: return "read discrete inputs";
    case mcReadHoldingRegisters: return "read holding registers";
    case mcReadInputRegisters: return "read input registers";
    case mcWriteSingleCoil: return "write single coil";
    case mcWriteSingleRegister: return "write single register";
    case mcDiagnostics: return "diagnostics";
    case mcWriteMultipleCoils: return "write multiple coils";
    case mcWriteMultipleRegisters: return "write multiple registers";
    case mcReadFileRecord: return "read file record";
    case mcWriteFileRecord: return "write file record";
    case mcMaskWriteRegister: return "mask write register";
    default: break;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "function 0x%02X", Command);
    return buf;
}

std::string DescribeRange(uint8_t Command, uint32_t Start, uint32_t Count) {
    if (Count == 0 || Start + Count - 1 > 0xFFFF)
        return CommandName(Command) + " from " + std::to_string(Start) + ", count " + std::to_string(Count);
    if (Count == 1) return CommandName(Command) + " " + std::to_string(Start);
    return CommandName(Command) + " " + std::to_string(Start) + "-" + std::to_string(Start + Count - 1);
}

std::string DescribeSingleWrite(uint8_t Command, uint16_t Address, uint16_t Value) {
    std::string value;
    if (Command != mcWriteSingleCoil) value = FormatRegister(Value);
    else if (Value == CoilOn) value = "on";
    else if (Value == CoilOff) value = "off";
    else value = Hex4(Value) + " (not a coil value)";
    return CommandName(Command) + " " + std::to_string(Address) + " = " + value;
}

std::string DescribeMaskWrite(uint16_t Address, uint16_t AndMask, uint16_t OrMask) {
    return CommandName(mcMaskWriteRegister) + " " + std::to_string(Address) + " AND " + Hex4(AndMask) +
           " OR " + Hex4(OrMask);
}

const std::vector<std::string>& DiagnosticActionNames() {
    static const std::vector<std::string> names = {
        "return-query-data",          // daReturnQueryData
        "restart-comms",              // daRestartCommsOption
        "restart-comms-clear-log",    // daRestartCommsOptionAndClearEventLog
        "diagnostic-register",        // daReturnDiagnosticRegister
        "force-listen-only",          // daForceListenOnlyMode
        "clear-counters",             // daClearCountersAndDiagnosticRegister
        "bus-message-count",          // daReturnBusMessageCount
        "bus-comm-error-count",       // daReturnBusCommErrorCount
        "bus-exception-error-count",  // daReturnBusExceptionErrorCount
        "server-message-count",       // daReturnServerMessageCount
        "server-no-reply-count",      // daReturnServerNoReplyCount
        "server-nak-count",           // daReturnServerNegativeAcknowledgeCount
        "server-busy-count",          // daReturnServerBusyCount
        "bus-char-overrun-count",     // daReturnBusCharacterOverrunCount
        "clear-overrun",              // daClearOverrunCounterAndFlag
    };
    static_assert(DiagnosticActionCount == 15);
    return names;
}

const std::string& DiagnosticActionName(TDiagnosticAction Action) {
    return DiagnosticActionNames().at(Action);
}

}  // namespace quelvan::cli
