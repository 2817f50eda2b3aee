// quelvan ports

#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "line_options.h"
#include "output.h"
#include "quelvan/enum_serial_ports.h"

namespace quelvan::cli {

void AddPortsCommand(CLI::App& App, TCommandChoice& Choice) {
    auto options = std::make_shared<TOutputOptions>();
    CLI::App* sub = App.add_subcommand("ports", "List the serial ports found on this system");
    sub->add_flag("--json", options->Json, "Machine-readable output: one JSON object");
    sub->footer("Exit code: 0 (also when no port is found).\n");
    sub->callback([options, &Choice] {
        Choice.Run = [options] {
            std::vector<std::string> ports;
            EnumSerialPorts(ports);
            TOutput output(*options, tmRTU);
            if (output.Json()) {
                output.Line("", {{"ports", ports}});
            } else if (ports.empty()) {
                output.Line("no serial ports found", {});
            } else {
                for (const std::string& p : ports) output.Line(p, {});
            }
            return int{exNormalReply};
        };
    });
}

}  // namespace quelvan::cli
