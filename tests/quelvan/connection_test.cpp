// The connection component: defaults, property rules, open/close with their events, loading
// from a form, transaction IDs and the pending queue.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "platform/application.h"
#include "platform/form_stream.h"
#include "quelvan/errors.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "support/connection_fixtures.h"
#include "support/nested_cause.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using test::UseFakeLine;

TEST(ConnectionTest, NewConnectionHasTheDocumentedDefaults) {
    TModbusConnection c;
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(c.BaudRate(), br19200);
    EXPECT_EQ(c.CustomBaudRate(), 19200u);
    EXPECT_EQ(c.DataBits(), db8);
    EXPECT_EQ(c.Parity(), psEven);
    EXPECT_EQ(c.StopBits(), sb1);
    EXPECT_EQ(c.FlowControl(), fcNone);
    EXPECT_TRUE(c.DTREnabled());
    EXPECT_TRUE(c.RTSEnabled());
    EXPECT_EQ(c.Port(), "COM1");
    EXPECT_EQ(c.MaxRetries(), 1u);
    EXPECT_EQ(c.ReceiveTimeout(), 1000u);
    EXPECT_EQ(c.SendTimeout(), 1000u);
    EXPECT_EQ(c.TurnaroundDelay(), 100u);
    EXPECT_EQ(c.RefetchDelay(), 0u);
    EXPECT_EQ(c.SilentInterval(), 4u);
    EXPECT_EQ(c.ThreadPriority(), tpNormal);
    EXPECT_EQ(c.TransmissionMode(), tmRTU);
    EXPECT_EQ(c.ConnectionMode(), cmClient);
    EXPECT_FALSE(c.EchoQueryBeforeReply());
    EXPECT_EQ(c.MaxFrameSize(), 256);
    EXPECT_EQ(c.GetPendingTransactionCount(), 0);
}

TEST(ConnectionTest, CustomBaudRateSelectsCustomAndMaxRetriesRefusesZero) {
    TModbusConnection c;
    c.SetCustomBaudRate(9600);
    EXPECT_EQ(c.BaudRate(), brCustom);
    c.SetMaxRetries(3);
    try {
        c.SetMaxRetries(0);
        FAIL() << "MaxRetries 0 accepted";
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "Value must be between 1 and 4294967295");
    }
    EXPECT_EQ(c.MaxRetries(), 3u);
}

// Settings that change framing or wiring are refused while open; the current value is
// accepted; the others apply at once.
TEST(ConnectionTest, WhileOpenFramingSettingsAreRefusedAndTheOthersApply) {
    TModbusConnection c;
    auto line = UseFakeLine(c);
    c.Open();
    ASSERT_TRUE(c.Active());
    const std::string refused = "Connection must NOT be active for the requested action to be performed";
    struct Case {
        const char* Name;
        std::function<void()> Change;
    } cases[] = {
        {"Port", [&] { c.SetPort("/dev/other"); }},
        {"ConnectionMode", [&] { c.SetConnectionMode(cmServer); }},
        {"TransmissionMode", [&] { c.SetTransmissionMode(tmASCII); }},
        {"FlowControl", [&] { c.SetFlowControl(fcRtsCts); }},
        {"DTREnabled", [&] { c.SetDTREnabled(false); }},
        {"RTSEnabled", [&] { c.SetRTSEnabled(false); }},
    };
    for (const Case& k : cases) {
        try {
            k.Change();
            ADD_FAILURE() << k.Name << " changed while open";
        } catch (const EQuelvanError& e) {
            EXPECT_EQ(e.Message(), refused) << k.Name;
        }
    }
    EXPECT_EQ(c.Port(), "/dev/fake");
    EXPECT_EQ(c.TransmissionMode(), tmRTU);
    EXPECT_NO_THROW(c.SetPort("/dev/fake"));  // the current value
    EXPECT_NO_THROW(c.SetTransmissionMode(tmRTU));

    // Line settings are re-applied to the open port without closing it.
    const size_t configured = line->Configurations().size();
    c.SetBaudRate(br1200);
    EXPECT_EQ(line->Configurations().size(), configured + 1);
    EXPECT_EQ(line->Configurations().back().BaudRate, 1200u);
    EXPECT_EQ(c.SilentIntervalMs(), 34u);  // 11 bits x 4 chars at 1200 baud
    c.SetParity(psNone);
    c.SetStopBits(sb2);
    EXPECT_EQ(line->Configurations().back().StopBits, 2);
    EXPECT_EQ(line->Opens(), 1u);
    EXPECT_TRUE(c.Active());
    c.Close();
    EXPECT_FALSE(line->IsOpen());
}

// The end-of-frame gap: character times at the baud rate in RTU, milliseconds in ASCII,
// never below 20 ms.
TEST(ConnectionTest, SilentIntervalFollowsTheLineSettings) {
    struct Case {
        TTransmissionMode Mode;
        TBaudRate Baud;
        TParityScheme Parity;
        TStopBits Stop;
        uint32_t Interval;
        uint32_t ExpectedMs;
    } cases[] = {
        {tmRTU, br19200, psEven, sb1, 4, 20},  {tmRTU, br1200, psEven, sb1, 4, 34},
        {tmRTU, br9600, psNone, sb1, 4, 20},   {tmRTU, br300, psNone, sb2, 4, 134},
        {tmASCII, br19200, psEven, sb1, 4, 20}, {tmASCII, br19200, psEven, sb1, 500, 500},
        // A huge interval must not wrap around to a tiny gap (10 bits x 5e11 / 9600).
        {tmRTU, br9600, psEven, sb1, 500000000, 520833334u},
    };
    for (const Case& k : cases) {
        TModbusConnection c;
        UseFakeLine(c);
        c.SetTransmissionMode(k.Mode);
        c.SetBaudRate(k.Baud);
        c.SetParity(k.Parity);
        c.SetStopBits(k.Stop);
        c.SetSilentInterval(k.Interval);
        c.Open();
        EXPECT_EQ(c.SilentIntervalMs(), k.ExpectedMs) << k.Baud << " " << k.Interval;
        c.Close();
    }
}

// The device settings each property combination produces, seen through the fake device.
TEST(ConnectionTest, LineSettingsReachTheDevice) {
    using platform::TFlowMode;
    using platform::TParityMode;
    struct Case {
        TFlowControl Flow;
        bool Dtr, Rts;
        TFlowMode ExpectFlow;
        bool ExpectDtr, ExpectRts;
    } cases[] = {
        {fcNone, true, true, TFlowMode::None, true, true},
        {fcNone, false, false, TFlowMode::None, false, false},
        {fcRtsToggle, true, true, TFlowMode::RtsToggle, true, false},
        {fcRtsCts, true, true, TFlowMode::RtsCts, true, false},
        {fcDtrDsr, true, true, TFlowMode::DtrDsr, false, true},
    };
    for (const Case& k : cases) {
        TModbusConnection c;
        auto line = UseFakeLine(c);
        c.SetFlowControl(k.Flow);
        c.SetDTREnabled(k.Dtr);
        c.SetRTSEnabled(k.Rts);
        c.SetDataBits(db7);
        c.SetParity(psOdd);
        c.SetStopBits(sb2);
        c.SetCustomBaudRate(12345);
        c.Open();
        const platform::TLineSettings s = line->Configurations().back();
        EXPECT_EQ(s.Flow, k.ExpectFlow);
        EXPECT_EQ(s.DtrOn, k.ExpectDtr);
        EXPECT_EQ(s.RtsOn, k.ExpectRts);
        EXPECT_EQ(s.BaudRate, 12345u);
        EXPECT_EQ(s.DataBits, 7);
        EXPECT_EQ(s.Parity, TParityMode::Odd);
        EXPECT_TRUE(s.ParityCheck);
        EXPECT_EQ(s.StopBits, 2);
        c.Close();
    }
}

struct EventTrace {
    std::vector<std::string> Calls;
    void Attach(TModbusConnection& c) {
        c.OnBeforeOpen = [this](TModbusConnection& s) { Calls.push_back(std::string("BeforeOpen:") + (s.Active() ? "1" : "0")); };
        c.OnAfterOpen = [this](TModbusConnection& s) { Calls.push_back(std::string("AfterOpen:") + (s.Active() ? "1" : "0")); };
        c.OnBeforeClose = [this](TModbusConnection& s) { Calls.push_back(std::string("BeforeClose:") + (s.Active() ? "1" : "0")); };
        c.OnAfterClose = [this](TModbusConnection& s) { Calls.push_back(std::string("AfterClose:") + (s.Active() ? "1" : "0")); };
    }
};

TEST(ConnectionTest, OpenAndCloseFireTheirEventsInOrder) {
    TModbusConnection c;
    auto line = UseFakeLine(c);
    EventTrace trace;
    trace.Attach(c);
    c.Open();
    c.Open();  // already open: nothing happens
    c.Close();
    EXPECT_EQ(trace.Calls, (std::vector<std::string>{"BeforeOpen:0", "AfterOpen:0", "BeforeClose:1", "AfterClose:1"}));
    EXPECT_FALSE(c.Active());
}

TEST(ConnectionTest, OpeningAMissingPortFiresOnlyBeforeOpen) {
    TModbusConnection c;
    c.SetPort("/dev/quelvan-no-such-port");
    EventTrace trace;
    trace.Attach(c);
    try {
        c.Open();
        FAIL() << "opened a missing port";
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "Could not open serial port");
        // The system's reason travels with it.
        test::ExpectNestedOSError(e, ENOENT, "/dev/quelvan-no-such-port");
    }
    EXPECT_EQ(trace.Calls, std::vector<std::string>{"BeforeOpen:0"});
    EXPECT_FALSE(c.Active());
}

TEST(ConnectionTest, RefusedLineSettingsCloseThePortAgain) {
    TModbusConnection c;
    auto line = UseFakeLine(c);
    line->FailCall(platform::TFakeOp::Configure, 1, EINVAL);
    try {
        c.Open();
        FAIL();
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "Failed to update device control block");
    }
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(line->IsOpen());
    c.Open();  // and the next attempt works
    EXPECT_TRUE(c.Active());
}

// Handler errors reach the caller, and Active always tells whether the port is open.
TEST(ConnectionTest, HandlerErrorsPropagateAndActiveMatchesThePort) {
    TModbusConnection c;
    auto line = UseFakeLine(c);
    c.OnBeforeOpen = [](TModbusConnection&) { throw EQuelvanError("before open"); };
    EXPECT_THROW(c.Open(), EQuelvanError);
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(line->IsOpen());

    c.OnBeforeOpen = nullptr;
    c.OnAfterOpen = [](TModbusConnection&) { throw EQuelvanError("after open"); };
    EXPECT_THROW(c.Open(), EQuelvanError);
    EXPECT_TRUE(c.Active());
    EXPECT_TRUE(line->IsOpen());

    c.OnBeforeClose = [](TModbusConnection&) { throw EQuelvanError("before close"); };
    EXPECT_THROW(c.Close(), EQuelvanError);
    EXPECT_TRUE(c.Active());
    c.OnBeforeClose = nullptr;
    c.OnAfterClose = [](TModbusConnection&) { throw EQuelvanError("after close"); };
    EXPECT_THROW(c.Close(), EQuelvanError);
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(line->IsOpen());
}

TEST(ConnectionTest, DesignTimeInstancesOnlyToggleTheFlag) {
    TModbusConnection c;
    auto line = UseFakeLine(c);
    EventTrace trace;
    trace.Attach(c);
    c.SetDesigning(true);
    c.Open();
    EXPECT_TRUE(c.Active());
    EXPECT_EQ(line->Opens(), 0u);
    EXPECT_TRUE(trace.Calls.empty());
    EXPECT_NO_THROW(c.SetPort("/dev/other"));  // not live, so not refused
    c.Close();
    EXPECT_FALSE(c.Active());
}

TEST(ConnectionTest, TransactionIdsCountOnAcrossReopening) {
    TModbusConnection c;
    UseFakeLine(c);
    EXPECT_EQ(c.NextTransactionID(), 0u);
    EXPECT_EQ(c.NextTransactionID(), 1u);
    c.Open();
    c.Close();
    c.Open();
    EXPECT_EQ(c.NextTransactionID(), 2u);
}

TEST(ConnectionTest, PendingTransactionsAreCountedAndDiscardedByAddress) {
    // In server mode nothing services the queue, so queued transactions stay countable.
    TModbusConnection c;
    UseFakeLine(c);
    c.SetConnectionMode(cmServer);
    TModbusClient a, b, sameAsA;
    for (TModbusClient* k : {&a, &b, &sameAsA}) k->SetConnection(&c);
    b.SetServerAddress(2);
    EXPECT_EQ(c.GetPendingTransactionCount(), 0);  // closed
    c.Open();
    a.ReadCoils(0, 1);
    a.ReadCoils(0, 1);
    b.ReadCoils(0, 1);
    EXPECT_EQ(c.GetPendingTransactionCount(), 3);
    EXPECT_EQ(c.GetPendingTransactionCount(&a), 2);
    EXPECT_EQ(c.GetPendingTransactionCount(&sameAsA), 2);
    EXPECT_EQ(c.GetPendingTransactionCount(&b), 1);
    c.DiscardPendingTransactions();  // server mode: nothing happens
    EXPECT_EQ(c.GetPendingTransactionCount(), 3);
    c.Close();
    EXPECT_EQ(c.GetPendingTransactionCount(), 0);
}

TEST(ConnectionTest, QueueingNeedsAnActiveConnection) {
    TModbusConnection c;
    try {
        c.BroadcastWriteSingleCoil(1, true);
        FAIL();
    } catch (const EQuelvanError& e) {
        EXPECT_EQ(e.Message(), "Connection MUST be active for the requested action to be performed");
    }
}

// A form stores only what differs from the defaults, Port only when it is not "COM1", and
// opens a connection stored as active after the whole form has been read.
TEST(ConnectionTest, FormRoundTripStoresNonDefaultsAndOpensWhenLoaded) {
    platform::TComponent form(nullptr);
    auto* c = new TModbusConnection(&form);
    c->SetName("ModbusConnection1");
    c->SetBaudRate(br9600);
    c->SetPort("/dev/ttyUSB0");
    c->SetTransmissionMode(tmASCII);
    c->SetMaxRetries(3);
    auto* client = new TModbusClient(&form);
    client->SetName("ModbusClient1");
    client->SetConnection(c);
    client->SetServerAddress(17);
    std::ostringstream out;
    platform::WriteForm(out, form);
    const std::string text = out.str();
    EXPECT_NE(text.find("BaudRate = br9600"), std::string::npos) << text;
    EXPECT_NE(text.find("Port = '/dev/ttyUSB0'"), std::string::npos) << text;
    EXPECT_NE(text.find("Connection = ModbusConnection1"), std::string::npos) << text;
    EXPECT_NE(text.find("ServerAddress = 17"), std::string::npos) << text;
    EXPECT_EQ(text.find("Parity"), std::string::npos) << text;
    EXPECT_EQ(text.find("ReceiveTimeout"), std::string::npos) << text;

    TModbusConnection plain;
    plain.SetName("Plain");
    std::ostringstream plainOut;
    platform::TComponent holder(nullptr);
    auto* p = new TModbusConnection(&holder);
    p->SetName("ModbusConnection1");
    platform::WriteForm(plainOut, holder);
    EXPECT_EQ(plainOut.str().find("Port"), std::string::npos);

    // Read back into a new form, with Active stored: the port opens when loading ends; the
    // missing port's error goes to the exception display and loading goes on.
    std::string stored = text;
    stored.insert(stored.find("BaudRate"), "Active = True\n    ");
    std::vector<std::string> shown;
    platform::Application().OnException = [&](const std::exception& e) { shown.push_back(e.what()); };
    platform::TComponent loaded(nullptr);
    std::istringstream in(stored);
    platform::ReadForm(in, loaded, platform::THandlerTable{});
    platform::Application().OnException = nullptr;
    ASSERT_EQ(loaded.ComponentCount(), 2);
    auto* lc = dynamic_cast<TModbusConnection*>(loaded.Components(0));
    auto* lk = dynamic_cast<TModbusClient*>(loaded.Components(1));
    ASSERT_TRUE(lc && lk);
    EXPECT_EQ(lc->BaudRate(), br9600);
    EXPECT_EQ(lc->TransmissionMode(), tmASCII);
    EXPECT_EQ(lc->MaxRetries(), 3u);
    EXPECT_EQ(lk->Connection(), lc);
    EXPECT_EQ(lk->ServerAddress(), 17);
    EXPECT_FALSE(lc->Active());
    EXPECT_EQ(shown, std::vector<std::string>{"Could not open serial port"});
}

TEST(ConnectionTest, ABoundClientForgetsADestroyedConnection) {
    TModbusClient client;
    {
        TModbusConnection c;
        client.SetConnection(&c);
        EXPECT_EQ(c.FindClient(1), &client);
    }
    EXPECT_EQ(client.Connection(), nullptr);
}

}  // namespace
}  // namespace quelvan
