#include "client_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "exit_codes.h"
#include "quelvan/modbus_connection.h"
#include "run_control.h"
#include "usage_error.h"

namespace quelvan::cli {

void AddClientOptions(CLI::App& App, TClientOptions& O) {
    AddLineOptions(App, O.Line, true);
    AddOutputOptions(App, O.Output);
    App.add_option("--poll", O.Poll, "Repeat the request, waiting SECONDS between transactions, until interrupted")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string& Text) -> std::string {
                double seconds = 0;
                if (!CLI::detail::lexical_cast(Text, seconds) || !(seconds >= 0.001 && seconds <= 86400.0 * 365))
                    return "'" + Text + "' is not a time between 0.001 and 31536000 seconds";
                return {};
            },
            ""));
}

namespace {
// Leaves only the handler the next request sets, so a late event of an abandoned
// transaction finds nobody.
void ClearEvents(TModbusClient& C) {
    C.OnCoilsRead = nullptr;
    C.OnDiagnostics = nullptr;
    C.OnDiscreteInputsRead = nullptr;
    C.OnFileRecordRead = nullptr;
    C.OnFileRecordWrite = nullptr;
    C.OnHoldingRegistersRead = nullptr;
    C.OnInputRegistersRead = nullptr;
    C.OnMultipleCoilsWrite = nullptr;
    C.OnMultipleRegistersWrite = nullptr;
    C.OnSingleCoilWrite = nullptr;
    C.OnSingleRegisterMaskWrite = nullptr;
    C.OnSingleRegisterWrite = nullptr;
}

// The library reports every transaction exactly once, after at most MaxRetries attempts of a
// send and a receive time-out each. This bound only guards against a wait that would never
// end; it is far above anything a working line takes.
std::chrono::milliseconds OutcomeBound(const TModbusConnection& C) {
    const uint64_t attempt = uint64_t{C.SendTimeout()} + C.ReceiveTimeout() + C.RefetchDelay() +
                             C.TurnaroundDelay() + 5000;
    const uint64_t attempts = std::min<uint64_t>(C.MaxRetries(), 1000000);
    return std::chrono::milliseconds(static_cast<int64_t>(attempt * attempts + 30000));
}
}  // namespace

TClientSession::TClientSession(TModbusClient& Client, TOutput& Output, const std::string& LabelPrefix)
    : client_(Client) {
    TModbusConnection& connection = *Client.Connection();
    connection.OnFrameSend = [this, &Output, tx = LabelPrefix + "TX"](TModbusConnection&, const TFrameData& Data) {
        ++framesSent_;
        Output.Frame(tx, Data);
    };
    connection.OnFrameReceive = [&Output, rx = LabelPrefix + "RX"](TModbusConnection&, const TFrameData& Data) {
        Output.Frame(rx, Data);
    };
}

bool TClientSession::Run(const TClientRequest& Request, TTransactionReport& Report) {
    TModbusConnection& connection = *client_.Connection();
    Report.Summary = Request.Summary;
    Report.Fields = Request.Fields;
    Report.Broadcast = Request.Broadcast;
    ClearEvents(client_);
    const int sentBefore = framesSent_;
    Report.Info.ID = Request.Issue(client_, Report);
    if (!Request.Broadcast) return PumpUntil([&] { return Report.Done; }, OutcomeBound(connection));

    // No event reports a broadcast: it is done once its frame is on its way. Closing the
    // connection waits for it to leave.
    Report.Info.ServerAddress = 0;
    if (!PumpUntil([&] { return framesSent_ > sentBefore; }, OutcomeBound(connection))) return false;
    Report.Info.Attempts = 1;
    Report.Info.Reply = rkNormalReply;
    Report.Done = true;
    return true;
}

int RunClient(const TClientOptions& O, const TClientRequest& Request) {
    TModbusConnection connection;
    TModbusClient client;
    client.SetConnection(&connection);
    ApplyLineOptions(connection, O.Line);
    if (!Request.Broadcast) {
        const uint8_t address = ParseAddress(O.Line);
        CheckArgument("--address", [&] { client.SetServerAddress(address); });
    }
    TOutput output(O.Output, connection.TransmissionMode());
    TClientSession session(client, output);
    if (!OpenPort(connection)) return exPortError;

    int result = exInterrupted;
    TTransactionReport report;  // one object, so that a late event never finds it gone
    for (;;) {
        report = TTransactionReport{};
        if (!session.Run(Request, report)) {
            if (!StopRequested()) {
                std::fprintf(stderr, "quelvan: %s: no outcome was reported\n", Request.Summary.c_str());
                result = exFailure;
            }
            break;
        }
        output.Transaction(report);
        result = ExitCodeFor(report.Info.Reply);
        if (LineFailed()) result = exPortError;
        if (O.Poll <= 0 || StopRequested() || LineFailed()) break;
        PumpUntil([] { return false; }, std::chrono::milliseconds(static_cast<int64_t>(O.Poll * 1000)));
        if (StopRequested()) break;
    }
    connection.Close();
    return LineFailed() ? exPortError : result;
}

}  // namespace quelvan::cli
