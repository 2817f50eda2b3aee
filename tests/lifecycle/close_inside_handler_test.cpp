// A connection closed from inside a call its own transaction thread is waiting for: a bound
// server's handler, or the display of an error raised on that thread. The thread cannot be
// joined before that call returns, so the close must follow it instead of hanging.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using test::PumpUntil;

// The fake line does not wake the main thread: look in short slices.
bool PumpUntilPolled(const std::function<bool()>& Condition) {
    for (int i = 0; i < 1500; ++i)
        if (PumpUntil(Condition, 10)) return true;
    return false;
}

// A server connection on a fake line answering coil reads, with its open and close events
// recorded, and a hook run inside every request's OnAcceptCommand.
class ServerOnFakeLine {
public:
    ServerOnFakeLine() {
        line = test::UseFakeLine(connection);
        connection.SetConnectionMode(cmServer);
        items.Define(ikCoil, 0, 8);
        items.Attach(server);
        const TAcceptCommandEvent accept = server.OnAcceptCommand;
        server.OnAcceptCommand = [this, accept](TModbusServer& Sender, uint8_t Command, bool& Accept) {
            accept(Sender, Command, Accept);
            if (insideHandler) insideHandler();
        };
        server.SetConnection(&connection);
        connection.OnBeforeClose = [this](TModbusConnection&) { events.push_back("before close"); };
        connection.OnAfterClose = [this](TModbusConnection&) { events.push_back("after close"); };
        connection.OnAfterOpen = [this](TModbusConnection&) { events.push_back("after open"); };
    }

    // Offers a request until one more reply has been written (a request that arrives while
    // the thread still prepares the line is purged, so it is offered again).
    bool AnswersARequest() {
        const size_t before = line->Writes().size();
        for (int i = 0; i < 50; ++i) {
            line->QueueReceive(test::Rtu({1, 1, 0, 0, 0, 1}), 30);
            if (PumpUntilPolled([&] { return line->Writes().size() > before || !connection.Active(); }) &&
                line->Writes().size() > before)
                return true;
            if (!connection.Active()) return false;
        }
        return false;
    }

    // Declared first: the connection's events still arrive while it is destroyed.
    std::vector<std::string> events;
    std::function<void()> insideHandler;
    TModbusConnection connection;
    std::shared_ptr<platform::TFakeSerialLine> line;
    TModbusServer server;
    TModbusItemMap items;
};

TEST(CloseInsideAServerHandler, TakesEffectWhenTheHandlerReturnsAndTheRequestGetsNoReply) {
    ServerOnFakeLine s;
    s.connection.Open();
    ASSERT_TRUE(s.AnswersARequest());
    s.events.clear();
    const size_t replies = s.line->Writes().size();

    bool activeRightAfterClose = false;
    std::vector<std::string> eventsInside;
    s.insideHandler = [&] {
        s.connection.Close();
        activeRightAfterClose = s.connection.Active();
        eventsInside = s.events;
    };
    s.line->QueueReceive(test::Rtu({1, 1, 0, 0, 0, 1}));
    ASSERT_TRUE(PumpUntilPolled([&] { return !s.connection.Active(); }));

    EXPECT_TRUE(activeRightAfterClose);
    EXPECT_TRUE(eventsInside.empty());
    EXPECT_EQ(s.events, (std::vector<std::string>{"before close", "after close"}));
    EXPECT_EQ(s.line->Writes().size(), replies);
    EXPECT_FALSE(s.line->IsOpen());

    // Nothing is left behind: it opens and serves again.
    s.insideHandler = nullptr;
    s.connection.Open();
    EXPECT_TRUE(s.AnswersARequest());
}

TEST(CloseInsideAServerHandler, FollowedByOpenEndsOpenAndServing) {
    ServerOnFakeLine s;
    s.connection.Open();
    ASSERT_TRUE(s.AnswersARequest());
    s.events.clear();
    bool once = true;
    s.insideHandler = [&] {
        if (!once) return;
        once = false;
        s.connection.Close();
        s.connection.Open();
    };
    s.line->QueueReceive(test::Rtu({1, 1, 0, 0, 0, 1}));
    ASSERT_TRUE(PumpUntilPolled([&] { return s.line->Opens() == 2; }));
    EXPECT_TRUE(s.connection.Active());
    EXPECT_EQ(s.events, (std::vector<std::string>{"before close", "after close", "after open"}));
    EXPECT_TRUE(s.AnswersARequest());
}

// Destroying the connection there cannot be made safe (the blocked thread needs it after the
// handler returns): the program ends with a message that says what happened, never hangs.
TEST(DestroyInsideAServerHandler, EndsTheProgramWithAClearMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto s = std::make_unique<ServerOnFakeLine>();
            s->connection.Open();
            auto line = s->line;
            s->insideHandler = [&s] { s.reset(); };
            for (int i = 0; i < 100; ++i) {
                line->QueueReceive(test::Rtu({1, 1, 0, 0, 0, 1}), 30);
                PumpUntil([] { return false; }, 100);
            }
        },
        "destroyed inside one of its own server handlers");
}

// End to end on a real pseudo-terminal pair: a "stop" register whose write closes the server.
class StopCommand : public ::testing::TestWithParam<TTransmissionMode> {};

TEST_P(StopCommand, ClosesTheServerAndTheWriteGetsNoReply) {
    test::TModbusPair p(GetParam());
    p.Items.Define(ikHoldingRegister, 0, 10);
    p.Items.OnChanged = [&](TItemKind, uint16_t Address, uint16_t) {
        if (Address == 7) p.ServerConnection.Close();
    };
    p.Open();
    p.ClientConnection.SetReceiveTimeout(300);
    const uint32_t id = p.Client.WriteSingleRegister(7, 1);
    ASSERT_TRUE(PumpUntil([&] { return p.Log.Find(id) != nullptr; }));
    EXPECT_EQ(p.Log.Find(id)->Info.Reply, rkNoReply);
    EXPECT_FALSE(p.ServerConnection.Active());
}

INSTANTIATE_TEST_SUITE_P(Modes, StopCommand, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "RTU" : "ASCII"; });

// The error display is the other call the thread waits for: an application that closes the
// connection when its port fails.
class CloseFromTheErrorDisplay : public ::testing::TestWithParam<TConnectionMode> {
protected:
    ~CloseFromTheErrorDisplay() override { platform::Application().OnException = nullptr; }
};

TEST_P(CloseFromTheErrorDisplay, ClosesOnceTheDisplayReturns) {
    test::TFakeClient f;
    f.Connection.SetConnectionMode(GetParam());
    std::vector<std::string> shown;
    platform::Application().OnException = [&](const std::exception& E) {
        shown.push_back(E.what());
        f.Connection.Close();
    };
    f.Connection.Open();
    f.Line->Vanish();
    if (GetParam() == cmClient) f.Client.ReadCoils(0, 1);  // a client meets the failure by sending
    ASSERT_TRUE(PumpUntilPolled([&] { return !f.Connection.Active(); }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("failed"), std::string::npos) << shown[0];
}

INSTANTIATE_TEST_SUITE_P(Roles, CloseFromTheErrorDisplay, ::testing::Values(cmClient, cmServer),
                         [](const auto& Info) { return Info.param == cmClient ? "Client" : "Server"; });

}  // namespace
}  // namespace quelvan
