// Components opened, closed, switched, rebound, discarded and destroyed while traffic is in
// flight: no crash, no event twice or after its client is gone, nothing left queued, and
// (under the sanitizers) no leak and no data race.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/component.h"
#include "platform/virtual_null_modem.h"
#include "quelvan/errors.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using platform::TNullModemSide;
using test::PumpFor;
using test::PumpUntil;

// The only error delivery may show: a transaction that finished as its connection closed.
constexpr const char* kClosedUnderfoot = "There is no active connection";

// Two connections on the ends of a null-modem, with clients and servers under one owner (the
// "form"), all of which the tests create and destroy at will. Every event is checked as it
// arrives: its client must be alive, bound to a connection that issued the ID, and the
// (connection, ID) pair must be new.
class LifecycleRig {
public:
    LifecycleRig(TTransmissionMode Mode, uint64_t Seed) : mode_(Mode), rng_(Seed), modem_(Seed) {
        platform::Application().OnException = [this](const std::exception& e) { shown_.push_back(e.what()); };
        Build();
    }
    ~LifecycleRig() {
        Teardown();
        platform::Application().OnException = nullptr;
    }

    // Creates the owner with both connections (A a client, B a server), two clients and two
    // servers on each.
    void Build() {
        form_ = std::make_unique<platform::TComponent>(nullptr);
        for (int side = 0; side < 2; ++side) NewConnection(side, side == 0 ? cmClient : cmServer);
        for (int i = 0; i < 4; ++i) NewClient();
        for (int i = 0; i < 4; ++i) NewServer();
    }

    void Teardown() {
        liveClients_.clear();
        form_.reset();  // destroys connections, clients and servers, closing what is open
        connections_[0] = connections_[1] = nullptr;
        clients_.clear();
        servers_.clear();
    }

    void OpenAll() {
        for (TModbusConnection* c : ServerFirst()) TryOpen(*c);
    }

    int Uniform(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(rng_); }

    TModbusConnection* NewConnection(int Side, TConnectionMode Mode) {
        auto* c = new TModbusConnection(form_.get());
        c->SetTransmissionMode(mode_);
        c->SetBaudRate(br115200);
        c->SetPort(modem_.Port(Side == 0 ? TNullModemSide::A : TNullModemSide::B));
        c->SetConnectionMode(Mode);
        c->SetReceiveTimeout(60);
        c->SetTurnaroundDelay(5);
        generation_[c] = ++lastGeneration_;
        connections_[Side] = c;
        return c;
    }

    TModbusClient* NewClient() {
        auto* client = new TModbusClient(form_.get());
        client->SetServerAddress(static_cast<uint8_t>(Uniform(1, 3)));  // 3: nobody answers
        const uint64_t serial = ++lastSerial_;
        liveClients_[client] = serial;
        auto record = [this, serial](TModbusClient& Sender, const TTransactionInfo& Info) { Record(serial, Sender, Info); };
        client->OnCoilsRead = [record](TModbusClient& S, const TTransactionInfo& I, uint16_t, uint16_t,
                                       const TBitValues&) { record(S, I); };
        client->OnHoldingRegistersRead = [record](TModbusClient& S, const TTransactionInfo& I, uint16_t, uint16_t,
                                                  const TRegValues&) { record(S, I); };
        client->OnSingleRegisterWrite = [record](TModbusClient& S, const TTransactionInfo& I, uint16_t, uint16_t) {
            record(S, I);
        };
        client->OnMultipleCoilsWrite = [record](TModbusClient& S, const TTransactionInfo& I, uint16_t, uint16_t,
                                                const TBitValues&) { record(S, I); };
        if (TModbusConnection* c = connections_[Uniform(0, 1)]) client->SetConnection(c);
        clients_.push_back(client);
        return client;
    }

    TModbusServer* NewServer() {
        auto* server = new TModbusServer(form_.get());
        server->SetAddress(static_cast<uint8_t>(Uniform(1, 2)));
        maps_.push_back(std::make_unique<TModbusItemMap>());  // outlives every server
        maps_.back()->Define(ikCoil, 0, 64);
        maps_.back()->Define(ikHoldingRegister, 0, 16);
        maps_.back()->Attach(*server);
        if (TModbusConnection* c = connections_[Uniform(0, 1)]) server->SetConnection(c);
        servers_.push_back(server);
        return server;
    }

    void Record(uint64_t Serial, TModbusClient& Sender, const TTransactionInfo& Info) {
        ++events_;
        auto live = liveClients_.find(&Sender);
        EXPECT_TRUE(live != liveClients_.end() && live->second == Serial) << "an event for a destroyed client";
        TModbusConnection* c = Sender.Connection();
        ASSERT_NE(c, nullptr) << "an event for an unbound client";
        const uint64_t generation = generation_[c];
        EXPECT_TRUE(issued_[generation].count(Info.ID)) << "an event for ID " << Info.ID << " never issued there";
        EXPECT_TRUE(delivered_.insert({generation, Info.ID}).second) << "a second event for ID " << Info.ID;
        EXPECT_EQ(Info.ServerAddress, Sender.ServerAddress());
    }

    // Issues a random request from a random client; an inactive connection must refuse it.
    void Issue() {
        if (clients_.empty()) return;
        TModbusClient& client = *clients_[static_cast<size_t>(Uniform(0, static_cast<int>(clients_.size()) - 1))];
        TModbusConnection* c = client.Connection();
        try {
            uint32_t id = 0;
            switch (Uniform(0, 3)) {
            case 0: id = client.ReadHoldingRegisters(static_cast<uint16_t>(Uniform(0, 12)), 4); break;
            case 1: id = client.WriteSingleRegister(static_cast<uint16_t>(Uniform(0, 15)), 7); break;
            case 2: id = client.ReadCoils(0, static_cast<uint16_t>(Uniform(1, 64))); break;
            default: id = client.WriteMultipleCoils(3, TBitValues(9, true)); break;
            }
            EXPECT_TRUE(c && c->Active());
            issued_[generation_[c]].insert(id);
            ++issuedCount_;
        } catch (const EQuelvanError& e) {
            EXPECT_FALSE(c && c->Active()) << e.what();
            EXPECT_STREQ(e.what(), kClosedUnderfoot);
        }
    }

    void Broadcast() {
        TModbusConnection* c = connections_[Uniform(0, 1)];
        if (!c || !c->Active()) return;
        issued_[generation_[c]].insert(c->BroadcastWriteSingleRegister(1, static_cast<uint16_t>(Uniform(0, 99))));
    }

    void Reopen() {
        TModbusConnection* c = connections_[Uniform(0, 1)];
        if (!c) return;
        c->Close();
        EXPECT_EQ(c->GetPendingTransactionCount(), 0);
        TryOpen(*c);
    }

    // The two ends swap roles: the server end opens first, as an application would.
    void SwapRoles() {
        for (TModbusConnection* c : connections_)
            if (c) c->Close();
        for (TModbusConnection* c : connections_)
            if (c) c->SetConnectionMode(c->ConnectionMode() == cmClient ? cmServer : cmClient);
        OpenAll();
    }

    void Rebind() {
        TModbusConnection* target = Uniform(0, 3) == 0 ? nullptr : connections_[Uniform(0, 1)];
        if (Uniform(0, 1) && !clients_.empty())
            clients_[static_cast<size_t>(Uniform(0, static_cast<int>(clients_.size()) - 1))]->SetConnection(target);
        else if (!servers_.empty())
            servers_[static_cast<size_t>(Uniform(0, static_cast<int>(servers_.size()) - 1))]->SetConnection(target);
    }

    void Discard() {
        TModbusConnection* c = connections_[Uniform(0, 1)];
        if (!c) return;
        TModbusClient* client = clients_.empty() || Uniform(0, 1)
                                    ? nullptr
                                    : clients_[static_cast<size_t>(Uniform(0, static_cast<int>(clients_.size()) - 1))];
        c->DiscardPendingTransactions(client);
        if (c->Active() && c->ConnectionMode() == cmClient) {
            EXPECT_EQ(c->GetPendingTransactionCount(client), 0);
        }
    }

    void ReplaceClient() {
        if (clients_.empty()) return;
        const size_t i = static_cast<size_t>(Uniform(0, static_cast<int>(clients_.size()) - 1));
        liveClients_.erase(clients_[i]);
        delete clients_[i];
        clients_.erase(clients_.begin() + static_cast<ptrdiff_t>(i));
        NewClient();
    }

    void ReplaceServer() {
        if (servers_.empty()) return;
        const size_t i = static_cast<size_t>(Uniform(0, static_cast<int>(servers_.size()) - 1));
        delete servers_[i];
        servers_.erase(servers_.begin() + static_cast<ptrdiff_t>(i));
        NewServer();
    }

    // The connection goes with whatever it has queued; its clients and servers stay, unbound.
    void ReplaceConnection() {
        const int side = Uniform(0, 1);
        TModbusConnection* old = connections_[side];
        if (!old) return;
        const TConnectionMode mode = old->ConnectionMode();
        generation_.erase(old);
        delete old;
        for (TModbusClient* c : clients_) EXPECT_NE(c->Connection(), old);
        TModbusConnection* fresh = NewConnection(side, mode);
        TryOpen(*fresh);
    }

    void ReplaceForm() {
        Teardown();
        Build();
        OpenAll();
    }

    void ChangeSettings() {
        TModbusConnection* c = connections_[Uniform(0, 1)];
        if (!c) return;
        c->SetReceiveTimeout(static_cast<uint32_t>(Uniform(20, 100)));
        c->SetMaxRetries(static_cast<uint32_t>(Uniform(1, 3)));
        c->SetSilentInterval(static_cast<uint32_t>(Uniform(1, 8)));
        c->SetThreadPriority(static_cast<TThreadPriority>(Uniform(tpLower, tpHigher)));
    }

    // One random step: mostly traffic, and now and then something that pulls the rug.
    void Step() {
        const int dice = Uniform(0, 99);
        if (dice < 35) {
            for (int n = Uniform(1, 4); n > 0; --n) Issue();
        } else if (dice < 40) {
            Broadcast();
        } else if (dice < 65) {
            PumpFor(Uniform(20, 120));
        } else if (dice < 70) {
            Reopen();
        } else if (dice < 73) {
            SwapRoles();
        } else if (dice < 80) {
            Rebind();
        } else if (dice < 85) {
            Discard();
        } else if (dice < 89) {
            ReplaceClient();
        } else if (dice < 92) {
            ReplaceServer();
        } else if (dice < 94) {
            ReplaceConnection();
        } else if (dice < 95) {
            ReplaceForm();
        } else {
            ChangeSettings();
        }
    }

    std::vector<TModbusConnection*> ServerFirst() const {
        std::vector<TModbusConnection*> order;
        for (TConnectionMode mode : {cmServer, cmClient})
            for (TModbusConnection* c : connections_)
                if (c && c->ConnectionMode() == mode) order.push_back(c);
        return order;
    }

    void TryOpen(TModbusConnection& C) {
        C.Open();
        EXPECT_TRUE(C.Active());
    }

    uint64_t Events() const { return events_; }
    uint64_t Issued() const { return issuedCount_; }
    const std::vector<std::string>& Shown() const { return shown_; }
    TModbusConnection* Connection(int Side) const { return connections_[Side]; }
    const std::vector<TModbusClient*>& Clients() const { return clients_; }

private:
    TTransmissionMode mode_;
    std::mt19937_64 rng_;
    platform::TVirtualNullModem modem_;
    std::vector<std::unique_ptr<TModbusItemMap>> maps_;
    std::unique_ptr<platform::TComponent> form_;
    TModbusConnection* connections_[2] = {nullptr, nullptr};
    std::vector<TModbusClient*> clients_;
    std::vector<TModbusServer*> servers_;
    std::map<const TModbusClient*, uint64_t> liveClients_;
    std::map<const TModbusConnection*, uint64_t> generation_;
    std::map<uint64_t, std::set<uint32_t>> issued_;
    std::set<std::pair<uint64_t, uint32_t>> delivered_;
    std::vector<std::string> shown_;
    uint64_t lastGeneration_ = 0, lastSerial_ = 0, events_ = 0, issuedCount_ = 0;
};

class LifecycleTest : public ::testing::TestWithParam<TTransmissionMode> {};

// Hundreds of random steps of traffic and lifecycle operations, seeded per mode.
TEST_P(LifecycleTest, RandomOperationsUnderLoad) {
    const uint64_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::printf("lifecycle: seed %llu\n", static_cast<unsigned long long>(seed));
    LifecycleRig rig(GetParam(), seed);
    rig.OpenAll();
    for (int step = 0; step < 300 && !HasFatalFailure(); ++step) rig.Step();
    // Whatever is still on its way arrives (or was freed) once both ends are closed.
    for (int side = 0; side < 2; ++side)
        if (TModbusConnection* c = rig.Connection(side)) c->Close();
    PumpFor(100);
    for (int side = 0; side < 2; ++side) {
        if (TModbusConnection* c = rig.Connection(side)) {
            EXPECT_EQ(c->GetPendingTransactionCount(), 0);
        }
    }
    rig.Teardown();
    PumpFor(100);  // nothing may arrive for what is gone
    for (const std::string& text : rig.Shown()) EXPECT_EQ(text, kClosedUnderfoot);
    std::printf("lifecycle: %llu transactions issued, %llu events, %zu shown errors\n",
                static_cast<unsigned long long>(rig.Issued()), static_cast<unsigned long long>(rig.Events()),
                rig.Shown().size());
    EXPECT_GT(rig.Events(), 0u);
}

// Destroying an open connection with a full queue: the queued transactions are freed without
// an event, the one in progress too (its window is gone), and nothing is shown.
TEST_P(LifecycleTest, DestroyingAConnectionWithAFullQueueIsSilent) {
    LifecycleRig rig(GetParam(), 7);
    rig.OpenAll();
    TModbusConnection* client = rig.Connection(0);
    for (TModbusClient* c : rig.Clients()) c->SetConnection(client);
    for (int i = 0; i < 40; ++i) rig.Issue();
    PumpFor(20);  // some traffic
    const uint64_t before = rig.Events();
    rig.ReplaceConnection();  // may pick either end; do both
    rig.ReplaceConnection();
    PumpFor(200);
    EXPECT_EQ(rig.Events(), before);
    EXPECT_TRUE(rig.Shown().empty());
}

// The owner goes while both ends are busy: everything closes and nothing arrives afterwards.
TEST_P(LifecycleTest, DestroyingTheOwnerMidTraffic) {
    LifecycleRig rig(GetParam(), 11);
    rig.OpenAll();
    for (TModbusClient* c : rig.Clients()) c->SetConnection(rig.Connection(0));
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 20; ++i) rig.Issue();
        PumpFor(15);
        const uint64_t before = rig.Events();
        rig.ReplaceForm();
        PumpFor(50);
        EXPECT_EQ(rig.Events(), before) << "an event after the owner was destroyed";
    }
    EXPECT_TRUE(rig.Shown().empty());
}

// A form whose clients and servers were created before its connections, or after: the owner
// frees them last first, so a connection may go before the components bound to it, or after
// them. Neither side may keep a pointer to the other (the sanitizer build checks the frees).
TEST_P(LifecycleTest, AnOwnerUnbindsItsComponentsWhateverTheirOrder) {
    platform::TVirtualNullModem modem;
    for (bool connectionsFirst : {true, false}) {
        auto form = std::make_unique<platform::TComponent>(nullptr);
        TModbusConnection* connections[2] = {};
        TModbusClient* client = nullptr;
        TModbusServer* server = nullptr;
        TModbusItemMap items;
        items.Define(ikHoldingRegister, 0, 8);
        auto makeConnections = [&] {
            for (int side = 0; side < 2; ++side) {
                connections[side] = new TModbusConnection(form.get());
                connections[side]->SetTransmissionMode(GetParam());
                connections[side]->SetPort(modem.Port(side == 0 ? TNullModemSide::A : TNullModemSide::B));
            }
            connections[1]->SetConnectionMode(cmServer);
        };
        auto makeRoles = [&] {
            client = new TModbusClient(form.get());
            server = new TModbusServer(form.get());
            items.Attach(*server);
        };
        if (connectionsFirst) makeConnections();
        makeRoles();
        if (!connectionsFirst) makeConnections();
        client->SetConnection(connections[0]);
        server->SetConnection(connections[1]);
        connections[1]->Open();
        connections[0]->Open();
        int events = 0;
        client->OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo&, uint16_t, uint16_t,
                                             const TRegValues&) { ++events; };
        for (int i = 0; i < 5; ++i) client->ReadHoldingRegisters(0, 2);
        PumpUntil([&] { return events > 0; }, 5000);

        form->Destroying();  // what the owner's destruction begins with
        EXPECT_EQ(client->Connection(), nullptr);
        EXPECT_EQ(server->Connection(), nullptr);
        EXPECT_EQ(connections[0]->FindClient(1), nullptr);
        EXPECT_TRUE(connections[1]->Servers().empty());
        form.reset();
        PumpFor(50);
    }
}

// Closing must not wait out an end-of-frame gap, however long the configured one is: not the
// quiet period a starting thread waits for, nor the gap that ends a request a server is
// receiving. (A client's transaction in progress is different: closing lets it finish.)
TEST_P(LifecycleTest, ClosingDoesNotWaitOutAVeryLongSilentInterval) {
    for (TConnectionMode role : {cmClient, cmServer}) {
        TModbusConnection connection;
        auto line = test::UseFakeLine(connection);
        connection.SetTransmissionMode(GetParam());
        connection.SetConnectionMode(role);
        connection.SetSilentInterval(500000000);  // days, in either mode
        connection.Open();
        // The thread waits for a quiet line first (RTU), or for the start of a request (ASCII
        // server); an ASCII client waits for transactions only.
        // The fake line counts calls without telling the main thread: look every few ms.
        auto waitsFor = [&](uint32_t Calls) {
            for (int i = 0; i < 1500; ++i)
                if (PumpUntil([&] { return line->Calls(platform::TFakeOp::WaitForData) >= Calls; }, 10)) return true;
            return false;
        };
        if (GetParam() == tmRTU || role == cmServer) {
            ASSERT_TRUE(waitsFor(1));
        }
        if (role == cmServer) {
            // RTU: the bytes end the quiet period, which starts again; ASCII: a request has
            // begun and its next character is awaited.
            line->QueueReceive(GetParam() == tmRTU ? test::Bytes{1, 3} : test::Bytes{':', '0'});
            ASSERT_TRUE(waitsFor(2));
        }
        connection.Close();  // would hang for days
        EXPECT_FALSE(connection.Active());
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LifecycleTest, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "RTU" : "ASCII"; });

}  // namespace
}  // namespace quelvan
