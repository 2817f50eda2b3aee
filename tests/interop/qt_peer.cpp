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

TQtServer::TQtServer(const std::string& Port, const TLineCase& Line) {
    using L = TItemLayout;
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::Coils, {QModbusDataUnit::Coils, L::CoilStart, L::CoilCount});
    map.insert(QModbusDataUnit::DiscreteInputs, {QModbusDataUnit::DiscreteInputs, L::InputStart, L::InputCount});
    map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, L::HoldingStart, L::HoldingCount});
    map.insert(QModbusDataUnit::InputRegisters, {QModbusDataUnit::InputRegisters, L::InputRegStart, L::InputRegCount});
    server_.setMap(map);
    server_.setServerAddress(1);
    ConfigureQtDevice(server_, Port, Line);
    // Qt's server drops what it has gathered when its event loop sees more than the inter-frame
    // delay (2 ms at 19200 baud and above) between two reads. On a paced line a busy machine can
    // stall the loop that long inside a frame; a wider delay keeps the tests about the protocol,
    // not about scheduling.
    if (Line.Paced) server_.setInterFrameDelay(50000);
    connected_ = server_.connectDevice();
}

TQtServer::~TQtServer() { server_.disconnectDevice(); }

quint16 TQtServer::Value(QModbusDataUnit::RegisterType Type, uint16_t Address) {
    quint16 v = 0;
    EXPECT_TRUE(server_.data(Type, Address, &v)) << "no item " << Address;
    return v;
}

void TQtServer::Set(QModbusDataUnit::RegisterType Type, uint16_t Address, quint16 Value) {
    EXPECT_TRUE(server_.setData(Type, Address, Value)) << "no item " << Address;
}

void TQtServer::SetDiscreteInput(uint16_t Address, bool V) { Set(QModbusDataUnit::DiscreteInputs, Address, V); }
void TQtServer::SetInputRegister(uint16_t Address, uint16_t V) { Set(QModbusDataUnit::InputRegisters, Address, V); }
void TQtServer::SetHoldingRegister(uint16_t Address, uint16_t V) { Set(QModbusDataUnit::HoldingRegisters, Address, V); }
// Any non-zero value is on: Qt may keep the value word of a single-coil write (0xFF00).
bool TQtServer::Coil(uint16_t Address) { return Value(QModbusDataUnit::Coils, Address) != 0; }
uint16_t TQtServer::HoldingRegister(uint16_t Address) { return Value(QModbusDataUnit::HoldingRegisters, Address); }

QModbusDataUnit Unit(QModbusDataUnit::RegisterType Type, int Start, const QList<quint16>& Values) {
    return QModbusDataUnit(Type, Start, Values);
}

}  // namespace quelvan::interop
