#include "support/client_event_log.h"

namespace quelvan::test {

TClientEventLog::TClientEventLog(TModbusClient& Client) {
    auto bits = [this](const char* kind) {
        return [this, kind](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t C,
                            const TBitValues& V) {
            TClientEvent e{kind, I, S, C};
            e.Bits = V;
            events_.push_back(e);
        };
    };
    auto regs = [this](const char* kind) {
        return [this, kind](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t C,
                            const TRegValues& V) {
            TClientEvent e{kind, I, S, C};
            e.Regs = V;
            events_.push_back(e);
        };
    };
    auto files = [this](const char* kind) {
        return [this, kind](TModbusClient&, const TTransactionInfo& I, TModbusFileRecordList& L) {
            TClientEvent e{kind, I};
            for (int32_t i = 0; i < L.Count(); ++i) {
                const TModbusFileRecord& r = L.Items(i);
                TRecordedFileRecord rec{r.FileNumber(), r.StartReg(), {}};
                for (int32_t k = 0; k < r.RegCount(); ++k) rec.Values.push_back(r.RegValues(k));
                e.Records.push_back(rec);
            }
            events_.push_back(e);
        };
    };
    Client.OnCoilsRead = bits("CoilsRead");
    Client.OnDiscreteInputsRead = bits("DiscreteInputsRead");
    Client.OnMultipleCoilsWrite = bits("MultipleCoilsWrite");
    Client.OnHoldingRegistersRead = regs("HoldingRegistersRead");
    Client.OnInputRegistersRead = regs("InputRegistersRead");
    Client.OnMultipleRegistersWrite = regs("MultipleRegistersWrite");
    Client.OnFileRecordRead = files("FileRecordRead");
    Client.OnFileRecordWrite = files("FileRecordWrite");
    Client.OnDiagnostics = [this](TModbusClient&, const TTransactionInfo& I, TDiagnosticAction A, uint16_t R) {
        TClientEvent e{"Diagnostics", I};
        e.Action = A;
        e.Result = R;
        events_.push_back(e);
    };
    Client.OnSingleCoilWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, bool V) {
        TClientEvent e{"SingleCoilWrite", I, A};
        e.BitValue = V;
        events_.push_back(e);
    };
    Client.OnSingleRegisterWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, uint16_t V) {
        TClientEvent e{"SingleRegisterWrite", I, A};
        e.RegValue = V;
        events_.push_back(e);
    };
    Client.OnSingleRegisterMaskWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A,
                                              uint16_t AndMask, uint16_t OrMask) {
        TClientEvent e{"SingleRegisterMaskWrite", I, A};
        e.AndMask = AndMask;
        e.OrMask = OrMask;
        events_.push_back(e);
    };
}

const TClientEvent* TClientEventLog::Find(uint32_t ID) const {
    for (const TClientEvent& e : events_)
        if (e.Info.ID == ID) return &e;
    return nullptr;
}

}  // namespace quelvan::test
