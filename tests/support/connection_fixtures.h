#pragma once
// Connections for tests: one on a scripted fake line, and a client/server pair on the two
// ends of a virtual null-modem.

#include <memory>

#include "platform/fake_serial_device.h"
#include "platform/virtual_null_modem.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "support/client_event_log.h"

namespace quelvan::test {

// Points Connection at a new fake line and returns the line.
std::shared_ptr<platform::TFakeSerialLine> UseFakeLine(TModbusConnection& Connection);

// A client connection (with a bound client at address 1 and an event log) or a server
// connection on a fake line; not opened.
struct TFakeClient {
    explicit TFakeClient(TTransmissionMode Mode = tmRTU);
    TModbusConnection Connection;
    std::shared_ptr<platform::TFakeSerialLine> Line;
    TModbusClient Client;
    TClientEventLog Log{Client};
    TTransmissionMode Mode;
};

// Client and server connections on the two ends of a null-modem; the server (address 1)
// answers from Items. Not opened until Open().
struct TModbusPair {
    explicit TModbusPair(TTransmissionMode Mode = tmRTU);
    void Open();

    platform::TVirtualNullModem Modem;
    TModbusConnection ClientConnection;
    TModbusConnection ServerConnection;
    TModbusClient Client;
    TModbusServer Server;
    TModbusItemMap Items;
    TClientEventLog Log{Client};
    TTransmissionMode Mode;
};

}  // namespace quelvan::test
