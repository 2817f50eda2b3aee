// A port that goes away while open (an unplugged adapter: a real pseudo-terminal hung up by
// the null-modem, and the fake device's Vanish), and a port that another program holds: the
// error is clear and shown once, every transaction still ends with one event, nothing spins,
// and closing and opening again (on a port that exists) recovers.

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/application.h"
#include "process_probe.h"
#include "quelvan/errors.h"
#include "support/connection_fixtures.h"
#include "support/frames.h"
#include "support/nested_cause.h"
#include "support/pump.h"

namespace quelvan {
namespace {

using platform::TNullModemSide;
using test::PumpUntil;

// Collects what the application would show.
class ShownErrors {
public:
    ShownErrors() {
        platform::Application().OnException = [this](const std::exception& e) { texts.push_back(e.what()); };
    }
    ~ShownErrors() { platform::Application().OnException = nullptr; }
    std::vector<std::string> texts;
};

// CPU time the process uses over an idle second: a thread that spins on a dead port would
// use nearly all of it. A resource check, not a timing one: the bound is half the period.
double CpuOverAnIdleSecond() {
    const double before = test::ProcessCpuSeconds();
    test::PumpFor(1000);
    return test::ProcessCpuSeconds() - before;
}

class UnplugTest : public ::testing::TestWithParam<std::tuple<TTransmissionMode, TNullModemSide>> {
protected:
    TTransmissionMode Mode() const { return std::get<0>(GetParam()); }
    TNullModemSide Side() const { return std::get<1>(GetParam()); }
};

TEST_P(UnplugTest, EndsTrafficReportsOnceAndRecoversOnAFreshPort) {
    ShownErrors shown;
    test::TModbusPair p(Mode());
    p.Items.Define(ikHoldingRegister, 0, 10);
    p.ClientConnection.SetReceiveTimeout(200);
    p.ClientConnection.SetMaxRetries(2);
    p.Open();
    const uint32_t first = p.Client.ReadHoldingRegisters(0, 2);
    ASSERT_TRUE(PumpUntil([&] { return p.Log.Find(first) != nullptr; }));
    EXPECT_EQ(p.Log.Find(first)->Info.Reply, rkNormalReply);

    std::vector<uint32_t> ids;
    for (int i = 0; i < 4; ++i) ids.push_back(p.Client.ReadHoldingRegisters(0, 2));
    const std::string port = p.Modem.Port(Side());
    p.Modem.Unplug(Side());
    std::vector<uint32_t> after;
    for (int i = 0; i < 4; ++i) after.push_back(p.Client.WriteSingleRegister(1, static_cast<uint16_t>(i)));

    ASSERT_TRUE(PumpUntil([&] { return p.Log.Count() == 1 + ids.size() + after.size(); }));
    for (uint32_t id : after) EXPECT_EQ(p.Log.Find(id)->Info.Reply, rkNoReply) << id;
    ASSERT_TRUE(PumpUntil([&] { return !shown.texts.empty(); })) << "the failure was not reported";
    EXPECT_LT(CpuOverAnIdleSecond(), 0.5);
    ASSERT_EQ(shown.texts.size(), 1u);
    EXPECT_NE(shown.texts[0].find(port), std::string::npos) << shown.texts[0];
    EXPECT_EQ(p.Log.Count(), 1 + ids.size() + after.size()) << "an event too many";

    p.ClientConnection.Close();
    p.ServerConnection.Close();
    platform::TVirtualNullModem fresh;
    p.ClientConnection.SetPort(fresh.PortA());
    p.ServerConnection.SetPort(fresh.PortB());
    p.Open();
    const uint32_t again = p.Client.ReadHoldingRegisters(0, 2);
    ASSERT_TRUE(PumpUntil([&] { return p.Log.Find(again) != nullptr; }));
    EXPECT_EQ(p.Log.Find(again)->Info.Reply, rkNormalReply);
    EXPECT_EQ(shown.texts.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lines, UnplugTest,
                         ::testing::Combine(::testing::Values(tmRTU, tmASCII),
                                            ::testing::Values(TNullModemSide::A, TNullModemSide::B)),
                         [](const auto& Info) {
                             return std::string(std::get<0>(Info.param) == tmRTU ? "RTU" : "ASCII") +
                                    (std::get<1>(Info.param) == TNullModemSide::A ? "ClientPort" : "ServerPort");
                         });

// Retrying cannot bring a vanished device back: even a client told to retry (nearly) for
// ever ends each transaction at once, and closing does not wait for the retries.
TEST(VanishedDevice, EndsEvenEndlessRetriesAndRecoversOnAnotherDevice) {
    ShownErrors shown;
    test::TFakeClient f(tmRTU);
    f.Connection.SetMaxRetries(4000000000u);
    f.Connection.SetReceiveTimeout(50);
    f.Connection.Open();
    f.Line->Vanish();
    for (int i = 0; i < 3; ++i) f.Client.ReadCoils(0, 1);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Count() == 3; }, 30000)) << "the retries never end";
    for (const auto& e : f.Log.Events()) EXPECT_EQ(e.Info.Reply, rkNoReply);
    ASSERT_TRUE(PumpUntil([&] { return !shown.texts.empty(); }));
    EXPECT_LT(CpuOverAnIdleSecond(), 0.5);
    f.Connection.Close();
    EXPECT_EQ(shown.texts.size(), 1u);

    // The same device stays gone; another one works.
    try {
        f.Connection.Open();
        ADD_FAILURE() << "opened a vanished device";
    } catch (const EQuelvanError& e) {
        EXPECT_STREQ(e.what(), "Could not open serial port");
    }
    EXPECT_FALSE(f.Connection.Active());
    auto line = test::UseFakeLine(f.Connection);
    line->SetOnWrite([&](const std::vector<uint8_t>&) { line->QueueReceive(test::Rtu({1, 1, 1, 1}), 2); });
    f.Connection.Open();
    const uint32_t id = f.Client.ReadCoils(0, 1);
    ASSERT_TRUE(PumpUntil([&] { return f.Log.Find(id) != nullptr; }));
    EXPECT_EQ(f.Log.Find(id)->Info.Reply, rkNormalReply);
}

TEST(VanishedDevice, AServerReportsOnceAndSleepsUntilClosed) {
    ShownErrors shown;
    TModbusConnection connection;
    auto line = test::UseFakeLine(connection);
    connection.SetConnectionMode(cmServer);
    TModbusServer server;
    TModbusItemMap items;
    items.Define(ikCoil, 0, 8);
    items.Attach(server);
    server.SetConnection(&connection);
    connection.Open();
    // Answers first (a request that arrives while the thread still prepares the line is
    // purged, so it is offered until one is answered).
    for (int i = 0; i < 50 && line->Writes().empty(); ++i) {
        line->QueueReceive(test::Rtu({1, 1, 0, 0, 0, 1}), 50);
        PumpUntil([&] { return !line->Writes().empty(); }, 1000);
    }
    ASSERT_FALSE(line->Writes().empty());
    line->Vanish();
    ASSERT_TRUE(PumpUntil([&] { return !shown.texts.empty(); }));
    EXPECT_LT(CpuOverAnIdleSecond(), 0.5);
    connection.Close();
    EXPECT_FALSE(connection.Active());
    EXPECT_EQ(shown.texts.size(), 1u);
}

TEST(PortInUse, IsRefusedWithAClearErrorUntilTheOtherProgramLetsGo) {
    platform::TVirtualNullModem modem;
    TModbusConnection connection;
    connection.SetPort(modem.PortA());
    bool opened = false;
    connection.OnAfterOpen = [&](TModbusConnection&) { opened = true; };
    test::TPortHolder holder(modem.PortA());
    ASSERT_TRUE(holder.Holding());
    for (int i = 0; i < 2; ++i) {  // a failed open leaves nothing behind that blocks a retry
        try {
            connection.Open();
            ADD_FAILURE() << "opened a port another program holds";
        } catch (const EQuelvanError& e) {
            EXPECT_STREQ(e.what(), "Could not open serial port");
            test::ExpectNestedOSError(e, EBUSY, "already open elsewhere");
        }
        EXPECT_FALSE(connection.Active());
        EXPECT_FALSE(opened);
    }
    holder.Release();
    connection.Open();
    EXPECT_TRUE(connection.Active());
    // While this connection holds it, another one is refused the same way.
    TModbusConnection second;
    second.SetPort(modem.PortA());
    EXPECT_THROW(second.Open(), EQuelvanError);
    connection.Close();
    second.Open();
    EXPECT_TRUE(second.Active());
}

}  // namespace
}  // namespace quelvan
