#include "interop/our_side.h"

#include <gtest/gtest.h>

#include <utility>

#include "interop/item_layout.h"

namespace quelvan::interop {

namespace {

// Opens Server and returns once the server at Address answers a request sent from ClientPort,
// normally or with an exception; false when it never did.
bool OpenServerAndAwaitIt(TModbusConnection& Server, uint8_t Address, const std::string& ClientPort,
                          const TLineCase& Line, const TPump& Pump) {
    Server.Open();
    TModbusConnection probeLine;
    ApplyLine(probeLine, Line);
    probeLine.SetPort(ClientPort);
    // Long enough that a server which is listening has answered before the next attempt, so
    // no late reply is left on the line for the peer.
    probeLine.SetReceiveTimeout(1000);
    TModbusClient probe;
    probe.SetServerAddress(Address);
    probe.SetConnection(&probeLine);
    probeLine.Open();
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        bool done = false;
        probe.OnCoilsRead = [&](TModbusClient&, const TTransactionInfo& Info, uint16_t, uint16_t,
                                const TBitValues&) {
            answered = Info.Reply == rkNormalReply || Info.Reply == rkExceptionReply;
            done = true;
        };
        probe.ReadCoils(0, 1);
        if (!Pump([&] { return done; }, 15000)) break;
    }
    probeLine.Close();
    return answered;
}

}  // namespace

TOurClientSide::TOurClientSide(const std::string& Port, const TLineCase& Line, TPump P) : Pump(std::move(P)) {
    ApplyLine(Connection, Line);
    Connection.SetPort(Port);
    Connection.SetReceiveTimeout(5000);
    Client.SetConnection(&Connection);
    Connection.Open();
}

const test::TClientEvent& TOurClientSide::Await(uint32_t ID) {
    EXPECT_TRUE(Pump([&] { return Log.Find(ID) != nullptr; }, 30000)) << "no event for transaction " << ID;
    static const test::TClientEvent none;
    const test::TClientEvent* e = Log.Find(ID);
    return e ? *e : none;
}

TOurServerSide::TOurServerSide(const std::string& ServerPort, const std::string& ClientPort,
                               const TLineCase& Line, const TPump& Pump) {
    using L = TItemLayout;
    ApplyLine(Connection, Line);
    Connection.SetConnectionMode(cmServer);
    Connection.SetPort(ServerPort);
    Server.SetConnection(&Connection);
    Items.Define(ikCoil, L::CoilStart, L::CoilCount);
    Items.Define(ikDiscreteInput, L::InputStart, L::InputCount);
    Items.Define(ikHoldingRegister, L::HoldingStart, L::HoldingCount);
    Items.Define(ikInputRegister, L::InputRegStart, L::InputRegCount);
    Items.Attach(Server);
    Ready = OpenServerAndAwaitIt(Connection, 1, ClientPort, Line, Pump);
    Connection.OnFrameReceive = [this](TModbusConnection&, const TFrameData& D) {
        if (!D.empty()) Received.push_back(D);
    };
    Connection.OnFrameSend = [this](TModbusConnection&, const TFrameData& D) {
        if (!D.empty()) Sent.push_back(D);
    };
}

}  // namespace quelvan::interop
