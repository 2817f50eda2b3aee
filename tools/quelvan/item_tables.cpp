#include "item_tables.h"

#include "quelvan/function_catalogue.h"

namespace quelvan::cli {

const std::vector<TItemTable>& ItemTables() {
    static const std::vector<TItemTable> tables = {
        {"coils", "coil", "coils", ikCoil, mcReadCoils, true},
        {"inputs", "input", "discrete inputs", ikDiscreteInput, mcReadDiscreteInputs, true},
        {"holding", "holding", "holding registers", ikHoldingRegister, mcReadHoldingRegisters, false},
        {"input-registers", "input-register", "input registers", ikInputRegister, mcReadInputRegisters, false},
    };
    return tables;
}

const std::vector<std::string>& ItemTableNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const TItemTable& t : ItemTables()) n.emplace_back(t.Name);
        return n;
    }();
    return names;
}

const TItemTable* FindItemTable(const std::string& Name) {
    for (const TItemTable& t : ItemTables())
        if (Name == t.Name) return &t;
    return nullptr;
}

}  // namespace quelvan::cli
