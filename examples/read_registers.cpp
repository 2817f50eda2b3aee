// A Modbus client reading holding registers from a Modbus server, the two on the ends of a
// virtual null-modem cable (no hardware needed). With real hardware, give the client
// connection the port of your adapter ("/dev/ttyUSB0") and leave the server out.

#include <quelvan/quelvan.h>

#include <cstdio>

#include "platform/virtual_null_modem.h"

using namespace quelvan;

int main() {
    try {
        platform::TVirtualNullModem cable;

        // The server side: a connection in server mode and a server at address 1 that
        // answers from an in-memory item map.
        TModbusConnection serverLine;
        serverLine.SetPort(cable.PortB());
        serverLine.SetConnectionMode(cmServer);
        TModbusServer server;
        server.SetConnection(&serverLine);
        TModbusItemMap items;
        items.Define(ikHoldingRegister, 0, 10);
        for (uint16_t r = 0; r < 10; ++r) items.SetValue(ikHoldingRegister, r, static_cast<uint16_t>(100 + r));
        items.Attach(server);
        serverLine.Open();

        // The client side: 19200 baud 8E1 RTU (the defaults), server address 1.
        TModbusConnection clientLine;
        clientLine.SetPort(cable.PortA());
        clientLine.SetMaxRetries(3);
        clientLine.OnFrameSend = [](TModbusConnection&, const TFrameData& d) {
            std::printf("TX %zu bytes\n", d.size());
        };
        TModbusClient client;
        client.SetConnection(&clientLine);
        bool done = false, ok = false;
        client.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo& info, uint16_t start,
                                            uint16_t count, const TRegValues& values) {
            done = true;
            ok = info.Reply == rkNormalReply;
            std::printf("transaction %u: %s after %u attempt(s)\n", info.ID,
                        ok ? "normal reply" : "no valid reply", info.Attempts);
            for (uint16_t i = 0; i < count; ++i) std::printf("  register %u = %u\n", start + i, values[i]);
        };
        clientLine.Open();

        client.ReadHoldingRegisters(0, 10);  // returns the transaction ID at once
        // Results arrive as events while the main thread processes messages.
        Application().ProcessMessagesUntil([&] { return done; }, std::chrono::seconds(10));
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "read_registers: %s\n", e.what());
        return 2;
    }
}
