// The POSIX serial device on real pseudo-terminals (the two ends of a virtual null-modem).

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/exceptions.h"
#include "platform/posix_serial_device.h"
#include "platform/sync.h"
#include "platform/virtual_null_modem.h"
#include "serial_test_util.h"

using namespace quelvan::platform;
using quelvan::test::ReadBytes;
using quelvan::test::WaitUntil;
using Bytes = std::vector<uint8_t>;

namespace {

// Bytes that the receiver's in-band error marks must not disturb.
const Bytes kAwkwardFrame = {0x01, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x7F, 0x80, 0x11, 0x13, 0x0D, 0x0A, 0x03};

class PosixSerialDevice : public ::testing::Test {
protected:
    void SetUp() override {
        a_.Open(cable_.PortA());
        b_.Open(cable_.PortB());
    }
    void ConfigureBoth(const TLineSettings& S) {
        a_.Configure(S);
        b_.Configure(S);
    }

    TVirtualNullModem cable_;
    TPosixSerialDevice a_, b_;
};

std::string Thrown(const std::function<void()>& F) {
    try {
        F();
    } catch (const EOSError& e) {
        return e.Message();
    }
    return "(nothing thrown)";
}

}  // namespace

TEST_F(PosixSerialDevice, OpensPseudoTerminalsByPath) {
    EXPECT_TRUE(a_.IsOpen());
    EXPECT_EQ(a_.DevicePath(), cable_.PortA());
    EXPECT_TRUE(a_.IsPseudoTerminal());
    EXPECT_EQ(a_.LastError(), 0);
    EXPECT_EQ(a_.LastErrorText(), "");
}

TEST_F(PosixSerialDevice, ASecondOpenOfThePortIsRefused) {
    TPosixSerialDevice second;
    const std::string message = Thrown([&] { second.Open(cable_.PortA()); });
    EXPECT_NE(message.find(cable_.PortA()), std::string::npos) << message;
    EXPECT_NE(message.find("already open"), std::string::npos) << message;
    EXPECT_FALSE(second.IsOpen());
    // The first owner is not disturbed, and the port is free again once it closes.
    ConfigureBoth(TLineSettings{});
    ASSERT_EQ(a_.Write(kAwkwardFrame.data(), kAwkwardFrame.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(ReadBytes(b_, kAwkwardFrame.size()), kAwkwardFrame);
    a_.Close();
    a_.Close();  // idempotent
    EXPECT_NO_THROW(second.Open(cable_.PortA()));
    EXPECT_TRUE(second.IsOpen());
}

TEST(PosixSerialDeviceOpen, RefusesWhatIsNotASerialPort) {
    char file[] = "/tmp/quelvan-notaport-XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string names[] = {"/nonexistent/ttyX", file, "/dev/null", "/tmp"};
    for (const std::string& name : names) {
        TPosixSerialDevice d;
        const std::string message = Thrown([&] { d.Open(name); });
        EXPECT_NE(message.find(name), std::string::npos) << message;
        EXPECT_FALSE(d.IsOpen()) << name;
    }
    TPosixSerialDevice d;
    EXPECT_NE(Thrown([&] { d.Open(""); }).find("no port name"), std::string::npos);
    unlink(file);
}

struct LineCase {
    const char* Name;
    TLineSettings Settings;
};

void PrintTo(const LineCase& C, std::ostream* Os) { *Os << C.Name; }

class PosixSerialDeviceLines : public PosixSerialDevice, public ::testing::WithParamInterface<LineCase> {};

// A pseudo-terminal keeps its framing virtual, so every setting must be accepted and the
// bytes, error-mark escapes included, must pass both ways unchanged.
TEST_P(PosixSerialDeviceLines, AppliesSettingsAndCarriesBytesBothWays) {
    ASSERT_NO_THROW(ConfigureBoth(GetParam().Settings));
    ASSERT_EQ(a_.Write(kAwkwardFrame.data(), kAwkwardFrame.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(ReadBytes(b_, kAwkwardFrame.size()), kAwkwardFrame);
    ASSERT_EQ(b_.Write(kAwkwardFrame.data(), kAwkwardFrame.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(ReadBytes(a_, kAwkwardFrame.size()), kAwkwardFrame);
    EXPECT_FALSE(a_.TakeLineErrors().Any());
    EXPECT_FALSE(b_.TakeLineErrors().Any());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PosixSerialDeviceLines,
    ::testing::Values(
        LineCase{"Default19200_8E1", TLineSettings{}},
        LineCase{"Rate9600_7E2", TLineSettings{9600, 7, TParityMode::Even, true, 2}},
        LineCase{"Rate115200_8N1", TLineSettings{115200, 8, TParityMode::None, false, 1}},
        LineCase{"Custom12345_8O1", TLineSettings{12345, 8, TParityMode::Odd, true, 1}},
        LineCase{"Rate300_5N2NoCheck", TLineSettings{300, 5, TParityMode::None, false, 2}},
        LineCase{"RtsCts", TLineSettings{38400, 8, TParityMode::Even, true, 1, TFlowMode::RtsCts}},
        LineCase{"DtrDsrLinesOff", TLineSettings{38400, 8, TParityMode::None, false, 1, TFlowMode::DtrDsr, false, false}},
        LineCase{"RtsToggleByHand", TLineSettings{19200, 8, TParityMode::Even, true, 1, TFlowMode::RtsToggle}}),
    [](const ::testing::TestParamInfo<LineCase>& I) { return std::string(I.param.Name); });

TEST_F(PosixSerialDevice, RefusesBadSettingsClearly) {
    struct Case {
        TLineSettings Settings;
        const char* Says;
    } cases[] = {
        {{0, 8, TParityMode::None, false, 1}, "baud rate"},
        {{9600, 4, TParityMode::None, false, 1}, "data bits"},
        {{9600, 9, TParityMode::None, false, 1}, "data bits"},
        {{9600, 8, TParityMode::None, false, 0}, "stop bits"},
        {{9600, 8, TParityMode::None, false, 3}, "stop bits"},
    };
    for (const Case& c : cases) {
        const std::string message = Thrown([&] { a_.Configure(c.Settings); });
        EXPECT_NE(message.find(c.Says), std::string::npos) << message;
        EXPECT_NE(message.find(cable_.PortA()), std::string::npos) << message;
    }
    TPosixSerialDevice closed;
    EXPECT_NE(Thrown([&] { closed.Configure(TLineSettings{}); }).find("not open"), std::string::npos);
}

TEST_F(PosixSerialDevice, RtsToggleOnAPseudoTerminalTogglesByHand) {
    TLineSettings s;
    s.Flow = TFlowMode::RtsToggle;
    ConfigureBoth(s);
    EXPECT_FALSE(a_.DriverTogglesRts());  // a pseudo-terminal has no RS-485 mode
    EXPECT_TRUE(a_.SetModemLines(true, false));  // and no modem lines: accepted silently
    EXPECT_TRUE(a_.Drain());
}

TEST_F(PosixSerialDevice, WaitForDataReportsTimeoutAndData) {
    ConfigureBoth(TLineSettings{});
    EXPECT_EQ(b_.WaitForData(0, nullptr), TWaitResult::Timeout);
    EXPECT_EQ(b_.WaitForData(20, nullptr), TWaitResult::Timeout);
    const Bytes frame = {1, 2, 3};
    ASSERT_EQ(a_.Write(frame.data(), frame.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(b_.WaitForData(10000, nullptr), TWaitResult::Data);
    ASSERT_TRUE(WaitUntil([&] { return b_.BytesWaiting() == 3; }));
    uint8_t buf[8];
    EXPECT_EQ(b_.Read(buf, 0), 0);
    EXPECT_EQ(b_.Read(buf, 2), 2);
    EXPECT_EQ(b_.WaitForData(0, nullptr), TWaitResult::Data);  // one byte still waiting
    EXPECT_EQ(b_.BytesWaiting(), 1);
    EXPECT_EQ(b_.Read(buf + 2, sizeof buf - 2), 1);
    EXPECT_EQ(Bytes(buf, buf + 3), frame);
    EXPECT_EQ(b_.Read(buf, sizeof buf), 0);
}

TEST_F(PosixSerialDevice, TheStopEventEndsAWait) {
    ConfigureBoth(TLineSettings{});
    TEvent stop(false, true);  // already signalled: consumed by the wait
    EXPECT_EQ(b_.WaitForData(INFINITE_WAIT, &stop), TWaitResult::Stopped);
    EXPECT_FALSE(stop.WaitFor(0));

    // Signalled during a long wait: the wait ends long before its time-out would.
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.SetEvent();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(b_.WaitForData(60000, &stop), TWaitResult::Stopped);
    EXPECT_LT(quelvan::test::ElapsedMs(start), 30000);
    setter.join();

    // Data waiting is reported before the stop event is looked at.
    const Bytes frame = {9};
    ASSERT_EQ(a_.Write(frame.data(), frame.size(), 1000), TWriteResult::Complete);
    ASSERT_TRUE(WaitUntil([&] { return b_.BytesWaiting() == 1; }));
    stop.SetEvent();
    EXPECT_EQ(b_.WaitForData(INFINITE_WAIT, &stop), TWaitResult::Data);
    EXPECT_EQ(b_.Purge(true, false), true);
    EXPECT_EQ(b_.WaitForData(INFINITE_WAIT, &stop), TWaitResult::Stopped);
}

TEST_F(PosixSerialDevice, AClosedFarEndFailsEveryOperationWithoutBlocking) {
    ConfigureBoth(TLineSettings{});
    TEvent stop(false, false);
    cable_.Unplug(TNullModemSide::B);
    // Each call would block for a minute, or spin, if the hangup were not seen.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b_.WaitForData(60000, nullptr), TWaitResult::Failed);
        EXPECT_EQ(b_.WaitForData(INFINITE_WAIT, &stop), TWaitResult::Failed);
    }
    EXPECT_NE(b_.LastError(), 0);
    EXPECT_NE(b_.LastErrorText().find(cable_.PortB()), std::string::npos);
    uint8_t buf[4];
    EXPECT_EQ(b_.BytesWaiting(), -1);
    EXPECT_EQ(b_.Read(buf, sizeof buf), -1);
    EXPECT_EQ(b_.Write(buf, sizeof buf, 1000), TWriteResult::Failed);
    EXPECT_FALSE(b_.Purge(true, true));
    EXPECT_FALSE(b_.TakeLineErrors().Any());
    EXPECT_NO_THROW(b_.Close());
    // The other end keeps working; what it sends is lost with the unplugged side.
    ASSERT_EQ(a_.Write(buf, sizeof buf, 1000), TWriteResult::Complete);
    EXPECT_TRUE(WaitUntil([&] { return cable_.Counters(TNullModemSide::A).Dropped == sizeof buf; }));
}

TEST_F(PosixSerialDevice, AWriteThatCannotLeaveTimesOut) {
    ConfigureBoth(TLineSettings{});
    EXPECT_EQ(a_.Write(nullptr, 0, 0), TWriteResult::Complete);
    // B never reads, so every buffer on the way fills up and the write stalls.
    const Bytes big(1 << 20, 0x55);
    EXPECT_EQ(a_.Write(big.data(), big.size(), 300), TWriteResult::TimedOut);
    EXPECT_EQ(a_.LastError(), 0);
    // The aborted output was cleared: a small frame fits again.
    const Bytes frame = {1, 2};
    EXPECT_EQ(a_.Write(frame.data(), frame.size(), 1000), TWriteResult::Complete);
}

TEST_F(PosixSerialDevice, PurgeDiscardsWaitingInput) {
    ConfigureBoth(TLineSettings{});
    const Bytes frame = {1, 2, 3, 4, 5};
    ASSERT_EQ(a_.Write(frame.data(), frame.size(), 1000), TWriteResult::Complete);
    ASSERT_TRUE(WaitUntil([&] { return b_.BytesWaiting() == 5; }));
    EXPECT_TRUE(b_.Purge(true, true));
    EXPECT_EQ(b_.BytesWaiting(), 0);
    EXPECT_TRUE(b_.Purge(false, false));
    const Bytes next = {6, 7};
    ASSERT_EQ(a_.Write(next.data(), next.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(ReadBytes(b_, 2), next);
}

TEST_F(PosixSerialDevice, ReopensAfterClose) {
    ConfigureBoth(TLineSettings{});
    b_.Close();
    EXPECT_FALSE(b_.IsOpen());
    b_.Open(cable_.PortB());
    b_.Configure(TLineSettings{});
    ASSERT_EQ(a_.Write(kAwkwardFrame.data(), kAwkwardFrame.size(), 1000), TWriteResult::Complete);
    EXPECT_EQ(ReadBytes(b_, kAwkwardFrame.size()), kAwkwardFrame);
}

TEST(PosixSerialDeviceClosed, EveryOperationFailsCleanly) {
    TPosixSerialDevice d;
    uint8_t buf[4] = {};
    TEvent stop(false, true);
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.WaitForData(0, &stop), TWaitResult::Failed);
    EXPECT_EQ(d.BytesWaiting(), -1);
    EXPECT_EQ(d.Read(buf, sizeof buf), -1);
    EXPECT_EQ(d.Write(buf, sizeof buf, 0), TWriteResult::Failed);
    EXPECT_FALSE(d.Purge(true, true));
    EXPECT_FALSE(d.Drain());
    EXPECT_FALSE(d.SetModemLines(true, true));
    EXPECT_FALSE(d.TakeLineErrors().Any());
    EXPECT_EQ(d.LastError(), EBADF);
    EXPECT_NO_THROW(d.Close());
}

// Configure may run on another thread while the I/O thread waits and reads.
TEST_F(PosixSerialDevice, ConfigureWhileAnotherThreadReads) {
    ConfigureBoth(TLineSettings{});
    std::atomic<bool> done{false};
    std::thread configurer([&] {
        const TLineSettings variants[] = {TLineSettings{}, TLineSettings{9600, 8, TParityMode::None, false, 1},
                                          TLineSettings{12345, 7, TParityMode::Odd, true, 2}};
        for (int i = 0; !done.load(); ++i) {
            b_.Configure(variants[i % 3]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    Bytes sent;
    for (int i = 0; i < 50; ++i) {
        const Bytes frame = {static_cast<uint8_t>(i), 0xFF, 0x00};
        sent.insert(sent.end(), frame.begin(), frame.end());
        ASSERT_EQ(a_.Write(frame.data(), frame.size(), 1000), TWriteResult::Complete);
    }
    const Bytes got = ReadBytes(b_, sent.size());
    done = true;
    configurer.join();
    EXPECT_EQ(got, sent);
}
