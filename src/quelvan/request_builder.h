#pragma once
// Building and queueing requests: shared by the client's calls and the connection's
// broadcast calls, which send the same layouts to address 0.

#include <cstdint>
#include <functional>

#include "quelvan/item_values.h"
#include "quelvan/modbus_buffer.h"

namespace quelvan {

class TModbusConnection;
class TModbusClient;

// Creates a transaction, takes its ID, writes the address (the client's server, or 0 without
// a client), the PDU and the checksum, and queues it. Returns the ID. When anything raises,
// the transaction is freed and the error passes on (the ID is then used up).
uint32_t QueueRequest(TModbusConnection& Connection, const TModbusClient* Client, void* UserData,
                      const std::function<void(TModbusBuffer&)>& WritePDU);

// PDU writers (command byte and fields).
void WriteTwoWordRequest(TModbusBuffer& B, uint8_t Command, uint16_t First, uint16_t Second);
void WriteMultipleCoilsRequest(TModbusBuffer& B, uint16_t StartBit, const TBitValues& Values);
void WriteMultipleRegistersRequest(TModbusBuffer& B, uint16_t StartReg, const TRegValues& Values);

}  // namespace quelvan
