// quelvan read coils|inputs|holding|input-registers START COUNT

#include <algorithm>
#include <memory>

#include "client_session.h"
#include "commands.h"
#include "request_text.h"
#include "value_parsing.h"

namespace quelvan::cli {

namespace {
// Bits eight to a line: "coils 8-15 = 0 1 0 0 0 0 0 1".
void TakeBits(TTransactionReport& R, const TItemTable& Table, uint16_t Start, const TBitValues& Values) {
    nlohmann::json values = nlohmann::json::array();
    for (size_t i = 0; i < Values.size(); i += 8) {
        const size_t n = std::min<size_t>(8, Values.size() - i);
        std::string line = std::string(n == 1 ? Table.ItemLabel : Table.Name) + " " + std::to_string(Start + i) +
                           (n == 1 ? "" : "-" + std::to_string(Start + i + n - 1)) + " =";
        for (size_t k = i; k < i + n; ++k) line += Values[k] ? " 1" : " 0";
        R.ValueLines.push_back(line);
    }
    for (const bool b : Values) values.push_back(b ? 1 : 0);
    R.Values["values"] = values;
}

void TakeRegisters(TTransactionReport& R, const TItemTable& Table, uint16_t Start, const TRegValues& Values) {
    for (size_t i = 0; i < Values.size(); ++i)
        R.ValueLines.push_back(std::string(Table.ItemLabel) + " " + std::to_string(Start + i) + " = " +
                               FormatRegister(Values[i]));
    R.Values["values"] = Values;
}
}  // namespace

TClientRequest MakeReadRequest(const TItemTable& Table, uint32_t Start, uint32_t Count) {
    ValidateCounted(Table.ReadCommand, Start, Count, "START", "COUNT");
    TClientRequest r;
    r.Summary = DescribeRange(Table.ReadCommand, Start, Count);
    r.Fields = {{"command", "read"}, {"table", Table.Name}, {"start", Start}, {"count", Count}};
    const auto start = static_cast<uint16_t>(Start);
    const auto count = static_cast<uint16_t>(Count);
    r.Issue = [&Table, start, count](TModbusClient& C, TTransactionReport& R) {
        auto bits = [&R, &Table](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t S, uint16_t,
                                 const TBitValues& V) {
            if (Finish(Sender, R, Info)) TakeBits(R, Table, S, V);
        };
        auto registers = [&R, &Table](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t S, uint16_t,
                                      const TRegValues& V) {
            if (Finish(Sender, R, Info)) TakeRegisters(R, Table, S, V);
        };
        switch (Table.Kind) {
        case ikCoil: C.OnCoilsRead = bits; return C.ReadCoils(start, count);
        case ikDiscreteInput: C.OnDiscreteInputsRead = bits; return C.ReadDiscreteInputs(start, count);
        case ikHoldingRegister: C.OnHoldingRegistersRead = registers; return C.ReadHoldingRegisters(start, count);
        case ikInputRegister: break;
        }
        C.OnInputRegistersRead = registers;
        return C.ReadInputRegisters(start, count);
    };
    return r;
}

void AddReadCommand(CLI::App& App, TCommandChoice& Choice) {
    struct TArgs {
        TClientOptions Options;
        std::string Table, Start, Count;
    };
    auto a = std::make_shared<TArgs>();
    CLI::App* sub = App.add_subcommand("read", "Read coils, discrete inputs, holding or input registers");
    sub->add_option("TABLE", a->Table, "coils, inputs, holding or input-registers")
        ->required()
        ->check(CLI::IsMember(ItemTableNames()));
    sub->add_option("START", a->Start, "First address (0-65535, decimal or 0x hex)")->required();
    sub->add_option("COUNT", a->Count,
                    "Number of items (bits: 1-" + std::to_string(FindCountLimit(mcReadCoils)->MaxCount) +
                        ", registers: 1-" + std::to_string(FindCountLimit(mcReadHoldingRegisters)->MaxCount) + ")")
        ->required();
    AddClientOptions(*sub, a->Options);
    sub->callback([a, &Choice] {
        Choice.Run = [a] {
            const TClientRequest r = MakeReadRequest(*FindItemTable(a->Table), ParseWord(a->Start, "START"),
                                                     ParseNumber(a->Count, "COUNT", 0, UINT32_MAX));
            return RunClient(a->Options, r);
        };
    });
}

}  // namespace quelvan::cli
