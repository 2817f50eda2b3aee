#pragma once
// The subcommands. Each Add* function declares one subcommand on the tool's command line;
// when that subcommand is chosen, parsing leaves what it runs in Choice.

#include <cstdint>
#include <functional>
#include <vector>

#include <CLI/CLI.hpp>

#include "client_request.h"
#include "item_tables.h"

namespace quelvan::cli {

struct TCommandChoice {
    std::function<int()> Run;  // returns the exit code
};

void AddPortsCommand(CLI::App& App, TCommandChoice& Choice);
void AddReadCommand(CLI::App& App, TCommandChoice& Choice);
void AddWriteCommand(CLI::App& App, TCommandChoice& Choice);
void AddMaskWriteCommand(CLI::App& App, TCommandChoice& Choice);
void AddDiagCommand(CLI::App& App, TCommandChoice& Choice);
void AddFileRecordCommands(CLI::App& App, TCommandChoice& Choice);
void AddServeCommand(CLI::App& App, TCommandChoice& Choice);
void AddSimulateCommand(CLI::App& App, TCommandChoice& Choice);
void AddNullModemCommand(CLI::App& App, TCommandChoice& Choice);

// Requests as the client commands build them (also used by the simulation's script). Each
// raises EUsageError for arguments the library would refuse.
TClientRequest MakeReadRequest(const TItemTable& Table, uint32_t Start, uint32_t Count);
TClientRequest MakeWriteCoilRequest(uint16_t Address, bool Value, bool Broadcast);
TClientRequest MakeWriteRegisterRequest(uint16_t Address, uint16_t Value, bool Broadcast);
TClientRequest MakeWriteCoilsRequest(uint16_t Start, const TBitValues& Values, bool Broadcast);
TClientRequest MakeWriteRegistersRequest(uint16_t Start, const TRegValues& Values, bool Broadcast);

}  // namespace quelvan::cli
