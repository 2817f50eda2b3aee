// quelvan write coil|coils|register|registers START VALUE... [--broadcast]

#include <memory>

#include "client_session.h"
#include "commands.h"
#include "quelvan/modbus_connection.h"
#include "request_text.h"
#include "usage_error.h"
#include "value_parsing.h"

namespace quelvan::cli {

namespace {
nlohmann::json WriteFields(const char* Type, uint16_t Start, nlohmann::json Values) {
    return {{"command", "write"}, {"type", Type}, {"start", Start}, {"values", std::move(Values)}};
}

std::vector<int> BitsAsNumbers(const TBitValues& Values) {
    std::vector<int> v;
    for (const bool b : Values) v.push_back(b ? 1 : 0);
    return v;
}
}  // namespace

TClientRequest MakeWriteCoilRequest(uint16_t Address, bool Value, bool Broadcast) {
    TClientRequest r;
    r.Summary = DescribeSingleWrite(mcWriteSingleCoil, Address, Value ? CoilOn : CoilOff);
    r.Fields = WriteFields("coil", Address, {Value ? 1 : 0});
    r.Broadcast = Broadcast;
    r.Issue = [Address, Value, Broadcast](TModbusClient& C, TTransactionReport& R) {
        if (Broadcast) return C.Connection()->BroadcastWriteSingleCoil(Address, Value);
        C.OnSingleCoilWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t A, bool V) {
            if (Finish(Sender, R, Info)) R.ValueLines.push_back("coil " + std::to_string(A) + " = " + (V ? "1" : "0"));
        };
        return C.WriteSingleCoil(Address, Value);
    };
    return r;
}

TClientRequest MakeWriteRegisterRequest(uint16_t Address, uint16_t Value, bool Broadcast) {
    TClientRequest r;
    r.Summary = DescribeSingleWrite(mcWriteSingleRegister, Address, Value);
    r.Fields = WriteFields("register", Address, {Value});
    r.Broadcast = Broadcast;
    r.Issue = [Address, Value, Broadcast](TModbusClient& C, TTransactionReport& R) {
        if (Broadcast) return C.Connection()->BroadcastWriteSingleRegister(Address, Value);
        C.OnSingleRegisterWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t A, uint16_t V) {
            if (Finish(Sender, R, Info)) R.ValueLines.push_back("holding " + std::to_string(A) + " = " + FormatRegister(V));
        };
        return C.WriteSingleRegister(Address, Value);
    };
    return r;
}

TClientRequest MakeWriteCoilsRequest(uint16_t Start, const TBitValues& Values, bool Broadcast) {
    ValidateCounted(mcWriteMultipleCoils, Start, static_cast<uint32_t>(Values.size()), "START", "VALUE");
    TClientRequest r;
    r.Summary = DescribeRange(mcWriteMultipleCoils, Start, static_cast<uint32_t>(Values.size()));
    r.Fields = WriteFields("coils", Start, BitsAsNumbers(Values));
    r.Broadcast = Broadcast;
    r.Issue = [Start, Values, Broadcast](TModbusClient& C, TTransactionReport& R) {
        if (Broadcast) return C.Connection()->BroadcastWriteMultipleCoils(Start, Values);
        C.OnMultipleCoilsWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t, uint16_t,
                                      const TBitValues&) { Finish(Sender, R, Info); };
        return C.WriteMultipleCoils(Start, Values);
    };
    return r;
}

TClientRequest MakeWriteRegistersRequest(uint16_t Start, const TRegValues& Values, bool Broadcast) {
    ValidateCounted(mcWriteMultipleRegisters, Start, static_cast<uint32_t>(Values.size()), "START", "VALUE");
    TClientRequest r;
    r.Summary = DescribeRange(mcWriteMultipleRegisters, Start, static_cast<uint32_t>(Values.size()));
    r.Fields = WriteFields("registers", Start, Values);
    r.Broadcast = Broadcast;
    r.Issue = [Start, Values, Broadcast](TModbusClient& C, TTransactionReport& R) {
        if (Broadcast) return C.Connection()->BroadcastWriteMultipleRegisters(Start, Values);
        C.OnMultipleRegistersWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, uint16_t, uint16_t,
                                          const TRegValues&) { Finish(Sender, R, Info); };
        return C.WriteMultipleRegisters(Start, Values);
    };
    return r;
}

void AddWriteCommand(CLI::App& App, TCommandChoice& Choice) {
    struct TArgs {
        TClientOptions Options;
        bool Broadcast = false;
        std::string Type, Start;
        std::vector<std::string> Values;
    };
    auto a = std::make_shared<TArgs>();
    CLI::App* sub = App.add_subcommand("write", "Write one or several coils or holding registers");
    sub->add_option("TYPE", a->Type, "coil, coils, register or registers")
        ->required()
        ->check(CLI::IsMember({"coil", "coils", "register", "registers"}));
    sub->add_option("START", a->Start, "Address of the (first) item (0-65535)")->required();
    sub->add_option("VALUE", a->Values,
                    "Values: bits 0/1/on/off/true/false, registers 0-65535 (decimal or 0x hex); "
                    "coil and register take one")
        ->required();
    AddClientOptions(*sub, a->Options);
    sub->add_flag("--broadcast", a->Broadcast, "Send to every server (address 0); no reply is expected");
    sub->callback([a, &Choice] {
        Choice.Run = [a] {
            const uint16_t start = ParseWord(a->Start, "START");
            const bool single = a->Type == "coil" || a->Type == "register";
            if (single && a->Values.size() != 1)
                throw EUsageError("VALUE: write " + a->Type + " takes one value (write " + a->Type + "s takes several)");
            const bool bits = a->Type == "coil" || a->Type == "coils";
            TBitValues bitValues;
            TRegValues regValues;
            for (const std::string& v : a->Values) {
                if (bits) bitValues.push_back(ParseBit(v, "VALUE"));
                else regValues.push_back(ParseWord(v, "VALUE"));
            }
            const TClientRequest r =
                a->Type == "coil"       ? MakeWriteCoilRequest(start, bitValues[0], a->Broadcast)
                : a->Type == "register" ? MakeWriteRegisterRequest(start, regValues[0], a->Broadcast)
                : a->Type == "coils"    ? MakeWriteCoilsRequest(start, bitValues, a->Broadcast)
                                        : MakeWriteRegistersRequest(start, regValues, a->Broadcast);
            return RunClient(a->Options, r);
        };
    });
}

}  // namespace quelvan::cli
