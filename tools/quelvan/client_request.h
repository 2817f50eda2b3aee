#pragma once
// A client command built from the command line: validated when it is built, before any port
// is opened, so that a bad argument sends nothing.

#include <cstdint>
#include <functional>
#include <string>

#include "output.h"
#include "quelvan/modbus_client.h"

namespace quelvan::cli {

struct TClientRequest {
    std::string Summary;                               // "read holding registers 0-9"
    nlohmann::json Fields = nlohmann::json::object();  // "command" and its arguments
    bool Broadcast = false;
    // Sets the client event that completes Report (through Finish) and issues the request:
    // on the client, or for a broadcast on the client's connection. Returns the transaction ID.
    std::function<uint32_t(TModbusClient& Client, TTransactionReport& Report)> Issue;
};

// Takes an outcome into Report. False, and Report unchanged, when the event is not the
// transaction Report waits for (one that ended after its wait was given up).
bool Finish(TModbusClient& Client, TTransactionReport& Report, const TTransactionInfo& Info);

// Checks a counted command's start and count with the library's own rules and texts; the
// message names StartName or CountName, whichever the library refused.
void ValidateCounted(uint8_t Command, uint32_t Start, uint32_t Count, const std::string& StartName,
                     const std::string& CountName);

}  // namespace quelvan::cli
