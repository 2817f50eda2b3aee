// The connection's broadcast writes: the client's write requests sent to address 0. No
// event ever reports them; the thread waits TurnaroundDelay after sending and frees them.

#include "quelvan/function_catalogue.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/request_builder.h"

namespace quelvan {

uint32_t TModbusConnection::BroadcastWriteSingleCoil(uint16_t BitAddr, bool BitValue, void* UserData) {
    CheckActive();
    return QueueRequest(*this, nullptr, UserData, [&](TModbusBuffer& B) {
        WriteTwoWordRequest(B, mcWriteSingleCoil, BitAddr, BitValue ? CoilOn : CoilOff);
    });
}

uint32_t TModbusConnection::BroadcastWriteSingleRegister(uint16_t RegAddr, uint16_t RegValue,
                                                         void* UserData) {
    CheckActive();
    return QueueRequest(*this, nullptr, UserData, [&](TModbusBuffer& B) {
        WriteTwoWordRequest(B, mcWriteSingleRegister, RegAddr, RegValue);
    });
}

uint32_t TModbusConnection::BroadcastWriteMultipleCoils(uint16_t StartBit, const TBitValues& BitValues,
                                                        void* UserData) {
    CheckActive();
    ValidateRange(mcWriteMultipleCoils, StartBit, static_cast<uint32_t>(BitValues.size()));
    return QueueRequest(*this, nullptr, UserData,
                        [&](TModbusBuffer& B) { WriteMultipleCoilsRequest(B, StartBit, BitValues); });
}

uint32_t TModbusConnection::BroadcastWriteMultipleRegisters(uint16_t StartReg, const TRegValues& RegValues,
                                                            void* UserData) {
    CheckActive();
    ValidateRange(mcWriteMultipleRegisters, StartReg, static_cast<uint32_t>(RegValues.size()));
    return QueueRequest(*this, nullptr, UserData, [&](TModbusBuffer& B) {
        WriteMultipleRegistersRequest(B, StartReg, RegValues);
    });
}

}  // namespace quelvan
