#include "request_mix.h"

#include <algorithm>

#include "item_oracle.h"
#include "quelvan/function_catalogue.h"

namespace quelvan::test {

namespace {

// Transactions within which a reply can still turn up late: far more than a reply ever lags
// (each transaction in between takes a whole receive time-out before the next is sent).
constexpr size_t kConfusionWindow = 12;

constexpr uint8_t kServedCommands[] = {mcReadCoils, mcReadDiscreteInputs, mcReadHoldingRegisters,
                                       mcReadInputRegisters, mcWriteSingleCoil, mcWriteSingleRegister,
                                       mcWriteMultipleCoils, mcWriteMultipleRegisters};
// Relative frequency of each served command, in the order above.
constexpr int kServedWeights[] = {12, 8, 14, 8, 10, 12, 8, 10};
constexpr uint8_t kRefusedCommands[] = {mcDiagnostics, mcReadFileRecord, mcWriteFileRecord, mcMaskWriteRegister};

bool IsBitCommand(uint8_t Command) {
    return Command == mcReadCoils || Command == mcReadDiscreteInputs || Command == mcWriteSingleCoil ||
           Command == mcWriteMultipleCoils;
}

void PutWord(Bytes& B, uint16_t W) {
    B.push_back(static_cast<uint8_t>(W >> 8));
    B.push_back(static_cast<uint8_t>(W & 0xFF));
}

}  // namespace

TItemKind KindOf(uint8_t Command) {
    switch (Command) {
    case mcReadCoils:
    case mcWriteSingleCoil:
    case mcWriteMultipleCoils: return ikCoil;
    case mcReadDiscreteInputs: return ikDiscreteInput;
    case mcReadInputRegisters: return ikInputRegister;
    default: return ikHoldingRegister;
    }
}

bool TRequestKey::Confusable(const TRequestKey& Other) const {
    return Server == Other.Server && Command == Other.Command && (Any || Other.Any || Detail == Other.Detail);
}

bool TSoakRequest::IsWrite() const {
    return Command == mcWriteSingleCoil || Command == mcWriteSingleRegister || Command == mcWriteMultipleCoils ||
           Command == mcWriteMultipleRegisters;
}

bool TSoakRequest::WritesCoils() const { return Command == mcWriteSingleCoil || Command == mcWriteMultipleCoils; }

TRequestMix::TRequestMix(TTransmissionMode Mode, uint64_t Seed, std::vector<uint8_t> Servers, uint8_t Missing)
    : mode_(Mode), rng_(Seed), servers_(std::move(Servers)), missing_(Missing) {}

uint16_t TRequestMix::Uniform(uint32_t Low, uint32_t High) {
    return static_cast<uint16_t>(std::uniform_int_distribution<uint32_t>(Low, High)(rng_));
}

bool TRequestMix::Recent(const TRequestKey& Key) const {
    return std::any_of(recent_.begin(), recent_.end(), [&](const TRequestKey& k) { return k.Confusable(Key); });
}

void TRequestMix::Remember(const TRequestKey& Key) {
    recent_.push_back(Key);
    if (recent_.size() > kConfusionWindow) recent_.pop_front();
}

TSoakRequest TRequestMix::Next(bool AllowBroadcast) {
    for (;;) {
        TSoakRequest r = Draw(AllowBroadcast, false);
        if (Recent(r.Key)) continue;
        Remember(r.Key);
        return r;
    }
}

TSoakRequest TRequestMix::NextRead() {
    for (;;) {
        TSoakRequest r = Draw(false, true);
        if (Recent(r.Key)) continue;
        Remember(r.Key);
        return r;
    }
}

TSoakRequest TRequestMix::Read(uint8_t Server, uint8_t Command, uint16_t Start, uint16_t Count) {
    TSoakRequest r;
    r.Server = Server;
    r.Command = Command;
    r.Start = Start;
    r.Count = Count;
    Finish(r);
    Remember(r.Key);
    return r;
}

TSoakRequest TRequestMix::Draw(bool AllowBroadcast, bool ReadsOnly) {
    TSoakRequest r;
    const int dice = ReadsOnly ? 100 : Uniform(0, 99);
    r.Server = servers_[Uniform(0, static_cast<uint32_t>(servers_.size() - 1))];
    bool undefined = false;
    if (dice < 6 && AllowBroadcast) {
        r.Server = 0;
        r.Command = kServedCommands[Uniform(4, 7)];
    } else if (dice < 10) {
        r.Command = kRefusedCommands[Uniform(0, 3)];
        r.Refusal = ecIllegalCommand;
    } else {
        if (dice < 11) {
            r.Server = missing_;
            r.NoServer = true;
        } else if (dice < 15) {
            undefined = true;
            r.Refusal = ecIllegalDataAddress;
        }
        int total = 0;
        for (int w : kServedWeights) total += w;
        int pick = Uniform(0, static_cast<uint32_t>(total - 1));
        size_t i = 0;
        while (pick >= kServedWeights[i]) pick -= kServedWeights[i++];
        r.Command = kServedCommands[i];
        if (ReadsOnly) r.Command = kServedCommands[Uniform(0, 3)];
    }

    const bool bits = IsBitCommand(r.Command);
    switch (r.Command) {
    case mcWriteSingleCoil:
    case mcWriteSingleRegister: r.Count = 1; break;
    case mcDiagnostics: r.Start = Uniform(0, DiagnosticActionCount - 1); break;
    case mcMaskWriteRegister:
        r.Start = Uniform(0, 0xFFFF);
        r.Values = {Uniform(0, 0xFFFF), Uniform(0, 0xFFFF)};
        break;
    case mcReadFileRecord: r.Values = {Uniform(1, 20), Uniform(0, 9000), Uniform(1, 5)}; break;
    case mcWriteFileRecord: {
        r.Values = {Uniform(1, 20), Uniform(0, 9000)};
        const uint16_t n = Uniform(1, 5);
        for (uint16_t i = 0; i < n; ++i) r.Values.push_back(Uniform(0, 0xFFFF));
        break;
    }
    default: {
        // Mostly short runs; now and then long ones, up to the largest a frame carries.
        const int size = Uniform(0, 99);
        uint32_t most = bits ? 32 : 8;
        if (size >= 70) most = bits ? 400 : 64;
        if (size >= 95) most = bits ? (r.Command == mcWriteMultipleCoils ? 1968 : 2000)
                                    : (r.Command == mcWriteMultipleRegisters ? 123 : 125);
        const uint32_t limit = TItemLayout::Size(KindOf(r.Command));
        r.Count = Uniform(1, std::min(most, limit));
        break;
    }
    }
    if (r.Command <= mcWriteMultipleRegisters && r.Command != mcDiagnostics) {
        const uint32_t size = TItemLayout::Size(KindOf(r.Command));
        r.Start = undefined ? Uniform(TItemLayout::Undefined, TItemLayout::Undefined + 1000)
                            : Uniform(0, size - r.Count);
    }
    if (r.IsWrite()) {
        for (uint16_t i = 0; i < r.Count; ++i) r.Values.push_back(bits ? Uniform(0, 1) : Uniform(0, 0xFFFF));
    }
    Finish(r);
    return r;
}

// The frame and the key, from the fields.
void TRequestMix::Finish(TSoakRequest& R) {
    Bytes f{R.Server, R.Command};
    TRequestKey& key = R.Key;
    key.Server = R.Server;
    key.Command = R.Command;
    key.Any = R.Refusal != 0;
    switch (R.Command) {
    case mcReadCoils:
    case mcReadDiscreteInputs:
    case mcReadHoldingRegisters:
    case mcReadInputRegisters:
        PutWord(f, R.Start);
        PutWord(f, R.Count);
        key.Detail = IsBitCommand(R.Command) ? (R.Count + 7u) / 8 : R.Count;
        break;
    case mcWriteSingleCoil:
    case mcWriteSingleRegister: {
        const uint16_t value = R.Command == mcWriteSingleCoil ? (R.Values[0] ? CoilOn : CoilOff) : R.Values[0];
        PutWord(f, R.Start);
        PutWord(f, value);
        key.Detail = uint32_t{R.Start} << 16 | value;
        break;
    }
    case mcWriteMultipleCoils: {
        PutWord(f, R.Start);
        PutWord(f, R.Count);
        f.push_back(static_cast<uint8_t>((R.Count + 7) / 8));
        for (uint16_t i = 0; i < R.Count; i += 8) {
            uint8_t byte = 0;
            for (uint16_t b = 0; b < 8 && i + b < R.Count; ++b) byte |= static_cast<uint8_t>((R.Values[i + b] & 1) << b);
            f.push_back(byte);
        }
        key.Detail = uint32_t{R.Start} << 16 | R.Count;
        break;
    }
    case mcWriteMultipleRegisters:
        PutWord(f, R.Start);
        PutWord(f, R.Count);
        f.push_back(static_cast<uint8_t>(2 * R.Count));
        for (uint16_t v : R.Values) PutWord(f, v);
        key.Detail = uint32_t{R.Start} << 16 | R.Count;
        break;
    case mcDiagnostics: {
        const auto action = static_cast<TDiagnosticAction>(R.Start);
        PutWord(f, DiagnosticSubFunction(action));
        PutWord(f, DiagnosticRequestData(action));
        break;
    }
    case mcMaskWriteRegister:
        PutWord(f, R.Start);
        PutWord(f, R.Values[0]);
        PutWord(f, R.Values[1]);
        break;
    case mcReadFileRecord:
        f.push_back(7);
        f.push_back(FileRecordReferenceType);
        for (uint16_t w : R.Values) PutWord(f, w);
        break;
    case mcWriteFileRecord: {
        const auto n = static_cast<uint16_t>(R.Values.size() - 2);
        f.push_back(static_cast<uint8_t>(7 + 2 * n));
        f.push_back(FileRecordReferenceType);
        PutWord(f, R.Values[0]);
        PutWord(f, R.Values[1]);
        PutWord(f, n);
        for (uint16_t i = 0; i < n; ++i) PutWord(f, R.Values[2 + i]);
        break;
    }
    }
    R.Line = LineFrame(mode_, f);
}

}  // namespace quelvan::test
