// Our client against libmodbus's RTU server (modbus_receive / modbus_reply on a mapping), over
// the virtual null-modem.

#include <gtest/gtest.h>

#include "interop/libmodbus_peer.h"
#include "interop/server_checks.h"
#include "support/pump.h"

namespace quelvan::interop {
namespace {

const TPump Pump = [](const std::function<bool()>& Condition, int TimeoutMs) {
    return test::PumpUntil(Condition, TimeoutMs);
};

// Our client on side A, libmodbus's server (address 1) on side B.
struct TOurClientAndLibmodbusServer {
    explicit TOurClientAndLibmodbusServer(const TLineCase& Line)
        : Modem(Line), Peer(Modem.PortB(), Line), Our(Modem.PortA(), Line, Pump) {}
    TPacedModem Modem;
    TLibmodbusServer Peer;
    TOurClientSide Our;
};

class LibmodbusServer : public ::testing::Test, public TOurClientAndLibmodbusServer {
protected:
    LibmodbusServer() : TOurClientAndLibmodbusServer(DefaultLine) {}
};

TEST_F(LibmodbusServer, EveryCommandBothSidesSupportRoundTrips) { ExpectEveryCommandRoundTrips(Our, Peer); }

TEST_F(LibmodbusServer, LargestCountsOfTheProtocolPass) { ExpectLargestCountsPass(Our, Peer); }

TEST_F(LibmodbusServer, BitCountsBeyondTheProtocolLimitsAreRefusedWithCode03) {
    ExpectBitCountsBeyondTheProtocolRefused(Our, Peer);
}

TEST_F(LibmodbusServer, ItemsOutsideItsTablesAreRefusedWithCode02) { ExpectItemsOutsideTheTablesRefused(Our, Peer); }

// libmodbus delimits a request by the lengths its function code implies, and implies none for
// codes it does not serve: it takes the first four bytes of a Diagnostics or file-record
// request for a whole frame, fails the CRC and stays silent, where a server delimiting by the
// silent interval answers exception 01. Our client reports no reply, and the line recovers.
TEST_F(LibmodbusServer, CommandsItCannotDelimitGoUnanswered) {
    Our.Connection.SetReceiveTimeout(500);
    TModbusFileRecordList records;
    records.Add(1, 0, 2);
    const uint32_t ids[] = {Our.Client.Diagnostics(daReturnQueryData), Our.Client.ReadFileRecord(records),
                            Our.Client.WriteFileRecord(records)};
    for (uint32_t id : ids) {
        EXPECT_EQ(Our.Await(id).Info.Reply, rkNoReply) << Our.Await(id).Kind;
        EXPECT_EQ(Our.Await(id).Info.Attempts, 1u);
    }
    Our.Connection.SetReceiveTimeout(5000);
    EXPECT_EQ(Our.Await(Our.Client.ReadHoldingRegisters(0, 2)).Info.Reply, rkNormalReply);
}

// libmodbus suppresses its reply to a broadcast in RTU.
TEST_F(LibmodbusServer, BroadcastWritesAreAppliedAndNeverAnswered) {
    ExpectBroadcastWritesAppliedAndUnanswered(Our, Peer, Modem);
}

// After a request for another address a libmodbus server waits up to its response time-out for
// that server's reply and takes the next frame for it, whatever it is. When the other server is
// absent and our client's receive time-out is the shorter, our next request is that frame and
// goes unanswered; a second attempt (MaxRetries 2) gets through. With libmodbus's default 0.5 s
// and our default 1 s the wait is over before our next request.
TEST(LibmodbusServerOnABus, ARequestForAnAbsentServerCostsTheNextRequestAnAttempt) {
    platform::TVirtualNullModem modem;
    TLibmodbusServer peer(modem.PortB(), DefaultLine, 1, 10000);
    TOurClientSide our(modem.PortA(), DefaultLine, Pump);
    our.Connection.SetReceiveTimeout(300);
    our.Connection.SetMaxRetries(2);
    our.Client.SetServerAddress(2);
    EXPECT_EQ(our.Await(our.Client.ReadHoldingRegisters(0, 1)).Info.Reply, rkNoReply);
    our.Client.SetServerAddress(1);
    const test::TClientEvent& e = our.Await(our.Client.ReadHoldingRegisters(0, 1));
    EXPECT_EQ(e.Info.Reply, rkNormalReply);
    EXPECT_EQ(e.Info.Attempts, 2u);
    EXPECT_EQ(peer.Requests(), 1);
}

class LibmodbusServerLine : public ::testing::TestWithParam<TLineCase>, public TOurClientAndLibmodbusServer {
protected:
    LibmodbusServerLine() : TOurClientAndLibmodbusServer(GetParam()) {}
};

TEST_P(LibmodbusServerLine, ReadsAndWritesUnderTheLineSettings) { ExpectLineExchange(Our, Peer); }

INSTANTIATE_TEST_SUITE_P(Lines, LibmodbusServerLine, ::testing::ValuesIn(LineCases, LineCases + LineCaseCount),
                         LineName);

}  // namespace
}  // namespace quelvan::interop
