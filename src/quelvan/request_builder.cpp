#include "quelvan/request_builder.h"

#include <memory>

#include "quelvan/bit_packing.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/transaction.h"

namespace quelvan {

uint32_t QueueRequest(TModbusConnection& Connection, const TModbusClient* Client, void* UserData,
                      const std::function<void(TModbusBuffer&)>& WritePDU) {
    auto t = std::make_unique<TModbusTransaction>(Connection.MaxFrameSize());
    const uint32_t id = Connection.NextTransactionID();
    t->Info() = TTransactionInfo{};
    t->Info().ID = id;
    t->Info().ServerAddress = Client ? Client->ServerAddress() : 0;
    t->Info().UserData = UserData;
    Connection.WriteRequestAddress(Client, t->RequestBuffer());
    WritePDU(t->RequestBuffer());
    Connection.WriteChecksum(t->RequestBuffer());
    Connection.QueueTransaction(std::move(t));
    return id;
}

void WriteTwoWordRequest(TModbusBuffer& B, uint8_t Command, uint16_t First, uint16_t Second) {
    B.WriteByte(Command);
    B.WriteWord(First);
    B.WriteWord(Second);
}

void WriteMultipleCoilsRequest(TModbusBuffer& B, uint16_t StartBit, const TBitValues& Values) {
    WriteTwoWordRequest(B, mcWriteMultipleCoils, StartBit, static_cast<uint16_t>(Values.size()));
    B.WriteByte(static_cast<uint8_t>(BitByteCount(static_cast<int32_t>(Values.size()))));
    PackBits(Values, B);
}

void WriteMultipleRegistersRequest(TModbusBuffer& B, uint16_t StartReg, const TRegValues& Values) {
    WriteTwoWordRequest(B, mcWriteMultipleRegisters, StartReg, static_cast<uint16_t>(Values.size()));
    B.WriteByte(static_cast<uint8_t>(2 * Values.size()));
    for (uint16_t v : Values) B.WriteWord(v);
}

}  // namespace quelvan
