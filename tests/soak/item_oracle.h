#pragma once
// What a client may read back from a server's items when it writes them over a lossy line.
//
// A write whose reply is lost may or may not have taken effect, and may still take effect
// after the client gave up on it (its request was on the way). So each item keeps the set of
// values it may hold, as far as the client can know: a write with an unknown outcome adds its
// value; an acknowledged write, or a read answered by the server, settles the item to one
// value again. This is sound because the line never reorders and one connection sends its
// transactions one after the other: whatever was sent before a request is handled before it.
//
// One exception: a damaged request whose checksum still holds (rare in RTU, less so with
// ASCII's 8-bit LRC) makes the server write a value nobody sent, at a point the client does
// not see. The rig learns of such "stray" writes on the server side and records them with the
// number of the request the server was handling; a later settlement only discards strays that
// the settling request was handled after.

#include <cstdint>
#include <utility>
#include <vector>

#include "quelvan/item_map.h"

namespace quelvan::test {

class TPossibleValues {
public:
    explicit TPossibleValues(uint16_t Initial = 0) : values_{Initial} {}

    // A write of Value with an unknown outcome.
    void AddPossible(uint16_t Value);
    // The server held Value when it handled its request number Sequence.
    void Settle(uint16_t Value, uint64_t Sequence);
    // The server wrote Value from a damaged request while handling request number Sequence.
    void AddStray(uint16_t Value, uint64_t Sequence);

    bool Contains(uint16_t Value) const;
    size_t Size() const { return values_.size() + strays_.size(); }

private:
    std::vector<uint16_t> values_;
    std::vector<std::pair<uint64_t, uint16_t>> strays_;  // (request number, value)
};

// The items a soak server defines; everything outside is refused with exception 02.
struct TItemLayout {
    static constexpr uint16_t Coils = 2000;
    static constexpr uint16_t DiscreteInputs = 2000;
    static constexpr uint16_t HoldingRegisters = 250;
    static constexpr uint16_t InputRegisters = 250;
    static uint16_t Size(TItemKind Kind);
    // First address of a range that is never defined.
    static constexpr uint16_t Undefined = 30000;
};

// Defines the layout in Map with values drawn from Seed.
void FillItems(TModbusItemMap& Map, uint64_t Seed);

// The possible values of every item of one server, starting from its map.
class TItemOracle {
public:
    explicit TItemOracle(const TModbusItemMap& Map);
    TPossibleValues& Item(TItemKind Kind, uint16_t Address) { return items_[Kind][Address]; }
    const TPossibleValues& Item(TItemKind Kind, uint16_t Address) const { return items_[Kind][Address]; }

private:
    std::vector<TPossibleValues> items_[4];
};

}  // namespace quelvan::test
