// quelvan null-modem: a virtual null-modem cable for as long as the command runs.

#include <cstdio>
#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "platform/virtual_null_modem.h"
#include "run_control.h"

namespace quelvan::cli {

void AddNullModemCommand(CLI::App& App, TCommandChoice& Choice) {
    struct TArgs {
        bool Echo = false;
        uint32_t Baud = 0;
    };
    auto a = std::make_shared<TArgs>();
    CLI::App* sub = App.add_subcommand(
        "null-modem",
        "Create a virtual null-modem cable: print its two port paths (one per line) and keep it until interrupted");
    sub->add_flag("--echo", a->Echo, "The first port hears its own bytes too, like a two-wire RS-485 adapter");
    sub->add_option("--pace", a->Baud, "Deliver bytes at this baud rate (11 bits a character) instead of at once")
        ->type_name("BAUD");
    sub->footer("Exit codes: 0 stopped by SIGINT or SIGTERM, 4 usage error, 6 the cable could not be made.\n");
    sub->callback([a, &Choice] {
        Choice.Run = [a] {
            platform::TVirtualNullModem cable;
            platform::TRelayControls controls;
            controls.BaudRate = a->Baud;
            controls.BitsPerChar = 11;
            cable.SetControls(platform::TNullModemSide::B, controls);
            controls.Echo = a->Echo;
            cable.SetControls(platform::TNullModemSide::A, controls);
            std::printf("%s\n%s\n", cable.PortA().c_str(), cable.PortB().c_str());
            std::fflush(stdout);
            PumpUntilStopped();
            return int{exNormalReply};
        };
    });
}

}  // namespace quelvan::cli
