#pragma once
// How requests and values read in the tool's output, shared by the client commands (what
// they sent) and the server's log (what it received), so both sides print the same words.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/function_catalogue.h"

namespace quelvan::cli {

// "read holding registers"; a command the library does not know: "function 0x41".
std::string CommandName(uint8_t Command);
// "read holding registers 0-9"; a range that is empty or runs past 65535 is shown as
// "read holding registers from 65530, count 10".
std::string DescribeRange(uint8_t Command, uint32_t Start, uint32_t Count);
// "write single register 3 = 48879 (0xBEEF)", "write single coil 7 = on".
std::string DescribeSingleWrite(uint8_t Command, uint16_t Address, uint16_t Value);
std::string DescribeMaskWrite(uint16_t Address, uint16_t AndMask, uint16_t OrMask);
// "48879 (0xBEEF)".
std::string FormatRegister(uint16_t Value);
std::string Hex4(uint16_t Value);  // "0xBEEF"

// The readable names of the diagnostic actions, in TDiagnosticAction order
// ("return-query-data", "restart-comms", ...).
const std::vector<std::string>& DiagnosticActionNames();
const std::string& DiagnosticActionName(TDiagnosticAction Action);

}  // namespace quelvan::cli
