#pragma once
// Qt SerialBus as an independent RTU peer. Its objects live on the main thread and run in Qt's
// event loop, which also delivers Quelvan's messages (qt_main.cpp installs TQtWakeAdapter), so
// every wait in these suites runs Qt's loop.

#include <QModbusClient>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QModbusPdu>
#include <QModbusReply>
#include <QModbusRtuSerialServer>
#include <QString>
#include <functional>
#include <string>

#include "interop/line_case.h"
#include "interop/our_side.h"
#include "interop/peer_server.h"

namespace quelvan::interop {

// Runs Qt's event loop until Condition holds or TimeoutMs pass; returns whether it held.
bool QtPumpUntil(const std::function<bool()>& Condition, int TimeoutMs = 15000);
extern const TPump QtPump;

// Sets a Qt serial Modbus device's port and line parameters (before connectDevice).
void ConfigureQtDevice(QModbusDevice& Device, const std::string& Port, const TLineCase& Line);

// What a finished QModbusReply carried.
struct TQtOutcome {
    QModbusDevice::Error Error = QModbusDevice::UnknownError;
    QModbusPdu::ExceptionCode Exception = QModbusPdu::ExtendedException;  // of an exception reply
    QModbusDataUnit Unit;   // decoded values of a read
    QModbusResponse Raw;    // the response PDU as received
    QString Text;           // Qt's error text
};

// Waits for Reply to finish, then deletes it. A null Reply (Qt refused to send) is a failure.
TQtOutcome AwaitQtReply(QModbusReply* Reply);

// Qt's server at address 1 with the common item layout, connected to Port.
class TQtServer final : public IPeerServer {
public:
    TQtServer(const std::string& Port, const TLineCase& Line);
    ~TQtServer();
    bool Connected() const { return connected_; }
    QModbusRtuSerialServer& Server() { return server_; }

    void SetDiscreteInput(uint16_t Address, bool Value) override;
    void SetInputRegister(uint16_t Address, uint16_t Value) override;
    void SetHoldingRegister(uint16_t Address, uint16_t Value) override;
    bool Coil(uint16_t Address) override;
    uint16_t HoldingRegister(uint16_t Address) override;

private:
    quint16 Value(QModbusDataUnit::RegisterType Type, uint16_t Address);
    void Set(QModbusDataUnit::RegisterType Type, uint16_t Address, quint16 Value);

    QModbusRtuSerialServer server_;
    bool connected_ = false;
};

// Values as QModbusDataUnit carries them: one word per item.
QModbusDataUnit Unit(QModbusDataUnit::RegisterType Type, int Start, const QList<quint16>& Values);

}  // namespace quelvan::interop
