#include "request_log.h"

#include <cstdio>

#include "quelvan/errors.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/messages.h"
#include "request_text.h"

namespace quelvan::cli {

namespace {
constexpr uint32_t WM_HANDLED = platform::WM_USER + 1;

// The commands TModbusServer serves itself; it refuses every other one with exception 01
// without asking the application.
bool IsServed(uint8_t Command) {
    switch (Command) {
    case mcReadCoils:
    case mcReadDiscreteInputs:
    case mcReadHoldingRegisters:
    case mcReadInputRegisters:
    case mcWriteSingleCoil:
    case mcWriteSingleRegister:
    case mcWriteMultipleCoils:
    case mcWriteMultipleRegisters: return true;
    default: return false;
    }
}

bool IsWrite(uint8_t Command) {
    return Command == mcWriteSingleCoil || Command == mcWriteSingleRegister || Command == mcWriteMultipleCoils ||
           Command == mcWriteMultipleRegisters;
}

// The request in words, from its PDU data (the bytes after the function code).
std::string DescribeRequest(uint8_t Command, const uint8_t* Data, int32_t Size) {
    auto word = [Data](int i) { return static_cast<uint16_t>(Data[i] << 8 | Data[i + 1]); };
    switch (Command) {
    case mcReadCoils:
    case mcReadDiscreteInputs:
    case mcReadHoldingRegisters:
    case mcReadInputRegisters:
    case mcWriteMultipleCoils:
    case mcWriteMultipleRegisters:
        if (Size >= 4) return DescribeRange(Command, word(0), word(2));
        break;
    case mcWriteSingleCoil:
    case mcWriteSingleRegister:
        if (Size >= 4) return DescribeSingleWrite(Command, word(0), word(2));
        break;
    case mcMaskWriteRegister:
        if (Size >= 6) return DescribeMaskWrite(word(0), word(2), word(4));
        break;
    case mcDiagnostics:
        if (Size < 4) break;
        try {
            return CommandName(Command) + " " + DiagnosticActionName(DiagnosticActionFromRequest(word(0), word(2)));
        } catch (const EQuelvanError&) {
            return CommandName(Command) + " sub-function " + Hex4(word(0));
        }
    default: return CommandName(Command);
    }
    return CommandName(Command) + " (too short)";
}
}  // namespace

TRequestLog::TRequestLog(TModbusConnection& Connection, TModbusServer& Server, TModbusItemMap& Items,
                         TOutput& Output, const std::string& Who)
    : server_(Server),
      output_(Output),
      who_(Who),
      codec_(Connection.TransmissionMode(), cmServer),
      frame_(MaxFrameSize(Connection.TransmissionMode())),
      window_([this](platform::TMessage& M) {
          if (M.Msg == WM_HANDLED) HandlingDone();
      }) {
    Connection.OnFrameReceive = [this](TModbusConnection&, const TFrameData& Data) { FrameReceived(Data); };
    Connection.OnFrameSend = [this](TModbusConnection&, const TFrameData& Data) { FrameSent(Data); };
    // Runs while the server handles a request, on the main thread inside the transaction
    // thread's Synchronize: the note is delivered once the handling is over.
    Server.OnAcceptCommand = [this, accept = Server.OnAcceptCommand](TModbusServer& S, uint8_t Command, bool& Accept) {
        if (accept) accept(S, Command, Accept);
        if (pending_ && pending_->Address == 0) platform::PostMessage(window_.Handle(), WM_HANDLED, 0, nullptr);
    };
    Items.OnChanged = [this, changed = Items.OnChanged](TItemKind Kind, uint16_t Address, uint16_t Value) {
        ++changes_;
        if (changed) changed(Kind, Address, Value);
    };
}

void TRequestLog::FrameReceived(const TFrameData& Data) {
    if (Data.empty()) return;
    output_.Frame(who_.empty() ? "RX" : who_ + " RX", Data);
    if (pending_) Log(*pending_, "no outcome seen", {{"outcome", "unknown"}});
    pending_.reset();
    bool valid = false;
    try {
        codec_.DecodeFrame(Data.data(), frame_, static_cast<int32_t>(Data.size()));
        valid = codec_.IsFrameValid(frame_);
    } catch (const std::exception&) {
    }
    if (!valid) {
        Log({"a frame that is not a valid request (" + std::to_string(Data.size()) + " bytes)", 0, 0, false},
            "ignored", {{"outcome", "invalid"}});
        return;
    }
    const uint8_t* f = frame_.Data();
    TRequest request{DescribeRequest(f[1], f + 2, frame_.Size() - 2 - ChecksumSize(codec_.TransmissionMode())), f[0],
                     f[1], true};
    if (request.Address != 0 && request.Address != server_.Address()) {
        Log(request, "ignored (not this server's address)", {{"outcome", "ignored"}});
    } else if (request.Address == 0 && !IsServed(request.Command)) {
        Log(request, "refused: " + ExceptionCodeText(ecIllegalCommand) + " (a broadcast gets no reply)",
            {{"outcome", "refused"}});
    } else {
        changes_ = 0;
        pending_ = std::make_unique<TRequest>(std::move(request));
    }
}

void TRequestLog::FrameSent(const TFrameData& Data) {
    if (!Data.empty()) output_.Frame(who_.empty() ? "TX" : who_ + " TX", Data);
    if (!pending_ || pending_->Address == 0) return;
    const std::unique_ptr<TRequest> request = std::move(pending_);
    bool valid = false;
    try {
        codec_.DecodeFrame(Data.data(), frame_, static_cast<int32_t>(Data.size()));
        valid = frame_.Size() >= 3;
    } catch (const std::exception&) {
    }
    if (!valid) {
        Log(*request, "no reply", {{"outcome", "none"}});
    } else if (frame_.Data()[1] & 0x80) {
        const uint8_t code = frame_.Data()[2];
        Log(*request, "exception reply, code " + std::to_string(code) + ": " + ExceptionCodeText(code),
            {{"outcome", "exception"}, {"exception_code", code}, {"exception_text", ExceptionCodeText(code)}});
    } else {
        Log(*request, "normal reply", {{"outcome", "normal"}});
    }
}

void TRequestLog::HandlingDone() {
    if (!pending_ || pending_->Address != 0) return;
    const std::unique_ptr<TRequest> request = std::move(pending_);
    if (!IsWrite(request->Command)) Log(*request, "not answered (a broadcast gets no reply)", {{"outcome", "ignored"}});
    else if (changes_ > 0) Log(*request, "applied (a broadcast gets no reply)", {{"outcome", "applied"}});
    else Log(*request, "refused (a broadcast gets no reply)", {{"outcome", "refused"}});
}

void TRequestLog::Log(const TRequest& Request, const std::string& Outcome, nlohmann::json Fields) {
    ++count_;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f  ", output_.Elapsed());
    std::string text = stamp + (who_.empty() ? "" : who_ + ": ") + Request.Description;
    nlohmann::json j = {{"event", "request"}, {"request", Request.Description}};
    if (Request.Valid) {
        text += " @" + (Request.Address == 0 ? std::string("broadcast") : std::to_string(Request.Address));
        j["address"] = Request.Address;
        j["function"] = Request.Command;
    }
    j.update(Fields);
    output_.Line(text + ": " + Outcome, j);
}

}  // namespace quelvan::cli
