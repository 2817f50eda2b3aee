#include "quelvan/item_map.h"

#include "quelvan/function_catalogue.h"

namespace quelvan {

void TModbusItemMap::Define(TItemKind Kind, uint16_t Start, uint32_t Count, uint16_t Value) {
    for (uint32_t a = Start; a < uint32_t{Start} + Count && a <= 0xFFFF; ++a)
        items_[Kind][static_cast<uint16_t>(a)] = Value;
}

bool TModbusItemMap::IsDefined(TItemKind Kind, uint16_t Address) const {
    return items_[Kind].count(Address) != 0;
}

uint16_t TModbusItemMap::Value(TItemKind Kind, uint16_t Address) const {
    auto it = items_[Kind].find(Address);
    return it == items_[Kind].end() ? 0 : it->second;
}

void TModbusItemMap::SetValue(TItemKind Kind, uint16_t Address, uint16_t Value) {
    items_[Kind][Address] = Value;
    if (OnChanged) OnChanged(Kind, Address, Value);
}

void TModbusItemMap::Attach(TModbusServer& Server) {
    Server.OnAcceptCommand = [](TModbusServer&, uint8_t, bool& Accept) { Accept = true; };
    auto canRead = [this](TItemKind kind) {
        return [this, kind](TModbusServer&, uint16_t a, bool& Allow) { Allow = IsDefined(kind, a); };
    };
    Server.OnCanReadCoil = canRead(ikCoil);
    Server.OnCanReadDiscreteInput = canRead(ikDiscreteInput);
    Server.OnCanReadHoldingRegister = canRead(ikHoldingRegister);
    Server.OnCanReadInputRegister = canRead(ikInputRegister);
    Server.OnCanWriteCoil = [this](TModbusServer&, uint16_t a, bool, TItemWriteStatus& Status) {
        Status = IsDefined(ikCoil, a) ? iwsAllowWrite : iwsIllegalAddress;
    };
    Server.OnCanWriteHoldingRegister = [this](TModbusServer&, uint16_t a, uint16_t, TItemWriteStatus& Status) {
        Status = IsDefined(ikHoldingRegister, a) ? iwsAllowWrite : iwsIllegalAddress;
    };
    auto getBit = [this](TItemKind kind) {
        return [this, kind](TModbusServer&, uint16_t a, bool& V) { V = Value(kind, a) != 0; };
    };
    Server.OnGetCoilValue = getBit(ikCoil);
    Server.OnGetDiscreteInputValue = getBit(ikDiscreteInput);
    auto getReg = [this](TItemKind kind) {
        return [this, kind](TModbusServer&, uint16_t a, uint16_t& V) { V = Value(kind, a); };
    };
    Server.OnGetHoldingRegisterValue = getReg(ikHoldingRegister);
    Server.OnGetInputRegisterValue = getReg(ikInputRegister);
    Server.OnSetCoilValue = [this](TModbusServer&, uint16_t a, bool V) { SetValue(ikCoil, a, V ? 1 : 0); };
    Server.OnSetHoldingRegisterValue = [this](TModbusServer&, uint16_t a, uint16_t V) {
        SetValue(ikHoldingRegister, a, V);
    };
}

}  // namespace quelvan
