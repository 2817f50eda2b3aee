#pragma once
// The options every subcommand that talks on a line shares: the port and its settings, the
// Modbus address, timing, and how the outcome is printed.

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "quelvan/modbus_connection.h"

namespace quelvan::cli {

struct TLineOptions {
    std::string Port;
    std::string Mode = "rtu";
    uint32_t Baud = 19200;
    int DataBits = 8;
    std::string Parity = "even";
    int StopBits = 1;
    std::string Flow = "none";
    std::string Address = "1";
    uint32_t Timeout = 1000;
    uint32_t Retries = 1;
    uint32_t SilentInterval = 4;
    bool Echo = false;
};

struct TOutputOptions {
    bool Json = false;
    bool Frames = false;
};

// Adds --port, --mode, --baud, --data-bits, --parity, --stop-bits, --flow, --address,
// --silent-interval and, for a client, --timeout, --retries and --echo.
void AddLineOptions(CLI::App& App, TLineOptions& Options, bool Client);
// Adds --json and --frames.
void AddOutputOptions(CLI::App& App, TOutputOptions& Options);

// Sets the connection's properties (it must be closed); a value the connection refuses raises
// EUsageError naming the option, with the library's text.
void ApplyLineOptions(TModbusConnection& Connection, const TLineOptions& Options);
// The --address value as a byte; a number above 255 raises the library's range message.
uint8_t ParseAddress(const TLineOptions& Options);
// "RTU, 19200 baud 8E1".
std::string DescribeLine(const TModbusConnection& Connection);

// Opens the connection. When the port cannot be opened or configured, prints
// "quelvan: --port <name>: <library text>" and returns false.
bool OpenPort(TModbusConnection& Connection);

}  // namespace quelvan::cli
