#include "item_oracle.h"

#include <algorithm>
#include <random>

namespace quelvan::test {

void TPossibleValues::AddPossible(uint16_t Value) {
    if (std::find(values_.begin(), values_.end(), Value) == values_.end()) values_.push_back(Value);
}

void TPossibleValues::Settle(uint16_t Value, uint64_t Sequence) {
    values_.assign(1, Value);
    std::erase_if(strays_, [Sequence](const auto& s) { return s.first < Sequence; });
}

void TPossibleValues::AddStray(uint16_t Value, uint64_t Sequence) { strays_.emplace_back(Sequence, Value); }

bool TPossibleValues::Contains(uint16_t Value) const {
    return std::find(values_.begin(), values_.end(), Value) != values_.end() ||
           std::any_of(strays_.begin(), strays_.end(), [Value](const auto& s) { return s.second == Value; });
}

uint16_t TItemLayout::Size(TItemKind Kind) {
    switch (Kind) {
    case ikCoil: return Coils;
    case ikDiscreteInput: return DiscreteInputs;
    case ikHoldingRegister: return HoldingRegisters;
    case ikInputRegister: return InputRegisters;
    }
    return 0;
}

void FillItems(TModbusItemMap& Map, uint64_t Seed) {
    std::mt19937_64 rng(Seed);
    for (TItemKind kind : {ikCoil, ikDiscreteInput, ikHoldingRegister, ikInputRegister}) {
        const bool bits = kind == ikCoil || kind == ikDiscreteInput;
        Map.Define(kind, 0, TItemLayout::Size(kind));
        for (uint16_t a = 0; a < TItemLayout::Size(kind); ++a)
            Map.SetValue(kind, a, static_cast<uint16_t>(bits ? rng() & 1 : rng() & 0xFFFF));
    }
}

TItemOracle::TItemOracle(const TModbusItemMap& Map) {
    for (TItemKind kind : {ikCoil, ikDiscreteInput, ikHoldingRegister, ikInputRegister})
        for (uint16_t a = 0; a < TItemLayout::Size(kind); ++a) items_[kind].emplace_back(Map.Value(kind, a));
}

}  // namespace quelvan::test
