#pragma once
// The items a server serves, as given on the command line (`--holding 0-99=0`) or in a map
// file, one range per line:
//
//     # comment
//     coils 0-99
//     holding 0-99 = 0
//     input-registers 7 = 0x1234
//
// A range is START or START-END (inclusive), optionally = VALUE for every item (0/1 for
// bits, 0-65535 for registers; default 0).

#include <cstdint>
#include <string>
#include <vector>

#include "item_tables.h"

namespace quelvan::cli {

struct TItemRange {
    const TItemTable* Table;
    uint16_t Start;
    uint32_t Count;
    uint16_t Value;
};

// Raises EUsageError naming What and quoting the bad part.
TItemRange ParseItemRange(const TItemTable& Table, const std::string& Text, const std::string& What);
// Raises EUsageError "<Path>:<line>: ..." for the first bad line, or when Path cannot be read.
std::vector<TItemRange> ReadItemMapFile(const std::string& Path);
// "holding 0-99 = 0".
std::string DescribeItemRange(const TItemRange& Range);

}  // namespace quelvan::cli
