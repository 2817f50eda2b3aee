#include "soak_lane.h"

#include <algorithm>
#include <cstdio>

#include "quelvan/function_catalogue.h"

namespace quelvan::test {

using platform::TNullModemSide;

namespace {

constexpr uint8_t kClientAddresses[] = {1, 2, 3, 9};  // 9: no server has it
constexpr uint8_t kMissingAddress = 9;
constexpr uint8_t kForeignAddress = 200;  // a device on the bus that nobody here talks to
constexpr size_t kFailuresKept = 30;
constexpr int kVerifyTries = 10;

Bytes Copy(const TFrameData& D) { return Bytes(D.begin(), D.end()); }

void* UserDataOf(uint32_t ID) { return reinterpret_cast<void*>(static_cast<uintptr_t>(ID) * 8 + 8); }

std::string Describe(const TSoakRequest& R) {
    char text[160];
    std::snprintf(text, sizeof text, "transaction %u (command 0x%02X to %u, start %u, count %u)", R.ID, R.Command,
                  R.Server, R.Start, R.Count);
    return text;
}

std::string Format(const char* Pattern, uint64_t A, uint64_t B = 0, uint64_t C = 0) {
    char text[200];
    std::snprintf(text, sizeof text, Pattern, static_cast<unsigned long long>(A), static_cast<unsigned long long>(B),
                  static_cast<unsigned long long>(C));
    return text;
}

}  // namespace

void TSoakFigures::Add(const TSoakFigures& O) {
    Transactions += O.Transactions;
    Broadcasts += O.Broadcasts;
    for (size_t i = 0; i < 256; ++i) ByCommand[i] += O.ByCommand[i];
    for (size_t i = 0; i < 4; ++i) Outcomes[i] += O.Outcomes[i];
    Attempts += O.Attempts;
    Refused += O.Refused;
    NoServer += O.NoServer;
    Phases += O.Phases;
    EchoPhases += O.EchoPhases;
    Injections += O.Injections;
    LateEchoes += O.LateEchoes;
    Unauthentic += O.Unauthentic;
    StrayRequests += O.StrayRequests;
    StrayWrites += O.StrayWrites;
    ItemsVerified += O.ItemsVerified;
    for (auto [mine, theirs] : {std::pair{&ToServer, &O.ToServer}, std::pair{&ToClient, &O.ToClient}}) {
        mine->Received += theirs->Received;
        mine->Delivered += theirs->Delivered;
        mine->Dropped += theirs->Dropped;
        mine->Corrupted += theirs->Corrupted;
        mine->Echoed += theirs->Echoed;
        mine->Injected += theirs->Injected;
        mine->Writes += theirs->Writes;
    }
}

TSoakLane::TSoakLane(const TLaneOptions& Options)
    : options_(Options),
      rng_(Options.Seed),
      modem_(Options.Seed ^ 0x9E3779B97F4A7C15ull),
      mix_(Options.Mode, Options.Seed * 31 + 7, {1, 2, 3}, kMissingAddress) {
    for (TModbusConnection* c : {&clientConnection_, &serverConnection_}) {
        c->SetTransmissionMode(Options.Mode);
        c->SetBaudRate(br115200);
    }
    clientConnection_.SetPort(modem_.PortA());
    serverConnection_.SetPort(modem_.PortB());
    serverConnection_.SetConnectionMode(cmServer);
    clientConnection_.SetReceiveTimeout(Options.ReceiveTimeout);
    clientConnection_.SetMaxRetries(Options.MaxRetries);
    // Long enough for an RTU server to see the end of a broadcast before the next request.
    clientConnection_.SetTurnaroundDelay(Options.Mode == tmRTU ? 30 : 10);

    for (size_t i = 0; i < servers_.size(); ++i) {
        servers_[i] = std::make_unique<TModbusServer>();
        servers_[i]->SetAddress(static_cast<uint8_t>(i + 1));
        servers_[i]->SetConnection(&serverConnection_);
        maps_[i] = std::make_unique<TModbusItemMap>();
        FillItems(*maps_[i], Options.Seed * 7 + i);
        maps_[i]->Attach(*servers_[i]);
        oracles_[i] = std::make_unique<TItemOracle>(*maps_[i]);
        maps_[i]->OnChanged = [this, i](TItemKind K, uint16_t A, uint16_t V) { OnServerWrite(i, K, A, V); };
    }
    for (size_t i = 0; i < clients_.size(); ++i) {
        clients_[i] = std::make_unique<TModbusClient>();
        clients_[i]->SetServerAddress(kClientAddresses[i]);
        clients_[i]->SetConnection(&clientConnection_);
        Bind(*clients_[i]);
    }
    clientConnection_.OnFrameSend = [this](TModbusConnection&, const TFrameData& D) { OnClientSent(Copy(D)); };
    clientConnection_.OnFrameReceive = [this](TModbusConnection&, const TFrameData& D) {
        witness_.ClientReceived(Copy(D));
    };
    serverConnection_.OnFrameReceive = [this](TModbusConnection&, const TFrameData& D) {
        witness_.ServerReceived(Copy(D));
    };
    serverConnection_.OnFrameSend = [this](TModbusConnection&, const TFrameData& D) {
        if (!D.empty() && !witness_.ServerRequest()) ++figures_.StrayRequests;
        witness_.ServerSent(Copy(D));
    };
}

TSoakLane::~TSoakLane() {
    // The client first: its thread may still wait for a reply that the server must give.
    try {
        clientConnection_.Close();
        serverConnection_.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak: closing a lane raised: %s\n", e.what());
    }
}

void TSoakLane::Open() {
    serverConnection_.Open();
    clientConnection_.Open();
}

void TSoakLane::Bind(TModbusClient& C) {
    auto bits = [this](uint8_t Command) {
        return [this, Command](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t N, const TBitValues& V) {
            TEvent e{Command, I, S, N, {}};
            e.Values.assign(V.begin(), V.end());
            OnEvent(e);
        };
    };
    auto regs = [this](uint8_t Command) {
        return [this, Command](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t N, const TRegValues& V) {
            OnEvent(TEvent{Command, I, S, N, V});
        };
    };
    auto files = [this](uint8_t Command) {
        return [this, Command](TModbusClient&, const TTransactionInfo& I, TModbusFileRecordList& L) {
            TEvent e{Command, I, 0, 0, {}};
            if (L.Count() > 0) {
                const TModbusFileRecord& r = L.Items(0);
                e.Values = {r.FileNumber(), r.StartReg()};
                if (Command == mcReadFileRecord) e.Values.push_back(static_cast<uint16_t>(r.RegCount()));
                else
                    for (int32_t k = 0; k < r.RegCount(); ++k) e.Values.push_back(r.RegValues(k));
            }
            OnEvent(e);
        };
    };
    C.OnCoilsRead = bits(mcReadCoils);
    C.OnDiscreteInputsRead = bits(mcReadDiscreteInputs);
    C.OnMultipleCoilsWrite = bits(mcWriteMultipleCoils);
    C.OnHoldingRegistersRead = regs(mcReadHoldingRegisters);
    C.OnInputRegistersRead = regs(mcReadInputRegisters);
    C.OnMultipleRegistersWrite = regs(mcWriteMultipleRegisters);
    C.OnFileRecordRead = files(mcReadFileRecord);
    C.OnFileRecordWrite = files(mcWriteFileRecord);
    C.OnSingleCoilWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, bool V) {
        OnEvent(TEvent{mcWriteSingleCoil, I, A, 1, {static_cast<uint16_t>(V)}});
    };
    C.OnSingleRegisterWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, uint16_t V) {
        OnEvent(TEvent{mcWriteSingleRegister, I, A, 1, {V}});
    };
    C.OnDiagnostics = [this](TModbusClient&, const TTransactionInfo& I, TDiagnosticAction A, uint16_t) {
        OnEvent(TEvent{mcDiagnostics, I, static_cast<uint16_t>(A), 0, {}});
    };
    C.OnSingleRegisterMaskWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, uint16_t And,
                                         uint16_t Or) { OnEvent(TEvent{mcMaskWriteRegister, I, A, 0, {And, Or}}); };
}

void TSoakLane::Fail(const std::string& What) {
    ++failureCount_;
    if (failures_.size() < kFailuresKept)
        failures_.push_back((options_.Mode == tmRTU ? "RTU lane " : "ASCII lane ") + std::to_string(options_.Seed) +
                            ": " + What);
}

// Issuing ------------------------------------------------------------------------------------

void TSoakLane::Run(uint32_t Count) {
    toIssue_ = Count;
    state_ = sRunning;
    Advance();
}

bool TSoakLane::Quiet() const { return pending_.empty(); }

// Keeps the queue filled while running; switches the echo, and ends a round, once the last
// transaction has had its event (a broadcast has none, so a read follows the last one).
void TSoakLane::Advance() {
    if (state_ == sRunning) {
        while (state_ == sRunning && toIssue_ > 0 && pending_.size() < options_.InFlight) {
            if (untilPhase_ == 0) {
                NewPhase();
                if (echoWanted_ != echo_) {
                    state_ = sQuieting;
                    break;
                }
            }
            Issue(mix_.Next(true));
            --toIssue_;
            --untilPhase_;
        }
        if (state_ == sRunning && toIssue_ == 0) state_ = sQuieting;
        if (state_ == sQuieting && lastWasBroadcast_) Issue(mix_.NextRead());
    }
    if (state_ == sQuieting && Quiet()) {
        if (echoWanted_ != echo_) ApplyEcho(echoWanted_);
        state_ = toIssue_ > 0 ? sRunning : sIdle;
        if (state_ == sRunning) Advance();
    }
}

void TSoakLane::NewPhase() {
    auto pick = [this](std::initializer_list<double> Choices) {
        return *(Choices.begin() + std::uniform_int_distribution<size_t>(0, Choices.size() - 1)(rng_));
    };
    auto draw = [&] {
        platform::TRelayControls c;
        // Per byte: a long ASCII frame has some 500, so the worst phases lose most of those.
        c.DropProbability = pick({0, 0, 0.001, 0.004, 0.015});
        c.CorruptProbability = pick({0, 0, 0.001, 0.004, 0.015});
        // Splits: pieces of 1, 3 or 16 bytes, with pauses short enough that the line still
        // carries more than the traffic (a slower line only builds a backlog that fails
        // every transaction behind it) and shorter than the end-of-frame gap.
        c.ChunkSize = static_cast<uint32_t>(pick({0, 0, 1, 3, 16}));
        if (c.ChunkSize == 3) c.ChunkDelayMs = static_cast<uint32_t>(pick({0, 1}));
        if (c.ChunkSize == 16) c.ChunkDelayMs = static_cast<uint32_t>(pick({0, 1, 2}));
        c.DelayMs = static_cast<uint32_t>(pick({0, 0, 1, 5, 10, 20}));
        c.BaudRate = static_cast<uint32_t>(pick({0, 0, 0, 0, 460800, 921600}));
        return c;
    };
    platform::TRelayControls toServer = draw(), toClient = draw();
    toServer.Echo = echo_;  // the echo changes only once the line is quiet
    modem_.SetControls(TNullModemSide::A, toServer);
    modem_.SetControls(TNullModemSide::B, toClient);
    echoWanted_ = pick({0, 0, 0, 1}) != 0;
    injectRate_ = pick({0, 0, 0.05, 0.2});
    untilPhase_ = std::uniform_int_distribution<uint32_t>(15, 60)(rng_);
    ++figures_.Phases;
}

// Only while nothing is in flight: with the echo flag set and no echo on the line, the reply
// to a single write (which repeats the request) would be taken for the echo.
void TSoakLane::ApplyEcho(bool On) {
    platform::TRelayControls c = modem_.Controls(TNullModemSide::A);
    c.Echo = On;
    modem_.SetControls(TNullModemSide::A, c);
    clientConnection_.SetEchoQueryBeforeReply(On);
    echo_ = On;
    if (On) ++figures_.EchoPhases;
}

void TSoakLane::Inject() {
    ++figures_.Injections;
    auto uniform = [this](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(rng_); };
    Bytes junk(static_cast<size_t>(uniform(1, 12)));
    for (uint8_t& b : junk) b = static_cast<uint8_t>(uniform(0, 255));
    switch (uniform(0, 3)) {
    case 0: modem_.Inject(TNullModemSide::A, junk); break;
    case 1: modem_.Inject(TNullModemSide::B, junk); break;
    case 2:  // a well-formed frame from another device: the client must keep waiting
        modem_.Inject(TNullModemSide::A, LineFrame(options_.Mode, {kForeignAddress, mcReadHoldingRegisters, 2,
                                                                   junk[0], static_cast<uint8_t>(junk.size())}));
        break;
    default: {  // the start of an ASCII frame that never ends
        static const char digits[] = "0123456789ABCDEF";
        Bytes partial{':'};
        for (uint8_t b : junk) partial.push_back(static_cast<uint8_t>(digits[b & 15]));
        modem_.Inject(uniform(0, 1) ? TNullModemSide::A : TNullModemSide::B, partial);
    }
    }
}

TRequestPtr TSoakLane::Issue(TSoakRequest Request) {
    Request.ID = nextID_;
    uint32_t id = 0;
    try {
        id = Call(Request, UserDataOf(Request.ID));
    } catch (const std::exception& e) {
        Fail(Describe(Request) + ": issuing it raised: " + e.what());
        return nullptr;
    }
    if (id != Request.ID) {
        Fail(Format("the call returned ID %llu where %llu was next", id, Request.ID));
        Request.ID = id;
    }
    nextID_ = id + 1;
    auto r = std::make_shared<const TSoakRequest>(std::move(Request));
    ++figures_.ByCommand[r->Command];
    if (r->Server == 0) {
        ++figures_.Broadcasts;
        broadcasts_.push_back(r);
    } else {
        pending_[r->ID] = r;
        figures_.Refused += r->Refusal != 0;
        figures_.NoServer += r->NoServer;
    }
    lastWasBroadcast_ = r->Server == 0;
    onLine_.push_back(r);
    return r;
}

uint32_t TSoakLane::Call(const TSoakRequest& R, void* UserData) {
    const std::vector<uint16_t>& v = R.Values;
    if (R.Server == 0) {
        switch (R.Command) {
        case mcWriteSingleCoil: return clientConnection_.BroadcastWriteSingleCoil(R.Start, v[0] != 0, UserData);
        case mcWriteSingleRegister: return clientConnection_.BroadcastWriteSingleRegister(R.Start, v[0], UserData);
        case mcWriteMultipleCoils:
            return clientConnection_.BroadcastWriteMultipleCoils(R.Start, TBitValues(v.begin(), v.end()), UserData);
        default: return clientConnection_.BroadcastWriteMultipleRegisters(R.Start, v, UserData);
        }
    }
    const auto slot = std::find(std::begin(kClientAddresses), std::end(kClientAddresses), R.Server);
    TModbusClient& c = *clients_[static_cast<size_t>(slot - std::begin(kClientAddresses))];
    switch (R.Command) {
    case mcReadCoils: return c.ReadCoils(R.Start, R.Count, UserData);
    case mcReadDiscreteInputs: return c.ReadDiscreteInputs(R.Start, R.Count, UserData);
    case mcReadHoldingRegisters: return c.ReadHoldingRegisters(R.Start, R.Count, UserData);
    case mcReadInputRegisters: return c.ReadInputRegisters(R.Start, R.Count, UserData);
    case mcWriteSingleCoil: return c.WriteSingleCoil(R.Start, v[0] != 0, UserData);
    case mcWriteSingleRegister: return c.WriteSingleRegister(R.Start, v[0], UserData);
    case mcWriteMultipleCoils: return c.WriteMultipleCoils(R.Start, TBitValues(v.begin(), v.end()), UserData);
    case mcWriteMultipleRegisters: return c.WriteMultipleRegisters(R.Start, v, UserData);
    case mcDiagnostics: return c.Diagnostics(static_cast<TDiagnosticAction>(R.Start), UserData);
    case mcMaskWriteRegister: return c.MaskWriteSingleRegister(R.Start, v[0], v[1], UserData);
    case mcReadFileRecord: {
        TModbusFileRecordList list;
        list.Add(v[0], v[1], v[2]);
        return c.ReadFileRecord(list, UserData);
    }
    default: {
        TModbusFileRecordList list;
        TModbusFileRecord& r = list.Add(v[0], v[1], static_cast<int32_t>(v.size() - 2));
        for (size_t k = 2; k < v.size(); ++k) r.SetRegValues(static_cast<int32_t>(k - 2), v[k]);
        return c.WriteFileRecord(list, UserData);
    }
    }
}

// Checking -----------------------------------------------------------------------------------

// Each frame the client sends is the current transaction's request again (a retry) or the
// next one's: nothing is skipped, reordered or encoded differently from the reference.
void TSoakLane::OnClientSent(const Bytes& Frame) {
    if (!onLine_.empty() && onLine_.front()->Line == Frame) {
        witness_.ClientSent(Frame, onLine_.front());
        return;
    }
    if (onLine_.size() >= 2 && onLine_[1]->Line == Frame) {
        const TRequestPtr done = onLine_.front();
        onLine_.pop_front();
        if (done->Server != 0 && pending_.count(done->ID))
            Fail(Describe(*done) + ": the next request went out before its event");
        witness_.ClientSent(Frame, onLine_.front());
        return;
    }
    Fail("the client sent " + Hex(Frame) + ", which is not the next request" +
         (onLine_.empty() ? std::string() : " (expected " + Hex(onLine_.front()->Line) + ")"));
}

void TSoakLane::OnServerWrite(size_t Server, TItemKind Kind, uint16_t Address, uint16_t Value) {
    const TRequestPtr& r = witness_.ServerRequest();
    if (!r) {
        ++figures_.StrayWrites;
        oracles_[Server]->Item(Kind, Address).AddStray(Value, witness_.ServerSequence());
        return;
    }
    const uint8_t address = static_cast<uint8_t>(Server + 1);
    const bool fits = r->IsWrite() && (r->Server == address || r->Server == 0) && r->Refusal == 0 &&
                      KindOf(r->Command) == Kind && Address >= r->Start && Address - r->Start < r->Count &&
                      r->Values[Address - r->Start] == Value;
    if (!fits)
        Fail(Describe(*r) + Format(": server %llu wrote %llu to item %llu, which the request does not ask for",
                                   address, Value, Address));
}

void TSoakLane::ApplyBroadcastsBefore(uint32_t ID) {
    while (!broadcasts_.empty() && broadcasts_.front()->ID < ID) {
        const TSoakRequest& b = *broadcasts_.front();
        for (auto& oracle : oracles_)
            for (uint16_t i = 0; i < b.Count; ++i) oracle->Item(KindOf(b.Command), b.Start + i).AddPossible(b.Values[i]);
        broadcasts_.pop_front();
    }
}

void TSoakLane::OnEvent(const TEvent& E) {
    const uint32_t id = E.Info.ID;
    auto it = pending_.find(id);
    if (it == pending_.end()) {
        Fail(Format("an event for transaction %llu, which awaits none (a second event, or an unknown ID)", id));
        return;
    }
    for (auto early = pending_.begin(); early != it;) {
        Fail(Describe(*early->second) + Format(": no event, though transaction %llu sent after it had one", id));
        early = pending_.erase(early);
    }
    const TRequestPtr r = it->second;
    pending_.erase(it);
    ApplyBroadcastsBefore(id);
    CheckFields(*r, E);
    const bool settled = CheckOutcome(*r, E);
    ++figures_.Transactions;
    ++figures_.Outcomes[E.Info.Reply & 3];
    figures_.Attempts += E.Info.Attempts;
    witness_.ForgetClientReceived();

    if (state_ == sVerifying) {
        auto v = verifying_.find(id);
        if (v != verifying_.end()) {
            auto [request, tries] = v->second;
            verifying_.erase(v);
            if (settled) {
                figures_.ItemsVerified += request.Count;
            } else if (tries < kVerifyTries) {
                const TRequestPtr again = Issue(request);
                if (again) verifying_[again->ID] = {request, tries + 1};
            } else {
                Fail(Describe(*r) + ": no normal reply on a clean line");
            }
        }
        if (verifying_.empty()) FinishVerify();
        return;
    }
    if (state_ == sRunning && std::uniform_real_distribution<double>(0, 1)(rng_) < injectRate_) Inject();
    Advance();
}

void TSoakLane::CheckFields(const TSoakRequest& R, const TEvent& E) {
    const TTransactionInfo& info = E.Info;
    if (E.Command != R.Command) Fail(Describe(R) + Format(": fired the event of command 0x%02llX", E.Command));
    if (info.ServerAddress != R.Server) Fail(Describe(R) + Format(": reported server %llu", info.ServerAddress));
    if (info.UserData != UserDataOf(R.ID)) Fail(Describe(R) + ": UserData changed");
    if (info.Attempts < 1 || info.Attempts > options_.MaxRetries)
        Fail(Describe(R) + Format(": %llu attempts", info.Attempts));
    if (info.Reply == rkExceptionReply && info.ExceptionCode != (info.RawExceptionCode <= 8 ? info.RawExceptionCode : 0))
        Fail(Describe(R) + ": exception code and raw code disagree");
    switch (R.Command) {
    case mcDiagnostics:
        if (E.Start != R.Start) Fail(Describe(R) + ": reported another diagnostic action");
        return;
    case mcMaskWriteRegister:
    case mcReadFileRecord:
    case mcWriteFileRecord:
        if (E.Values != R.Values || (R.Command == mcMaskWriteRegister && E.Start != R.Start))
            Fail(Describe(R) + ": reported other fields than those sent");
        return;
    default: break;
    }
    if (E.Start != R.Start || E.Count != R.Count || E.Values.size() != R.Count)
        Fail(Describe(R) + Format(": reported start %llu count %llu with %llu values", E.Start, E.Count, E.Values.size()));
    else if (R.IsWrite() && E.Values != R.Values)
        Fail(Describe(R) + ": reported other values than those written");
    else if (!R.IsWrite() && info.Reply != rkNormalReply &&
             std::any_of(E.Values.begin(), E.Values.end(), [](uint16_t v) { return v != 0; }))
        Fail(Describe(R) + ": values other than zero without a normal reply");
}

// The verdict must fit what crossed the line. Returns true when the reply settled the items.
bool TSoakLane::CheckOutcome(const TSoakRequest& R, const TEvent& E) {
    const TTransactionInfo& info = E.Info;
    if (info.Reply != rkNormalReply && info.Reply != rkExceptionReply) {
        if (info.Reply != rkNoReply && info.Reply != rkUnmatchedReply)
            Fail(Describe(R) + Format(": outcome %llu", info.Reply));
        Unknown(R);
        return false;
    }
    // The frame that decided: the last one received, without the echo of the request when
    // both came as one block.
    Bytes reply = witness_.LastClientReceived();
    if (echo_ && reply.size() > R.Line.size() && std::equal(R.Line.begin(), R.Line.end(), reply.begin()))
        reply.erase(reply.begin(), reply.begin() + static_cast<ptrdiff_t>(R.Line.size()));
    const std::optional<uint64_t> sequence = witness_.FindReply(R.Line, reply);
    if (!sequence) {
        ++(reply == R.Line ? figures_.LateEchoes : figures_.Unauthentic);
        if (notes_.size() < kFailuresKept)
            notes_.push_back(std::string(options_.Mode == tmRTU ? "RTU: " : "ASCII: ") + Describe(R) +
                             (info.Reply == rkNormalReply ? " ended normal" : " ended with an exception") +
                             (echo_ ? " (echoing line)" : "") + " on " + Hex(reply) + ": " +
                             witness_.Explain(R.Line, reply));
        Unknown(R);
        return false;
    }
    if (info.Reply == rkExceptionReply) {
        if (R.Refusal == 0)
            Fail(Describe(R) + Format(": refused with exception %llu", info.RawExceptionCode));
        else if (info.RawExceptionCode != R.Refusal)
            Fail(Describe(R) + Format(": exception %llu where %llu was due", info.RawExceptionCode, R.Refusal));
        return false;
    }
    if (R.Refusal != 0 || R.NoServer) {
        Fail(Describe(R) + ": a normal reply where none may come");
        return false;
    }
    const TItemKind kind = KindOf(R.Command);
    TItemOracle& oracle = OracleOf(R.Server);
    for (uint16_t i = 0; i < R.Count; ++i) {
        TPossibleValues& item = oracle.Item(kind, static_cast<uint16_t>(R.Start + i));
        const uint16_t value = IsRead(R.Command) ? E.Values[i] : R.Values[i];
        if (IsRead(R.Command) && !item.Contains(value))
            Fail(Describe(R) + Format(": item %llu read as %llu, which it cannot hold (%llu candidates)",
                                      R.Start + i, value, item.Size()));
        item.Settle(value, *sequence);
    }
    return true;
}

// A write that may or may not have taken effect.
void TSoakLane::Unknown(const TSoakRequest& R) {
    if (!R.IsWrite() || R.Refusal != 0 || R.NoServer) return;
    TItemOracle& oracle = OracleOf(R.Server);
    for (uint16_t i = 0; i < R.Count; ++i)
        oracle.Item(KindOf(R.Command), static_cast<uint16_t>(R.Start + i)).AddPossible(R.Values[i]);
}

// Verification -------------------------------------------------------------------------------

void TSoakLane::Verify() {
    state_ = sVerifying;
    modem_.SetControls(TNullModemSide::A, {});
    modem_.SetControls(TNullModemSide::B, {});
    ApplyEcho(false);
    injectRate_ = 0;
    clientConnection_.SetReceiveTimeout(std::max<uint32_t>(options_.ReceiveTimeout, 1000));
    for (uint8_t server : {1, 2, 3}) {
        for (auto [command, size, most] : {std::tuple{mcReadCoils, TItemLayout::Coils, 2000},
                                           std::tuple{mcReadDiscreteInputs, TItemLayout::DiscreteInputs, 2000},
                                           std::tuple{mcReadHoldingRegisters, TItemLayout::HoldingRegisters, 125},
                                           std::tuple{mcReadInputRegisters, TItemLayout::InputRegisters, 125}}) {
            for (int start = 0; start < size; start += most) {
                const TSoakRequest read = mix_.Read(server, command, static_cast<uint16_t>(start),
                                                    static_cast<uint16_t>(std::min(most, size - start)));
                const TRequestPtr r = Issue(read);
                if (r) verifying_[r->ID] = {read, 1};
            }
        }
    }
    if (verifying_.empty()) FinishVerify();
}

// Every item the servers hold is one the clients may read back.
void TSoakLane::FinishVerify() {
    for (size_t s = 0; s < maps_.size(); ++s)
        for (TItemKind kind : {ikCoil, ikDiscreteInput, ikHoldingRegister, ikInputRegister})
            for (uint16_t a = 0; a < TItemLayout::Size(kind); ++a)
                if (!oracles_[s]->Item(kind, a).Contains(maps_[s]->Value(kind, a)))
                    Fail(Format("server %llu holds %llu in item %llu, which no client could know", s + 1,
                                maps_[s]->Value(kind, a), a));
    state_ = sIdle;
}

int TSoakLane::PendingCount() {
    int n = clientConnection_.GetPendingTransactionCount();
    for (auto& c : clients_) n += clientConnection_.GetPendingTransactionCount(c.get());
    return n;
}

const TSoakFigures& TSoakLane::Figures() {
    figures_.ToServer = modem_.Counters(TNullModemSide::A);
    figures_.ToClient = modem_.Counters(TNullModemSide::B);
    return figures_;
}

}  // namespace quelvan::test
