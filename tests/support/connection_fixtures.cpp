#include "support/connection_fixtures.h"

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

void TModbusPair::Open() {
    ServerConnection.Open();
    ClientConnection.Open();
}

}  // namespace quelvan::test
