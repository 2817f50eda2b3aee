#pragma once
// Our side of an interop test, whichever loop delivers the main thread's messages (Quelvan's
// own or Qt's): waiting for a client event, and opening a server before a peer client talks to
// it.

#include <cstdint>
#include <functional>
#include <string>

#include "interop/line_case.h"
#include "quelvan/modbus_connection.h"
#include "support/client_event_log.h"

namespace quelvan::interop {

// Waits, delivering main-thread messages, until Condition holds or TimeoutMs pass; returns
// whether it held.
using TPump = std::function<bool(const std::function<bool()>& Condition, int TimeoutMs)>;

// The event of transaction ID, waiting for it (a failed expectation when it never comes; an
// event with every field zero is returned then).
const test::TClientEvent& AwaitEvent(const test::TClientEventLog& Log, uint32_t ID, const TPump& Pump);

// Opens Server (a server-mode connection with a server bound at Address) and returns once that
// server answers a request, normally or with an exception. A server connection that has just
// opened is still clearing the line and discards what arrives meanwhile, so a peer's first
// request could vanish: a temporary client of ours on ClientPort asks until the server answers
// and is closed again before the peer opens that port. False when the server never answered.
bool OpenServerAndAwaitIt(TModbusConnection& Server, uint8_t Address, const std::string& ClientPort,
                          const TLineCase& Line, const TPump& Pump);

}  // namespace quelvan::interop
