#pragma once
// Running client requests on an open connection, one at a time, and the client subcommands'
// shared main loop (one transaction, or one every --poll seconds until a signal).

#include <string>

#include <CLI/CLI.hpp>

#include "client_request.h"
#include "line_options.h"
#include "output.h"
#include "quelvan/modbus_client.h"

namespace quelvan::cli {

struct TClientOptions {
    TLineOptions Line;
    TOutputOptions Output;
    double Poll = 0;  // seconds between transactions; 0: one transaction
};

// The line and output options, --poll, and the client's --address.
void AddClientOptions(CLI::App& App, TClientOptions& Options);

class TClientSession {
public:
    // Prints the frames of Client's connection through Output, labelled LabelPrefix + "TX"/"RX".
    TClientSession(TModbusClient& Client, TOutput& Output, const std::string& LabelPrefix = "");

    // Issues Request and pumps messages until its outcome is in Report. Report must live until
    // the client is destroyed or the connection closed. False when a stop was requested first,
    // or when no outcome arrived well after the connection's time-outs and retries.
    bool Run(const TClientRequest& Request, TTransactionReport& Report);

private:
    TModbusClient& client_;
    int framesSent_ = 0;
};

// Opens the port, runs Request (repeating with --poll) and returns the exit code of the last
// outcome. Raises EUsageError, before opening anything, for an option the connection refuses.
int RunClient(const TClientOptions& Options, const TClientRequest& Request);

}  // namespace quelvan::cli
