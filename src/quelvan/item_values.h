#pragma once
// Runs of item values exchanged with the application: one Boolean per coil or discrete input,
// one 16-bit word per register.

#include <cstdint>
#include <vector>

namespace quelvan {

using TBitValues = std::vector<bool>;
using TRegValues = std::vector<uint16_t>;

}  // namespace quelvan
