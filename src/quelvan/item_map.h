#pragma once
// An in-memory item map that serves a TModbusServer: coils, discrete inputs, holding and
// input registers, each defined only where the application adds items. Reads and writes of
// items that are not defined are refused (exception 02), as a device with a sparse map would.
// Main thread only, like the server it serves.

#include <cstdint>
#include <functional>
#include <map>

#include "quelvan/modbus_server.h"

namespace quelvan {

enum TItemKind : uint8_t { ikCoil, ikDiscreteInput, ikHoldingRegister, ikInputRegister };

class TModbusItemMap {
public:
    // Defines Count items of Kind from Start (inclusive), all with Value.
    void Define(TItemKind Kind, uint16_t Start, uint32_t Count, uint16_t Value = 0);
    bool IsDefined(TItemKind Kind, uint16_t Address) const;
    uint16_t Value(TItemKind Kind, uint16_t Address) const;  // 0 when not defined
    void SetValue(TItemKind Kind, uint16_t Address, uint16_t Value);

    // Serves Server from this map (replaces its handlers). The map must outlive the binding.
    void Attach(TModbusServer& Server);

    // Called after a value was stored by a client's write.
    std::function<void(TItemKind Kind, uint16_t Address, uint16_t Value)> OnChanged;

private:
    std::map<uint16_t, uint16_t> items_[4];
};

}  // namespace quelvan
