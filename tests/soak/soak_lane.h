#pragma once
// One soak lane: a client connection with four clients (three servers that answer and an
// address nobody answers) and a server connection with three servers, on the two ends of a
// virtual null-modem whose relay drops, corrupts, delays, splits, paces, echoes and injects
// bytes, in phases drawn from a seeded generator.
//
// The lane keeps a given number of transactions queued, checks every event against what it
// sent and against the item oracle, watches what the servers write, and counts what the line
// did. Everything runs on the main thread, driven by the events.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "item_oracle.h"
#include "line_witness.h"
#include "platform/virtual_null_modem.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "request_mix.h"

namespace quelvan::test {

struct TSoakFigures {
    uint64_t Transactions = 0;  // non-broadcast transactions, each with its event checked
    uint64_t Broadcasts = 0;
    uint64_t ByCommand[256] = {};  // transactions and broadcasts issued, by command
    uint64_t Outcomes[4] = {};     // by TReplyKind
    uint64_t Attempts = 0;
    uint64_t Refused = 0;       // requests the server must refuse (exception 01 or 02)
    uint64_t NoServer = 0;      // requests to the address nobody answers
    uint64_t Phases = 0, EchoPhases = 0, Injections = 0;
    // Normal or exception outcomes decided by a frame the server never sent for that request:
    // a copy of the request itself (an echo that came after the attempt it belonged to), or a
    // damaged frame whose checksum still held.
    uint64_t LateEchoes = 0;
    uint64_t Unauthentic = 0;
    uint64_t StrayRequests = 0;  // requests the server handled that no client sent
    uint64_t StrayWrites = 0;    // item writes those made
    uint64_t ItemsVerified = 0;  // items read back on a clean line at the end
    platform::TRelayCounters ToServer, ToClient;

    void Add(const TSoakFigures& Other);
};

struct TLaneOptions {
    TTransmissionMode Mode = tmRTU;
    uint64_t Seed = 1;
    uint32_t ReceiveTimeout = 150;
    uint32_t MaxRetries = 3;
    size_t InFlight = 6;  // transactions kept queued at once
};

class TSoakLane {
public:
    explicit TSoakLane(const TLaneOptions& Options);
    ~TSoakLane();
    TSoakLane(const TSoakLane&) = delete;
    TSoakLane& operator=(const TSoakLane&) = delete;

    void Open();
    // Issues Count more transactions, then waits for the line to go quiet; Idle() tells when.
    void Run(uint32_t Count);
    // Nothing in flight and nothing left to issue.
    bool Idle() const { return state_ == sIdle; }
    // Cleans the line and reads every item back; Idle() again when done. Only when Idle().
    void Verify();

    // Queued transactions on the client connection: in total plus those of each client.
    int PendingCount();
    const TSoakFigures& Figures();
    uint64_t FailureCount() const { return failureCount_; }
    const std::vector<std::string>& Failures() const { return failures_; }
    // The first few outcomes decided by a frame the server did not send for that request.
    const std::vector<std::string>& Notes() const { return notes_; }
    TTransmissionMode Mode() const { return options_.Mode; }

private:
    enum TState : uint8_t { sIdle, sRunning, sQuieting, sVerifying };
    struct TEvent {
        uint8_t Command;
        TTransactionInfo Info;
        uint16_t Start = 0, Count = 0;
        std::vector<uint16_t> Values;
    };

    void Bind(TModbusClient& Client);
    void Fail(const std::string& What);
    void Advance();
    bool Quiet() const;
    void NewPhase();
    void ApplyEcho(bool On);
    void Inject();
    TRequestPtr Issue(TSoakRequest Request);
    uint32_t Call(const TSoakRequest& R, void* UserData);
    void FinishVerify();

    void OnEvent(const TEvent& E);
    void CheckFields(const TSoakRequest& R, const TEvent& E);
    bool CheckOutcome(const TSoakRequest& R, const TEvent& E);
    void Unknown(const TSoakRequest& R);
    void ApplyBroadcastsBefore(uint32_t ID);
    void OnClientSent(const Bytes& Frame);
    void OnServerWrite(size_t Server, TItemKind Kind, uint16_t Address, uint16_t Value);
    TItemOracle& OracleOf(uint8_t Address) { return *oracles_[Address - 1]; }

    const TLaneOptions options_;
    std::mt19937_64 rng_;
    platform::TVirtualNullModem modem_;
    TModbusConnection clientConnection_, serverConnection_;
    std::array<std::unique_ptr<TModbusClient>, 4> clients_;
    std::array<std::unique_ptr<TModbusServer>, 3> servers_;
    std::array<std::unique_ptr<TModbusItemMap>, 3> maps_;
    std::array<std::unique_ptr<TItemOracle>, 3> oracles_;
    TRequestMix mix_;
    TLineWitness witness_;

    TState state_ = sIdle;
    uint32_t toIssue_ = 0;
    uint32_t untilPhase_ = 0;
    bool echo_ = false, echoWanted_ = false;
    double injectRate_ = 0;
    uint32_t nextID_ = 0;
    bool lastWasBroadcast_ = false;
    std::map<uint32_t, TRequestPtr> pending_;   // awaiting their event
    std::deque<TRequestPtr> broadcasts_;        // not yet known to be sent
    std::deque<TRequestPtr> onLine_;            // issued, in sending order, not yet superseded
    std::map<uint32_t, std::pair<TSoakRequest, int>> verifying_;  // reads back: request, tries

    TSoakFigures figures_;
    uint64_t failureCount_ = 0;
    std::vector<std::string> failures_;
    std::vector<std::string> notes_;
};

}  // namespace quelvan::test
