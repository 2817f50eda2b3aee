#include "interop/qt_peer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <QVariant>

namespace quelvan::interop {

bool QtPumpUntil(const std::function<bool()>& Condition, int TimeoutMs) {
    bool expired = false;
    QTimer deadline;  // ends the wait below when nothing else happens
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&] { expired = true; });
    deadline.start(TimeoutMs);
    while (!Condition()) {
        if (expired) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

const TPump QtPump = [](const std::function<bool()>& Condition, int TimeoutMs) {
    return QtPumpUntil(Condition, TimeoutMs);
};

void ConfigureQtDevice(QModbusDevice& Device, const std::string& Port, const TLineCase& Line) {
    const int parity = Line.Parity == 'E'   ? QSerialPort::EvenParity
                       : Line.Parity == 'O' ? QSerialPort::OddParity
                                            : QSerialPort::NoParity;
    Device.setConnectionParameter(QModbusDevice::SerialPortNameParameter, QVariant(QString::fromStdString(Port)));
    Device.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QVariant(static_cast<int>(Line.Baud)));
    Device.setConnectionParameter(QModbusDevice::SerialParityParameter, QVariant(parity));
    Device.setConnectionParameter(QModbusDevice::SerialDataBitsParameter,
                                  QVariant(Line.DataBits == 7 ? int{QSerialPort::Data7} : int{QSerialPort::Data8}));
    Device.setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                  QVariant(Line.StopBits == 2 ? int{QSerialPort::TwoStop} : int{QSerialPort::OneStop}));
}

TQtOutcome AwaitQtReply(QModbusReply* Reply) {
    TQtOutcome out;
    if (!Reply) {
        ADD_FAILURE() << "Qt refused to send the request";
        return out;
    }
    EXPECT_TRUE(QtPumpUntil([&] { return Reply->isFinished(); }, 30000)) << "the Qt reply never finished";
    out.Error = Reply->error();
    out.Raw = Reply->rawResult();
    if (out.Raw.isException()) out.Exception = out.Raw.exceptionCode();
    out.Unit = Reply->result();
    out.Text = Reply->errorString();
    delete Reply;
    return out;
}

QModbusDataUnit Unit(QModbusDataUnit::RegisterType Type, int Start, const QList<quint16>& Values) {
    return QModbusDataUnit(Type, Start, Values);
}

}  // namespace quelvan::interop
