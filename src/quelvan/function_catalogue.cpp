#include "quelvan/function_catalogue.h"

#include "quelvan/errors.h"

namespace quelvan {

namespace {
// 2008 and 1976 rather than the 2000 and 1968 of the protocol documents: the most bits whose
// byte count (251, 247) still fits the frame buffer.
constexpr TCountLimit CountLimits[] = {
    {mcReadCoils, 2008, msgDiscreteCount, msgStartDiscreteIndex},
    {mcReadDiscreteInputs, 2008, msgDiscreteCount, msgStartDiscreteIndex},
    {mcReadHoldingRegisters, 125, msgRegisterCount, msgStartRegisterIndex},
    {mcReadInputRegisters, 125, msgRegisterCount, msgStartRegisterIndex},
    {mcWriteMultipleCoils, 1976, msgDiscreteCount, msgStartDiscreteIndex},
    {mcWriteMultipleRegisters, 123, msgRegisterCount, msgStartRegisterIndex},
};

struct TDiagnosticEntry {
    uint16_t SubFunction;
    bool ReplyEchoes;
};
constexpr TDiagnosticEntry DiagnosticTable[DiagnosticActionCount] = {
    {0x0000, true},  {0x0001, true},  {0x0001, true},  {0x0002, false}, {0x0004, false},
    {0x000A, true},  {0x000B, false}, {0x000C, false}, {0x000D, false}, {0x000E, false},
    {0x000F, false}, {0x0010, false}, {0x0011, false}, {0x0012, false}, {0x0014, true},
};
}  // namespace

const TCountLimit* FindCountLimit(uint8_t Command) {
    for (const TCountLimit& l : CountLimits)
        if (l.Command == Command) return &l;
    return nullptr;
}

TRangeCheck CheckRange(const TCountLimit& Limit, uint32_t Start, uint32_t Count) {
    if (Count < 1 || Count > Limit.MaxCount) return TRangeCheck::BadCount;
    if (Start + Count - 1 > 0xFFFF) return TRangeCheck::BadAddress;
    return TRangeCheck::Ok;
}

void ValidateRange(uint8_t Command, uint32_t Start, uint32_t Count) {
    const TCountLimit* limit = FindCountLimit(Command);
    if (!limit) return;
    switch (CheckRange(*limit, Start, Count)) {
    case TRangeCheck::BadCount: RaiseErrorFmt(limit->CountMessage, {limit->MaxCount});
    case TRangeCheck::BadAddress: RaiseErrorFmt(limit->AddressMessage, {Start});
    case TRangeCheck::Ok: break;
    }
}

uint16_t DiagnosticSubFunction(TDiagnosticAction Action) {
    return DiagnosticTable[Action].SubFunction;
}

uint16_t DiagnosticRequestData(TDiagnosticAction Action) {
    switch (Action) {
    case daReturnQueryData: return 0xA537;
    case daRestartCommsOptionAndClearEventLog: return 0xFF00;
    default: return 0x0000;
    }
}

bool DiagnosticReplyEchoes(TDiagnosticAction Action) { return DiagnosticTable[Action].ReplyEchoes; }

TDiagnosticAction DiagnosticActionFromRequest(uint16_t SubFunction, uint16_t Data) {
    for (int i = 0; i < DiagnosticActionCount; ++i) {
        if (DiagnosticTable[i].SubFunction != SubFunction) continue;
        auto action = static_cast<TDiagnosticAction>(i);
        if (action == daRestartCommsOption && Data == 0xFF00) return daRestartCommsOptionAndClearEventLog;
        return action;
    }
    RaiseError(msgDiagnosticAction);
}

}  // namespace quelvan
