#pragma once
// Our side of an interop test, whichever loop delivers the main thread's messages (Quelvan's
// own or Qt's): our client with its event log, and our server with the common item layout.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "interop/line_case.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "support/client_event_log.h"

namespace quelvan::interop {

// Waits, delivering main-thread messages, until Condition holds or TimeoutMs pass; returns
// whether it held.
using TPump = std::function<bool(const std::function<bool()>& Condition, int TimeoutMs)>;

// Our client (talking to address 1) on Port, open, with generous time-outs.
struct TOurClientSide {
    TOurClientSide(const std::string& Port, const TLineCase& Line, TPump Pump);
    // The event of transaction ID, waiting for it (a failed expectation when it never comes; an
    // event with every field zero is returned then).
    const test::TClientEvent& Await(uint32_t ID);

    TPump Pump;
    TModbusConnection Connection;
    TModbusClient Client;
    test::TClientEventLog Log{Client};
};

// Our server at address 1 on ServerPort, serving TItemLayout from Items, open and answering.
//
// A server connection that has just opened is still clearing the line and discards what
// arrives meanwhile, so a peer's first request could vanish: a temporary client of ours on
// ClientPort asks until the server answers and is closed again before the peer opens that port.
// Ready tells whether it answered; the frame logs start after that.
struct TOurServerSide {
    TOurServerSide(const std::string& ServerPort, const std::string& ClientPort, const TLineCase& Line,
                   const TPump& Pump);

    TModbusConnection Connection;
    TModbusServer Server;
    TModbusItemMap Items;
    bool Ready = false;
    std::vector<TFrameData> Received, Sent;  // line bytes of each frame
};

}  // namespace quelvan::interop
