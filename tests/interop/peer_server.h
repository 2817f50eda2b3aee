#pragma once
// A peer's server as the interop checks see it: its tables, laid out as TItemLayout, seeded
// and read back by mapping address. Main thread only; an implementation whose server runs on
// another thread synchronizes inside.

#include <cstdint>

#include "interop/item_layout.h"

namespace quelvan::interop {

class IPeerServer {
public:
    virtual void SetDiscreteInput(uint16_t Address, bool Value) = 0;
    virtual void SetInputRegister(uint16_t Address, uint16_t Value) = 0;
    virtual void SetHoldingRegister(uint16_t Address, uint16_t Value) = 0;
    virtual bool Coil(uint16_t Address) = 0;
    virtual uint16_t HoldingRegister(uint16_t Address) = 0;

protected:
    ~IPeerServer() = default;
};

}  // namespace quelvan::interop
