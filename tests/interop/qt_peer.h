#pragma once
// Qt SerialBus as an independent RTU peer. Its objects live on the main thread and run in Qt's
// event loop, which also delivers Quelvan's messages (qt_main.cpp installs TQtWakeAdapter), so
// every wait in these suites runs Qt's loop.

#include <QModbusClient>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QModbusPdu>
#include <QModbusReply>
#include <QString>
#include <functional>
#include <string>

#include "interop/line_case.h"
#include "interop/our_side.h"

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

// Values as QModbusDataUnit carries them: one word per item.
QModbusDataUnit Unit(QModbusDataUnit::RegisterType Type, int Start, const QList<quint16>& Values);

}  // namespace quelvan::interop
