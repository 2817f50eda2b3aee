// Qt's QModbusRtuSerialClient against our server, over the virtual null-modem. Both run in
// Qt's event loop on the main thread.

#include <gtest/gtest.h>

#include <QModbusRtuSerialClient>
#include <vector>

#include "interop/qt_peer.h"
#include "support/frames.h"

namespace quelvan::interop {
namespace {

using platform::TNullModemSide;

QList<quint16> BitPattern(int Count, int Seed) {
    QList<quint16> bits;
    for (int i = 0; i < Count; ++i) bits.append((i * 7 + Seed) % 5 < 2 ? 1 : 0);
    return bits;
}

// Qt's client on side A, our server (address 1, TItemLayout) on side B.
struct TQtClientAndOurServer {
    explicit TQtClientAndOurServer(const TLineCase& Line)
        : Modem(Line), Our(Modem.PortB(), Modem.PortA(), Line, QtPump), Items(Our.Items) {
        ConfigureQtDevice(Peer, Modem.PortA(), Line);
        Peer.setTimeout(5000);
        Peer.setNumberOfRetries(0);
        Ready = Our.Ready && Peer.connectDevice();
    }
    ~TQtClientAndOurServer() { Peer.disconnectDevice(); }
    // Command byte of each frame our server received.
    std::vector<uint8_t> Commands() const {
        std::vector<uint8_t> commands;
        for (const TFrameData& f : Our.Received) commands.push_back(f.size() >= 2 ? f[1] : 0);
        return commands;
    }
    TQtOutcome Read(QModbusDataUnit::RegisterType Type, int Start, int Count, int Address = 1) {
        return AwaitQtReply(Peer.sendReadRequest(QModbusDataUnit(Type, Start, static_cast<quint16>(Count)), Address));
    }
    TQtOutcome Write(QModbusDataUnit::RegisterType Type, int Start, const QList<quint16>& Values, int Address = 1) {
        return AwaitQtReply(Peer.sendWriteRequest(Unit(Type, Start, Values), Address));
    }
    TQtOutcome Raw(const QModbusRequest& Request) { return AwaitQtReply(Peer.sendRawRequest(Request, 1)); }
    QList<quint16> Coils(uint16_t Start, int Count) const {
        QList<quint16> bits;
        for (int i = 0; i < Count; ++i) bits.append(Items.Value(ikCoil, static_cast<uint16_t>(Start + i)) ? 1 : 0);
        return bits;
    }

    TPacedModem Modem;
    TOurServerSide Our;
    TModbusItemMap& Items;
    QModbusRtuSerialClient Peer;
    bool Ready = false;
};

// Qt reports a bit read as whole bytes of values: the requested bits, then the padding bits of
// the last byte, which must be 0.
QList<quint16> RequestedBits(const TQtOutcome& O, int Count) {
    EXPECT_EQ(O.Unit.valueCount(), static_cast<qsizetype>((Count + 7) / 8 * 8));
    EXPECT_EQ(O.Unit.values().mid(Count), QList<quint16>(O.Unit.valueCount() - Count, 0));
    return O.Unit.values().mid(0, Count);
}

class QtClient : public ::testing::Test, public TQtClientAndOurServer {
protected:
    QtClient() : TQtClientAndOurServer(DefaultLine) {}
    void SetUp() override { ASSERT_TRUE(Ready) << Peer.errorString().toStdString(); }
};

TEST_F(QtClient, EveryCommandBothSidesSupportRoundTrips) {
    for (uint16_t i = 0; i < 10; ++i) Items.SetValue(ikInputRegister, 500 + i, 1000 + i);
    Items.SetValue(ikDiscreteInput, 1001, 1);
    Items.SetValue(ikDiscreteInput, 1008, 1);
    const QList<quint16> bits = BitPattern(20, 1);
    const QList<quint16> regs{1, 2, 3, 0xFFFF, 0x8000};

    // Qt picks the single-item commands for one value.
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 7, {1}).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 3, {0xBEEF}).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 30, bits).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 10, regs).Error, QModbusDevice::NoError);
    EXPECT_EQ(Items.Value(ikCoil, 7), 1);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 3), 0xBEEF);
    EXPECT_EQ(Coils(30, 20), bits);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 14), 0x8000);

    const TQtOutcome coils = Read(QModbusDataUnit::Coils, 30, 20);
    EXPECT_EQ(coils.Error, QModbusDevice::NoError);
    EXPECT_EQ(RequestedBits(coils, 20), bits);
    const TQtOutcome inputs = Read(QModbusDataUnit::DiscreteInputs, 1000, 10);
    EXPECT_EQ(RequestedBits(inputs, 10), (QList<quint16>{0, 1, 0, 0, 0, 0, 0, 0, 1, 0}));
    const TQtOutcome held = Read(QModbusDataUnit::HoldingRegisters, 0, 16);
    ASSERT_EQ(held.Unit.valueCount(), 16u);
    EXPECT_EQ(held.Unit.value(3), 0xBEEF);
    EXPECT_EQ(held.Unit.values().mid(10, 5), regs);
    const TQtOutcome input = Read(QModbusDataUnit::InputRegisters, 500, 10);
    EXPECT_EQ(input.Unit.values(), (QList<quint16>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009}));

    EXPECT_TRUE(QtPumpUntil([&] { return Our.Received.size() == 8; }));
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x05, 0x06, 0x0F, 0x10, 0x01, 0x02, 0x03, 0x04}));
}

TEST_F(QtClient, LargestCountsOfBothSidesPass) {
    const QList<quint16> inputs = BitPattern(2000, 3);
    for (uint16_t i = 0; i < 2000; ++i) Items.SetValue(ikDiscreteInput, 1000 + i, inputs[i]);
    const QList<quint16> coils = BitPattern(1968, 2);
    QList<quint16> regs;
    for (int i = 0; i < 123; ++i) regs.append(static_cast<quint16>(0x0101 * i + 7));

    EXPECT_EQ(Write(QModbusDataUnit::Coils, 100, coils).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 70, regs).Error, QModbusDevice::NoError);
    EXPECT_EQ(Coils(100, 1968), coils);
    const TQtOutcome bits = Read(QModbusDataUnit::Coils, 100, 2000);
    EXPECT_EQ(bits.Error, QModbusDevice::NoError);
    EXPECT_EQ(RequestedBits(bits, 2000).mid(0, 1968), coils);
    EXPECT_EQ(RequestedBits(Read(QModbusDataUnit::DiscreteInputs, 1000, 2000), 2000), inputs);
    const TQtOutcome held = Read(QModbusDataUnit::HoldingRegisters, 70, 125);
    EXPECT_EQ(held.Error, QModbusDevice::NoError);
    EXPECT_EQ(held.Unit.values().mid(0, 123), regs);

    // Our server's own limits, 2008 bits read and 1976 written: Qt sends and decodes them.
    const QList<quint16> most = BitPattern(1976, 6);
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 0, most).Error, QModbusDevice::NoError);
    EXPECT_EQ(Coils(0, 1976), most);
    const TQtOutcome beyond = Read(QModbusDataUnit::Coils, 0, 2008);
    EXPECT_EQ(beyond.Error, QModbusDevice::NoError) << beyond.Text.toStdString();
    EXPECT_EQ(RequestedBits(beyond, 2008).mid(0, 1976), most);
}

TEST_F(QtClient, ExceptionRepliesFromOurServer) {
    struct Case {
        const char* What;
        QModbusRequest Request;
        QModbusPdu::ExceptionCode Code;
    } cases[] = {
        {"registers past the map", QModbusRequest(QModbusRequest::ReadHoldingRegisters, quint16(190), quint16(20)),
         QModbusPdu::IllegalDataAddress},
        {"coil outside the map", QModbusRequest(QModbusRequest::WriteSingleCoil, quint16(5000), quint16(0xFF00)),
         QModbusPdu::IllegalDataAddress},
        {"read across 65535", QModbusRequest(QModbusRequest::ReadCoils, quint16(0xFFFF), quint16(2)),
         QModbusPdu::IllegalDataAddress},
        {"coil value 0x1234", QModbusRequest(QModbusRequest::WriteSingleCoil, quint16(1), quint16(0x1234)),
         QModbusPdu::IllegalDataValue},
        {"read of 0 registers", QModbusRequest(QModbusRequest::ReadHoldingRegisters, quint16(0), quint16(0)),
         QModbusPdu::IllegalDataValue},
        {"mask write", QModbusRequest(QModbusRequest::MaskWriteRegister, quint16(1), quint16(0xFF00), quint16(0x12)),
         QModbusPdu::IllegalFunction},
        {"read file record",
         QModbusRequest(QModbusRequest::ReadFileRecord, quint8(7), quint8(6), quint16(1), quint16(0), quint16(2)),
         QModbusPdu::IllegalFunction},
        {"report server id", QModbusRequest(QModbusRequest::ReportServerId), QModbusPdu::IllegalFunction},
        {"read exception status", QModbusRequest(QModbusRequest::ReadExceptionStatus), QModbusPdu::IllegalFunction},
    };
    for (const Case& k : cases) {
        const TQtOutcome o = Raw(k.Request);
        EXPECT_EQ(o.Error, QModbusDevice::ProtocolError) << k.What << ": " << o.Text.toStdString();
        EXPECT_EQ(o.Exception, k.Code) << k.What;
    }
    const TQtOutcome readWrite = AwaitQtReply(Peer.sendReadWriteRequest(
        QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, 2), Unit(QModbusDataUnit::HoldingRegisters, 0, {5}), 1));
    EXPECT_EQ(readWrite.Exception, QModbusPdu::IllegalFunction);
    EXPECT_EQ(Items.Value(ikCoil, 1), 0);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 0), 0);
}

// Our server answers Diagnostics with exception 01 (01 88 01), but Qt's client never delivers
// an exception reply to Diagnostics: it treats a reply whose sub-function reads as Return Query
// Data (0) as an echo of the request, reads 0 from the single byte of an exception reply,
// waits for the rest of the "echo" and times out.
TEST_F(QtClient, ExceptionRepliesToDiagnosticsTimeOutInQt) {
    Peer.setTimeout(500);
    for (quint16 subFunction : {quint16(0x0000), quint16(0x000B)}) {
        const TQtOutcome o = Raw(QModbusRequest(QModbusRequest::Diagnostics, subFunction, quint16(0)));
        EXPECT_EQ(o.Error, QModbusDevice::TimeoutError) << subFunction << ": " << o.Text.toStdString();
    }
    ASSERT_TRUE(QtPumpUntil([&] { return Our.Sent.size() == 2; }));
    EXPECT_EQ(test::FromLine(tmRTU, Our.Sent[0]), (test::Bytes{1, 0x88, 1}));
    EXPECT_EQ(test::FromLine(tmRTU, Our.Sent[1]), (test::Bytes{1, 0x88, 1}));
    Peer.setTimeout(5000);
    EXPECT_EQ(Read(QModbusDataUnit::HoldingRegisters, 0, 1).Error, QModbusDevice::NoError);
}

// Qt's client finishes a broadcast as soon as it is written; our server applies it and never
// answers. Qt waits its turnaround delay after a broadcast only for a request that was already
// queued: one sent later follows after the inter-frame delay, 2 ms at this rate. Our receiver
// ends a frame after at least 20 ms of silence, so it would take such a burst for one frame
// with a bad CRC; a wide inter-frame delay keeps the broadcasts apart.
TEST_F(QtClient, BroadcastWritesAreAppliedAndNeverAnswered) {
    Peer.setInterFrameDelay(100000);
    const QList<quint16> bits = BitPattern(12, 4);
    const uint64_t sentBefore = Modem.Counters(TNullModemSide::B).Received;
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 3, {1}, 0).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 5, {0x5555}, 0).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 40, bits, 0).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 60, {7, 8, 9}, 0).Error, QModbusDevice::NoError);
    ASSERT_TRUE(QtPumpUntil([&] { return Items.Value(ikHoldingRegister, 62) == 9; })) << test::Hex(Commands());
    EXPECT_EQ(Read(QModbusDataUnit::HoldingRegisters, 60, 3).Unit.values(), (QList<quint16>{7, 8, 9}));
    EXPECT_EQ(Items.Value(ikCoil, 3), 1);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 5), 0x5555);
    EXPECT_EQ(Coils(40, 12), bits);
    EXPECT_EQ(Modem.Counters(TNullModemSide::B).Received - sentBefore, 3u + 2 * 3 + 2);  // the read's reply
    EXPECT_TRUE(QtPumpUntil([&] { return Our.Sent.size() == 1; }));
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x05, 0x06, 0x0F, 0x10, 0x03}));
}

class QtClientLine : public ::testing::TestWithParam<TLineCase>, public TQtClientAndOurServer {
protected:
    QtClientLine() : TQtClientAndOurServer(GetParam()) {}
    void SetUp() override { ASSERT_TRUE(Ready) << Peer.errorString().toStdString(); }
};

TEST_P(QtClientLine, ReadsAndWritesUnderTheLineSettings) {
    const QList<quint16> bits = BitPattern(37, 5);
    const QList<quint16> regs{0x0102, 0xFEDC, 0x8001};
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 0, regs).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::Coils, 10, bits).Error, QModbusDevice::NoError);
    EXPECT_EQ(Write(QModbusDataUnit::HoldingRegisters, 50, {0xA5A5}).Error, QModbusDevice::NoError);
    EXPECT_EQ(Read(QModbusDataUnit::HoldingRegisters, 0, 3).Unit.values(), regs);
    EXPECT_EQ(RequestedBits(Read(QModbusDataUnit::Coils, 10, 37), 37), bits);
    EXPECT_EQ(Read(QModbusDataUnit::HoldingRegisters, 190, 20).Exception, QModbusPdu::IllegalDataAddress);
    EXPECT_EQ(Items.Value(ikHoldingRegister, 50), 0xA5A5);
}

INSTANTIATE_TEST_SUITE_P(Lines, QtClientLine, ::testing::ValuesIn(LineCases, LineCases + LineCaseCount), LineName);

}  // namespace
}  // namespace quelvan::interop
