// quelvan diag ACTION

#include <algorithm>
#include <memory>

#include "client_session.h"
#include "commands.h"
#include "request_text.h"

namespace quelvan::cli {

namespace {
TClientRequest MakeDiagRequest(TDiagnosticAction Action) {
    TClientRequest r;
    r.Summary = CommandName(mcDiagnostics) + " " + DiagnosticActionName(Action);
    r.Fields = {{"command", "diag"}, {"action", DiagnosticActionName(Action)}};
    r.Issue = [Action](TModbusClient& C, TTransactionReport& R) {
        C.OnDiagnostics = [&R](TModbusClient& Sender, const TTransactionInfo& Info, TDiagnosticAction A,
                               uint16_t Result) {
            if (!Finish(Sender, R, Info)) return;
            if (DiagnosticReplyEchoes(A)) {
                R.ValueLines.push_back("the server echoed the request's data");
            } else {
                R.ValueLines.push_back("result = " + FormatRegister(Result));
                R.Values["result"] = Result;
            }
        };
        return C.Diagnostics(Action);
    };
    return r;
}
}  // namespace

void AddDiagCommand(CLI::App& App, TCommandChoice& Choice) {
    struct TArgs {
        TClientOptions Options;
        std::string Action;
    };
    auto a = std::make_shared<TArgs>();
    CLI::App* sub = App.add_subcommand("diag", "Run a diagnostic action (command 0x08)");
    std::string actions;
    for (const std::string& n : DiagnosticActionNames()) actions += (actions.empty() ? "" : ", ") + n;
    sub->add_option("ACTION", a->Action, "One of: " + actions)
        ->required()
        ->check(CLI::IsMember(DiagnosticActionNames()));
    AddClientOptions(*sub, a->Options);
    sub->callback([a, &Choice] {
        Choice.Run = [a] {
            const auto& names = DiagnosticActionNames();
            const auto index = std::find(names.begin(), names.end(), a->Action) - names.begin();
            return RunClient(a->Options, MakeDiagRequest(static_cast<TDiagnosticAction>(index)));
        };
    });
}

}  // namespace quelvan::cli
