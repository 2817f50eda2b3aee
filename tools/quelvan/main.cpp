// quelvan: a Modbus RTU/ASCII client, server and simulator for serial lines.
// The subcommands are in commands.h; the exit codes in exit_codes.h.

#include <cstdio>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "error_text.h"
#include "exit_codes.h"
#include "platform/application.h"
#include "run_control.h"
#include "usage_error.h"

using namespace quelvan::cli;

int main(int argc, char** argv) {
    InstallRunControl();
    CLI::App app{"quelvan: Modbus RTU and ASCII over serial lines: client commands, a server, a simulation."};
    app.name("quelvan");
    app.require_subcommand(1);
    app.footer("Exit codes of the client commands: 0 normal reply, 1 exception reply, 2 no reply, 3 unmatched reply, 4 usage error,\n"
               "5 port error, 6 other failure, 130 interrupted before an outcome. 'quelvan COMMAND --help' for more.");
    TCommandChoice choice;
    AddPortsCommand(app, choice);
    AddReadCommand(app, choice);
    AddWriteCommand(app, choice);
    AddMaskWriteCommand(app, choice);
    AddDiagCommand(app, choice);
    AddFileRecordCommands(app, choice);
    AddServeCommand(app, choice);
    AddSimulateCommand(app, choice);
    AddNullModemCommand(app, choice);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);  // --help
        std::fprintf(stderr, "quelvan: %s (see --help)\n", e.what());
        return exUsageError;
    }
    try {
        return choice.Run();
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "quelvan: %s\n", e.what());
        return exUsageError;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelvan: %s\n", ErrorText(e).c_str());
        return exFailure;
    }
}
