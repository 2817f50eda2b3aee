#pragma once
// Where every server in the interop tests, ours and the peers', has items. Anything outside is
// refused with exception 02; the tables that do not start at 0 also show refusals below them.

#include <cstdint>

namespace quelvan::interop {

struct TItemLayout {
    static constexpr uint16_t CoilStart = 0, CoilCount = 2100;
    static constexpr uint16_t InputStart = 1000, InputCount = 2000;
    static constexpr uint16_t HoldingStart = 0, HoldingCount = 200;
    static constexpr uint16_t InputRegStart = 500, InputRegCount = 130;
};

}  // namespace quelvan::interop
