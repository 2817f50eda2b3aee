// quelvan simulate: a client and a server on the two ends of a virtual null-modem, running a
// scripted series of transactions and printing every frame and outcome.

#include <deque>
#include <memory>

#include "client_session.h"
#include "commands.h"
#include "exit_codes.h"
#include "line_options.h"
#include "platform/virtual_null_modem.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_server.h"
#include "request_log.h"
#include "run_control.h"

namespace quelvan::cli {

namespace {
struct TSimulateArgs {
    std::string Mode = "rtu";
    uint32_t Baud = 19200;
    bool Json = false;
};

struct TStep {
    TClientRequest Request;
    TReplyKind Expected;
    uint8_t ExpectedCode = 0;  // of an exception reply
    // The values a normal reply must carry (JSON "values"); null: not checked.
    nlohmann::json ExpectedValues = nullptr;
};

constexpr uint8_t ServerAddress = 1;

// Every command the server serves, a write by broadcast and a read that sees it, and a read
// past the end of the map, which the server refuses.
std::vector<TStep> Script() {
    const TItemTable& coils = *FindItemTable("coils");
    const TItemTable& inputs = *FindItemTable("inputs");
    const TItemTable& holding = *FindItemTable("holding");
    const TItemTable& inputRegisters = *FindItemTable("input-registers");
    return {
        {MakeReadRequest(holding, 0, 4), rkNormalReply, 0, {0, 0, 0, 0}},
        {MakeWriteRegisterRequest(3, 0xBEEF, false), rkNormalReply},
        {MakeWriteRegistersRequest(10, {1, 2, 3}, false), rkNormalReply},
        {MakeReadRequest(holding, 0, 13), rkNormalReply, 0, {0, 0, 0, 0xBEEF, 0, 0, 0, 0, 0, 0, 1, 2, 3}},
        {MakeWriteCoilRequest(7, true, false), rkNormalReply},
        {MakeWriteCoilsRequest(20, {true, false, true, true}, false), rkNormalReply},
        {MakeReadRequest(coils, 0, 24), rkNormalReply, 0,
         {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1}},
        {MakeReadRequest(inputs, 0, 8), rkNormalReply, 0, {0, 1, 0, 1, 0, 0, 0, 1}},
        {MakeReadRequest(inputRegisters, 0, 4), rkNormalReply, 0, {1000, 1001, 1002, 1003}},
        {MakeWriteRegisterRequest(5, 777, true), rkNormalReply},
        {MakeReadRequest(holding, 5, 1), rkNormalReply, 0, {777}},
        {MakeReadRequest(holding, 95, 10), rkExceptionReply, ecIllegalDataAddress},
    };
}

void DefineItems(TModbusItemMap& Items) {
    Items.Define(ikCoil, 0, 100);
    Items.Define(ikDiscreteInput, 0, 16);
    for (const uint16_t a : {1, 3, 7}) Items.SetValue(ikDiscreteInput, a, 1);
    Items.Define(ikHoldingRegister, 0, 100);
    Items.Define(ikInputRegister, 0, 10);
    for (uint16_t a = 0; a < 10; ++a) Items.SetValue(ikInputRegister, a, static_cast<uint16_t>(1000 + a));
}

// A server thread that is still preparing the line discards what arrives, so the script
// starts only once the server has answered a request.
bool WaitForServer(TModbusClient& Client) {
    TModbusConnection& connection = *Client.Connection();
    const uint32_t timeout = connection.ReceiveTimeout();
    connection.SetReceiveTimeout(200);
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered && !StopRequested(); ++attempt) {
        bool done = false;
        Client.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo& Info, uint16_t, uint16_t,
                                            const TRegValues&) {
            answered = Info.Reply == rkNormalReply;
            done = true;
        };
        Client.ReadHoldingRegisters(0, 1);
        PumpUntil([&] { return done; }, std::chrono::seconds(30));
    }
    Client.OnHoldingRegistersRead = nullptr;
    connection.SetReceiveTimeout(timeout);
    return answered;
}

std::string OutcomeText(TReplyKind Reply, uint8_t Code) {
    switch (Reply) {
    case rkNormalReply: return "normal reply";
    case rkExceptionReply: return "exception reply, code " + std::to_string(Code);
    case rkUnmatchedReply: return "unmatched reply";
    case rkNoReply: break;
    }
    return "no reply";
}

int RunSimulate(const TSimulateArgs& A) {
    platform::TVirtualNullModem cable;
    TModbusConnection clientConnection, serverConnection;
    TLineOptions line;
    line.Mode = A.Mode;
    line.Baud = A.Baud;
    line.Port = cable.PortA();
    ApplyLineOptions(clientConnection, line);
    line.Port = cable.PortB();
    ApplyLineOptions(serverConnection, line);
    serverConnection.SetConnectionMode(cmServer);
    // Bytes cross the virtual line as fast as on a real one: 8E1 is 11 bits a character.
    platform::TRelayControls paced;
    paced.BaudRate = A.Baud;
    paced.BitsPerChar = 11;
    cable.SetControls(platform::TNullModemSide::A, paced);
    cable.SetControls(platform::TNullModemSide::B, paced);

    TModbusServer server;
    server.SetAddress(ServerAddress);
    server.SetConnection(&serverConnection);
    TModbusItemMap items;
    DefineItems(items);
    items.Attach(server);
    TModbusClient client;
    client.SetServerAddress(ServerAddress);
    client.SetConnection(&clientConnection);
    const std::vector<TStep> steps = Script();

    TOutput output({A.Json, true}, clientConnection.TransmissionMode());
    if (!OpenPort(serverConnection) || !OpenPort(clientConnection)) return exPortError;
    output.Line("simulation: client on " + cable.PortA() + ", server " + std::to_string(ServerAddress) + " on " +
                    cable.PortB() + " (" + DescribeLine(clientConnection) + ")",
                {{"event", "simulation"},
                 {"client_port", cable.PortA()},
                 {"server_port", cable.PortB()},
                 {"line", DescribeLine(clientConnection)}});
    if (!WaitForServer(client)) {
        std::fprintf(stderr, "quelvan: the simulated server did not answer\n");
        return StopRequested() ? exInterrupted : exFailure;
    }
    TClientSession session(client, output, "client ");
    TRequestLog log(serverConnection, server, items, output, "server");

    std::deque<TTransactionReport> reports;  // kept until the connections close
    int passed = 0;
    for (size_t i = 0; i < steps.size() && !StopRequested(); ++i) {
        const TStep& step = steps[i];
        output.Line("", {});
        output.Line("[" + std::to_string(i + 1) + "/" + std::to_string(steps.size()) + "] " +
                        step.Request.Summary + (step.Request.Broadcast ? " (broadcast)" : ""),
                    {{"event", "step"}, {"step", i + 1}, {"request", step.Request.Summary}});
        const int logged = log.Count();
        TTransactionReport& report = reports.emplace_back();
        // The step ends when the client has its outcome and the server has logged the request.
        const bool done = session.Run(step.Request, report) &&
                          PumpUntil([&] { return log.Count() > logged; }, std::chrono::seconds(30));
        const bool asExpected =
            done && report.Info.Reply == step.Expected &&
            (step.Expected != rkExceptionReply || report.Info.RawExceptionCode == step.ExpectedCode) &&
            (step.ExpectedValues.is_null() || report.Values.value("values", nlohmann::json()) == step.ExpectedValues);
        passed += asExpected ? 1 : 0;
        const std::string expected = OutcomeText(step.Expected, step.ExpectedCode);
        report.Fields["expected"] = expected;
        report.Fields["as_expected"] = asExpected;
        if (report.Done) output.Transaction(report);
        if (!output.Json())
            output.Line(asExpected ? "  as expected" : "  UNEXPECTED: expected " + expected +
                                                           (step.ExpectedValues.is_null() ? "" : " with values " + step.ExpectedValues.dump()),
                        {});
    }
    clientConnection.Close();
    serverConnection.Close();
    if (StopRequested()) return exInterrupted;
    output.Line("", {});
    output.Line(std::to_string(passed) + " of " + std::to_string(steps.size()) +
                    " transactions had the expected outcome",
                {{"event", "summary"}, {"passed", passed}, {"steps", steps.size()}});
    return passed == static_cast<int>(steps.size()) ? exNormalReply : exFailure;
}
}  // namespace

void AddSimulateCommand(CLI::App& App, TCommandChoice& Choice) {
    auto a = std::make_shared<TSimulateArgs>();
    CLI::App* sub = App.add_subcommand(
        "simulate",
        "Run a client and a server on a virtual null-modem through a scripted series of transactions, "
        "printing every frame and outcome (no hardware needed)");
    sub->add_option("--mode", a->Mode, "Transmission mode")
        ->check(CLI::IsMember({"rtu", "ascii"}))
        ->capture_default_str();
    sub->add_option("--baud", a->Baud, "Line speed the virtual cable imitates")
        ->check(CLI::Range(1200u, 4000000u))
        ->capture_default_str();
    sub->add_flag("--json", a->Json, "Machine-readable output: one JSON object per line");
    sub->footer("Exit codes: 0 every transaction had its expected outcome, 4 usage error, 5 port error,\n"
                "6 a transaction had another outcome (or another failure), 130 interrupted.\n");
    sub->callback([a, &Choice] { Choice.Run = [a] { return RunSimulate(*a); }; });
}

}  // namespace quelvan::cli
