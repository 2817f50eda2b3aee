// quelvan serve: a server that answers from an in-memory item map until interrupted.

#include <memory>

#include "commands.h"
#include "exit_codes.h"
#include "item_ranges.h"
#include "line_options.h"
#include "output.h"
#include "request_log.h"
#include "run_control.h"
#include "usage_error.h"

namespace quelvan::cli {

namespace {
struct TServeArgs {
    TLineOptions Line;
    TOutputOptions Output;
    std::vector<std::string> Ranges[4];  // in ItemTables() order
    std::string MapFile;
};

// Without any range the server serves items 0-99 of every table, all zero.
std::vector<TItemRange> CollectRanges(const TServeArgs& A) {
    std::vector<TItemRange> ranges;
    if (!A.MapFile.empty()) ranges = ReadItemMapFile(A.MapFile);
    for (size_t t = 0; t < ItemTables().size(); ++t)
        for (const std::string& text : A.Ranges[t])
            ranges.push_back(ParseItemRange(ItemTables()[t], text, std::string("--") + ItemTables()[t].Name));
    if (ranges.empty())
        for (const TItemTable& t : ItemTables()) ranges.push_back({&t, 0, 100, 0});
    return ranges;
}

int RunServe(const TServeArgs& A) {
    const std::vector<TItemRange> ranges = CollectRanges(A);
    TModbusConnection connection;
    connection.SetConnectionMode(cmServer);
    ApplyLineOptions(connection, A.Line);
    TModbusServer server;
    const uint8_t address = ParseAddress(A.Line);
    CheckArgument("--address", [&] { server.SetAddress(address); });
    server.SetConnection(&connection);
    TModbusItemMap items;
    for (const TItemRange& r : ranges) items.Define(r.Table->Kind, r.Start, r.Count, r.Value);
    items.Attach(server);

    TOutput output(A.Output, connection.TransmissionMode());
    TRequestLog log(connection, server, items, output);
    if (!OpenPort(connection)) return exPortError;
    std::string map;
    nlohmann::json mapJson = nlohmann::json::array();
    for (const TItemRange& r : ranges) {
        map += (map.empty() ? "" : ", ") + DescribeItemRange(r);
        mapJson.push_back(DescribeItemRange(r));
    }
    output.Line("serving address " + std::to_string(address) + " on " + connection.Port() + " (" +
                    DescribeLine(connection) + "): " + map + "; Ctrl-C stops",
                {{"event", "serving"},
                 {"port", connection.Port()},
                 {"address", address},
                 {"line", DescribeLine(connection)},
                 {"map", mapJson}});
    PumpUntilStopped([] { return LineFailed(); });
    connection.Close();
    return LineFailed() ? exPortError : exNormalReply;
}
}  // namespace

void AddServeCommand(CLI::App& App, TCommandChoice& Choice) {
    auto a = std::make_shared<TServeArgs>();
    CLI::App* sub = App.add_subcommand(
        "serve", "Run a server that answers from an in-memory item map, printing each request, until interrupted");
    AddLineOptions(*sub, a->Line, false);
    AddOutputOptions(*sub, a->Output);
    for (size_t t = 0; t < ItemTables().size(); ++t) {
        const TItemTable& table = ItemTables()[t];
        sub->add_option(std::string("--") + table.Name, a->Ranges[t],
                        std::string("Serve ") + table.Description + " START[-END][=VALUE] (value " +
                            (table.IsBit ? "0 or 1" : "0-65535") + ", default 0)")
            ->type_name("RANGE");
    }
    sub->add_option("--map", a->MapFile, "Read ranges from FILE: lines 'TABLE START[-END] [= VALUE]', # comments")
        ->type_name("FILE");
    sub->footer("Without --coils, --inputs, --holding, --input-registers or --map: items 0-99 of every table, all 0.\n"
                "Exit codes: 0 stopped by SIGINT or SIGTERM, 4 usage error, 5 port error, 6 other failure.\n");
    sub->callback([a, &Choice] { Choice.Run = [a] { return RunServe(*a); }; });
}

}  // namespace quelvan::cli
