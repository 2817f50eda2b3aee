#include "interop/our_side.h"

#include <gtest/gtest.h>

#include "quelvan/modbus_client.h"

namespace quelvan::interop {

const test::TClientEvent& AwaitEvent(const test::TClientEventLog& Log, uint32_t ID, const TPump& Pump) {
    EXPECT_TRUE(Pump([&] { return Log.Find(ID) != nullptr; }, 30000)) << "no event for transaction " << ID;
    static const test::TClientEvent none;
    const test::TClientEvent* e = Log.Find(ID);
    return e ? *e : none;
}

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

}  // namespace quelvan::interop
