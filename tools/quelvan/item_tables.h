#pragma once
// The four item tables of a Modbus server as the tool names them: on the command line
// (`read holding ...`, `serve --holding ...`), in map files and in printed values.

#include <cstdint>
#include <string>
#include <vector>

#include "quelvan/item_map.h"

namespace quelvan::cli {

struct TItemTable {
    const char* Name;       // command-line name: coils, inputs, holding, input-registers
    const char* ItemLabel;  // one item in printed values: coil, input, holding, input-register
    const char* Description;  // in help texts: "holding registers"
    TItemKind Kind;
    uint8_t ReadCommand;
    bool IsBit;             // one bit per item (coils, discrete inputs), else a 16-bit register
};

const std::vector<TItemTable>& ItemTables();
const std::vector<std::string>& ItemTableNames();
// Null when Name is not a table's name.
const TItemTable* FindItemTable(const std::string& Name);

}  // namespace quelvan::cli
