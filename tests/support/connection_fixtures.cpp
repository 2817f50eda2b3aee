#include "support/connection_fixtures.h"

#include "support/pump.h"

namespace quelvan::test {

std::shared_ptr<platform::TFakeSerialLine> UseFakeLine(TModbusConnection& Connection) {
    auto line = std::make_shared<platform::TFakeSerialLine>();
    Connection.SetSerialDeviceFactory([line] { return std::make_unique<platform::TFakeSerialDevice>(line); });
    Connection.SetPort("/dev/fake");
    return line;
}

TFakeClient::TFakeClient(TTransmissionMode M) : Line(UseFakeLine(Connection)), Mode(M) {
    Connection.SetTransmissionMode(M);
    Connection.SetReceiveTimeout(300);
    Client.SetConnection(&Connection);
}

TModbusPair::TModbusPair(TTransmissionMode M) : Mode(M) {
    for (TModbusConnection* c : {&ClientConnection, &ServerConnection}) {
        c->SetTransmissionMode(M);
        c->SetBaudRate(br115200);
    }
    ClientConnection.SetPort(Modem.PortA());
    ServerConnection.SetPort(Modem.PortB());
    ServerConnection.SetConnectionMode(cmServer);
    Client.SetConnection(&ClientConnection);
    Server.SetConnection(&ServerConnection);
    Items.Attach(Server);
}

// Returns once the server answers: a server thread that is still preparing the line purges
// whatever arrives, which would lose a first request that expects no reply (a broadcast).
void TModbusPair::Open() {
    ServerConnection.Open();
    ClientConnection.Open();
    TModbusServer probe;
    probe.SetAddress(247);
    probe.SetConnection(&ServerConnection);
    TModbusClient ping;
    ping.SetServerAddress(247);
    ping.SetConnection(&ClientConnection);
    bool answered = false;
    const uint32_t savedTimeout = ClientConnection.ReceiveTimeout();
    ClientConnection.SetReceiveTimeout(200);
    for (int i = 0; i < 50 && !answered; ++i) {
        bool done = false;
        ping.OnCoilsRead = [&](TModbusClient&, const TTransactionInfo& Info, uint16_t, uint16_t, const TBitValues&) {
            answered = Info.Reply == rkExceptionReply;  // a server without handlers refuses
            done = true;
        };
        ping.ReadCoils(0, 1);
        PumpUntil([&] { return done; }, 5000);
    }
    ClientConnection.SetReceiveTimeout(savedTimeout);
}

}  // namespace quelvan::test
