// quelvan file-read FILE:RECORD:COUNT...
// quelvan file-write FILE:RECORD:VALUE[,VALUE...]...

#include <memory>

#include "client_session.h"
#include "commands.h"
#include "quelvan/file_record.h"
#include "request_text.h"
#include "usage_error.h"
#include "value_parsing.h"

namespace quelvan::cli {

namespace {
std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> parts(1);
    for (const char c : Text) {
        if (c == Separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

using TRecordList = std::shared_ptr<TModbusFileRecordList>;

// Builds the list from "FILE:RECORD:X" arguments; Fill sets a record's size and values from X.
// The library checks each record and then the whole list, before anything is opened.
template <typename F>
TRecordList ParseRecords(const std::vector<std::string>& Args, const std::string& Form, bool Write, F Fill) {
    auto list = std::make_shared<TModbusFileRecordList>();
    for (const std::string& arg : Args) {
        const std::vector<std::string> parts = Split(arg, ':');
        if (parts.size() != 3) throw EUsageError(arg + ": expected " + Form);
        const uint16_t file = ParseWord(parts[0], arg + " (FILE)");
        const uint16_t record = ParseWord(parts[1], arg + " (RECORD)");
        CheckArgument(arg, [&] { Fill(list->Add(file, record, 0), parts[2], arg); });
    }
    CheckArgument(Args.size() == 1 ? Args[0] : "the records", [&] { ValidateFileRecordList(*list, Write); });
    return list;
}

nlohmann::json RecordsJson(const TModbusFileRecordList& List, bool WithValues) {
    nlohmann::json records = nlohmann::json::array();
    for (int32_t i = 0; i < List.Count(); ++i) {
        const TModbusFileRecord& r = List.Items(i);
        nlohmann::json j = {{"file", r.FileNumber()}, {"record", r.StartReg()}, {"count", r.RegCount()}};
        if (WithValues) {
            std::vector<uint16_t> values;
            for (int32_t k = 0; k < r.RegCount(); ++k) values.push_back(r.RegValues(k));
            j["values"] = values;
        }
        records.push_back(j);
    }
    return records;
}

std::string Describe(uint8_t Command, const TModbusFileRecordList& List) {
    std::string s = CommandName(Command);
    for (int32_t i = 0; i < List.Count(); ++i) {
        const TModbusFileRecord& r = List.Items(i);
        s += (i ? ", " : " ") + std::string("file ") + std::to_string(r.FileNumber()) + " record " +
             std::to_string(r.StartReg()) + " count " + std::to_string(r.RegCount());
    }
    return s;
}

TClientRequest MakeFileReadRequest(TRecordList List) {
    TClientRequest r;
    r.Summary = Describe(mcReadFileRecord, *List);
    r.Fields = {{"command", "file-read"}, {"records", RecordsJson(*List, false)}};
    r.Issue = [List](TModbusClient& C, TTransactionReport& R) {
        C.OnFileRecordRead = [&R](TModbusClient& Sender, const TTransactionInfo& Info, TModbusFileRecordList& Got) {
            if (!Finish(Sender, R, Info)) return;
            for (int32_t i = 0; i < Got.Count(); ++i) {
                const TModbusFileRecord& rec = Got.Items(i);
                for (int32_t k = 0; k < rec.RegCount(); ++k)
                    R.ValueLines.push_back("file " + std::to_string(rec.FileNumber()) + " register " +
                                           std::to_string(rec.StartReg() + k) + " = " + FormatRegister(rec.RegValues(k)));
            }
            R.Values["records"] = RecordsJson(Got, true);
        };
        return C.ReadFileRecord(*List);
    };
    return r;
}

TClientRequest MakeFileWriteRequest(TRecordList List) {
    TClientRequest r;
    r.Summary = Describe(mcWriteFileRecord, *List);
    r.Fields = {{"command", "file-write"}, {"records", RecordsJson(*List, true)}};
    r.Issue = [List](TModbusClient& C, TTransactionReport& R) {
        C.OnFileRecordWrite = [&R](TModbusClient& Sender, const TTransactionInfo& Info, TModbusFileRecordList&) {
            Finish(Sender, R, Info);
        };
        return C.WriteFileRecord(*List);
    };
    return r;
}

struct TFileArgs {
    TClientOptions Options;
    std::vector<std::string> Records;
};
}  // namespace

void AddFileRecordCommands(CLI::App& App, TCommandChoice& Choice) {
    auto read = std::make_shared<TFileArgs>();
    CLI::App* sub = App.add_subcommand("file-read", "Read file records (command 0x14)");
    sub->add_option("RECORDS", read->Records,
                    "File number (0-65535), first register of the record (0-9999), register count")
        ->type_name("FILE:RECORD:COUNT...")
        ->required();
    AddClientOptions(*sub, read->Options);
    sub->callback([read, &Choice] {
        Choice.Run = [read] {
            TRecordList list = ParseRecords(read->Records, "FILE:RECORD:COUNT", false,
                                            [](TModbusFileRecord& R, const std::string& Count, const std::string& Arg) {
                                                R.SetRange(R.StartReg(), static_cast<int32_t>(ParseNumber(
                                                                             Count, Arg + " (COUNT)", 0, 0xFFFF)));
                                            });
            return RunClient(read->Options, MakeFileReadRequest(list));
        };
    });

    auto write = std::make_shared<TFileArgs>();
    sub = App.add_subcommand("file-write", "Write file records (command 0x15)");
    sub->add_option("RECORDS", write->Records,
                    "File number (0-65535), first register of the record (0-9999), the values (0-65535)")
        ->type_name("FILE:RECORD:VALUE[,VALUE...]...")
        ->required();
    AddClientOptions(*sub, write->Options);
    sub->callback([write, &Choice] {
        Choice.Run = [write] {
            TRecordList list = ParseRecords(
                write->Records, "FILE:RECORD:VALUE[,VALUE...]", true,
                [](TModbusFileRecord& R, const std::string& Values, const std::string& Arg) {
                    const std::vector<std::string> values = Split(Values, ',');
                    R.SetRange(R.StartReg(), static_cast<int32_t>(values.size()));
                    for (size_t k = 0; k < values.size(); ++k)
                        R.SetRegValues(static_cast<int32_t>(k), ParseWord(values[k], Arg + " (VALUE)"));
                });
            return RunClient(write->Options, MakeFileWriteRequest(list));
        };
    });
}

}  // namespace quelvan::cli
