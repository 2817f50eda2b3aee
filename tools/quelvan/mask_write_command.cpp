// quelvan mask-write REG AND OR

#include <memory>

#include "client_session.h"
#include "commands.h"
#include "request_text.h"
#include "value_parsing.h"

namespace quelvan::cli {

namespace {
TClientRequest MakeMaskWriteRequest(uint16_t Address, uint16_t AndMask, uint16_t OrMask) {
    TClientRequest r;
    r.Summary = DescribeMaskWrite(Address, AndMask, OrMask);
    r.Fields = {{"command", "mask-write"}, {"register", Address}, {"and", AndMask}, {"or", OrMask}};
    r.Issue = [Address, AndMask, OrMask](TModbusClient& C, TTransactionReport& R) {
        C.OnSingleRegisterMaskWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t, uint16_t,
                                           uint16_t) { Finish(Sender, R, Info); };
        return C.MaskWriteSingleRegister(Address, AndMask, OrMask);
    };
    return r;
}
}  // namespace

void AddMaskWriteCommand(CLI::App& App, TCommandChoice& Choice) {
    struct TArgs {
        TClientOptions Options;
        std::string Register, And, Or;
    };
    auto a = std::make_shared<TArgs>();
    CLI::App* sub = App.add_subcommand(
        "mask-write", "Change bits of a holding register: new = (old AND and-mask) OR (or-mask AND NOT and-mask)");
    sub->add_option("REG", a->Register, "Register address (0-65535)")->required();
    sub->add_option("AND", a->And, "AND mask (0-65535, decimal or 0x hex)")->required();
    sub->add_option("OR", a->Or, "OR mask (0-65535, decimal or 0x hex)")->required();
    AddClientOptions(*sub, a->Options);
    sub->callback([a, &Choice] {
        Choice.Run = [a] {
            return RunClient(a->Options, MakeMaskWriteRequest(ParseWord(a->Register, "REG"), ParseWord(a->And, "AND"),
                                                              ParseWord(a->Or, "OR")));
        };
    });
}

}  // namespace quelvan::cli
