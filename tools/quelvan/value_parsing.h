#pragma once
// Numbers and values typed on the command line or in a map file. Every parser raises
// EUsageError naming the argument (What) and quoting the text it could not use.

#include <cstdint>
#include <string>

namespace quelvan::cli {

// A whole number, decimal or 0x-hexadecimal, from Min to Max.
uint32_t ParseNumber(const std::string& Text, const std::string& What, uint32_t Min, uint32_t Max);
// A register value or address: 0 to 65535.
uint16_t ParseWord(const std::string& Text, const std::string& What);
// A bit: 1, on, true or 0, off, false.
bool ParseBit(const std::string& Text, const std::string& What);

}  // namespace quelvan::cli
