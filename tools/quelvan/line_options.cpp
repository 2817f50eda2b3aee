#include "line_options.h"

#include <cstdio>

#include "error_text.h"
#include "quelvan/errors.h"
#include "quelvan/line_settings.h"
#include "usage_error.h"
#include "value_parsing.h"

namespace quelvan::cli {

void AddLineOptions(CLI::App& App, TLineOptions& O, bool Client) {
    App.add_option("-p,--port", O.Port, "Serial port: a path, COMn (/dev/ttyS<n-1>) or a name under /dev")
        ->required();
    App.add_option("--mode", O.Mode, "Transmission mode")
        ->check(CLI::IsMember({"rtu", "ascii"}))
        ->capture_default_str();
    App.add_option("--baud", O.Baud, "Bits per second; any rate, non-standard ones too")->capture_default_str();
    App.add_option("--data-bits", O.DataBits, "Data bits")->check(CLI::IsMember({7, 8}))->capture_default_str();
    App.add_option("--parity", O.Parity, "Parity")
        ->check(CLI::IsMember({"none", "odd", "even"}))
        ->capture_default_str();
    App.add_option("--stop-bits", O.StopBits, "Stop bits")->check(CLI::IsMember({1, 2}))->capture_default_str();
    App.add_option("--flow", O.Flow, "Flow control")
        ->check(CLI::IsMember({"none", "rts-toggle", "rts-cts", "dtr-dsr"}))
        ->capture_default_str();
    App.add_option("-a,--address", O.Address, Client ? "Address of the server (1-247)" : "This server's address (1-247)")
        ->capture_default_str();
    App.add_option("--silent-interval", O.SilentInterval,
                   "End-of-frame gap: character times in RTU, milliseconds in ASCII (never below 20 ms)")
        ->capture_default_str();
    if (!Client) return;
    App.add_option("--timeout", O.Timeout, "Reply time-out in milliseconds")->capture_default_str();
    App.add_option("--retries", O.Retries, "Send attempts per request (1: no retry)")->capture_default_str();
    App.add_flag("--echo", O.Echo, "The line echoes what is sent (two-wire RS-485): skip the echo before a reply");
}

void AddOutputOptions(CLI::App& App, TOutputOptions& O) {
    App.add_flag("--json", O.Json, "Machine-readable output: one JSON object per line");
    App.add_flag("--frames", O.Frames, "Print every frame sent and received (time-stamped)");
}

namespace {
TBaudRate StandardRate(uint32_t Baud) {
    for (int r = br110; r < brCustom; ++r)
        if (BaudRateValue(static_cast<TBaudRate>(r), 0) == Baud) return static_cast<TBaudRate>(r);
    return brCustom;
}
}  // namespace

void ApplyLineOptions(TModbusConnection& C, const TLineOptions& O) {
    CheckArgument("--mode", [&] { C.SetTransmissionMode(O.Mode == "ascii" ? tmASCII : tmRTU); });
    if (O.Baud == 0) throw EUsageError("--baud: 0 is not a rate");
    CheckArgument("--baud", [&] {
        const TBaudRate rate = StandardRate(O.Baud);
        if (rate == brCustom) C.SetCustomBaudRate(O.Baud);
        else C.SetBaudRate(rate);
    });
    CheckArgument("--data-bits", [&] { C.SetDataBits(O.DataBits == 7 ? db7 : db8); });
    CheckArgument("--parity", [&] { C.SetParity(O.Parity == "none" ? psNone : O.Parity == "odd" ? psOdd : psEven); });
    CheckArgument("--stop-bits", [&] { C.SetStopBits(O.StopBits == 2 ? sb2 : sb1); });
    CheckArgument("--flow", [&] {
        C.SetFlowControl(O.Flow == "rts-toggle" ? fcRtsToggle
                         : O.Flow == "rts-cts"  ? fcRtsCts
                         : O.Flow == "dtr-dsr"  ? fcDtrDsr
                                                : fcNone);
    });
    CheckArgument("--timeout", [&] { C.SetReceiveTimeout(O.Timeout); });
    CheckArgument("--retries", [&] { C.SetMaxRetries(O.Retries); });
    CheckArgument("--silent-interval", [&] { C.SetSilentInterval(O.SilentInterval); });
    CheckArgument("--echo", [&] { C.SetEchoQueryBeforeReply(O.Echo); });
    C.SetPort(O.Port);
}

uint8_t ParseAddress(const TLineOptions& O) {
    const uint32_t address = ParseNumber(O.Address, "--address", 0, UINT32_MAX);
    CheckArgument("--address", [address] {
        if (address > 255) RaiseErrorFmt(msgValueRange, {1, 247});
    });
    return static_cast<uint8_t>(address);
}

std::string DescribeLine(const TModbusConnection& C) {
    const char parity = C.Parity() == psNone ? 'N' : C.Parity() == psOdd ? 'O' : 'E';
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %u baud %d%c%d", C.TransmissionMode() == tmASCII ? "ASCII" : "RTU",
                  BaudRateValue(C.BaudRate(), C.CustomBaudRate()), C.DataBits() == db7 ? 7 : 8, parity,
                  C.StopBits() == sb2 ? 2 : 1);
    return buf;
}

bool OpenPort(TModbusConnection& C) {
    try {
        C.Open();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelvan: --port %s: %s\n", C.Port().c_str(), ErrorText(e).c_str());
        return false;
    }
}

}  // namespace quelvan::cli
