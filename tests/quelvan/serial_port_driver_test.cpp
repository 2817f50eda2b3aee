// Receiving frames from the port: RTU frames end at a silent gap, ASCII frames are scanned
// for ':' ... CR LF; both across any split into chunks, with line errors and budgets.

#include <gtest/gtest.h>

#include <thread>

#include "platform/fake_serial_device.h"
#include "quelvan/serial_port_driver.h"
#include "support/frames.h"

namespace quelvan {
namespace {

using platform::TFakeSerialDevice;
using platform::TFakeSerialLine;
using test::Bytes;

class DriverTest : public ::testing::Test {
protected:
    void Make(TTransmissionMode Mode, TConnectionMode Role = cmClient) {
        device.Open("/dev/fake");
        driver = std::make_unique<TSerialPortDriver>(device, stop, Mode, Role, [] { return 20u; });
    }
    Bytes Receive(uint32_t Budget = 1000) {
        uint32_t remaining = Budget;
        Bytes dest(600);
        const int32_t n = driver->ReceiveFrame(dest.data(), 513, remaining);
        dest.resize(static_cast<size_t>(n));
        return dest;
    }

    std::shared_ptr<TFakeSerialLine> line = std::make_shared<TFakeSerialLine>();
    TFakeSerialDevice device{line};
    platform::TEvent stop{false, false};
    std::unique_ptr<TSerialPortDriver> driver;
};

// Every way of splitting a frame into two chunks that arrive within the gap gives the frame.
TEST_F(DriverTest, RtuFrameSplitAtEveryOffsetIsReassembled) {
    Make(tmRTU);
    const Bytes frame = test::Rtu({0x01, 0x03, 0x04, 0x00, 0x0A, 0x01, 0x02});
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        line->QueueReceive(Bytes(frame.begin(), frame.begin() + cut));
        line->QueueReceive(Bytes(frame.begin() + cut, frame.end()), 2);
        EXPECT_EQ(Receive(), frame) << "cut at " << cut;
    }
}

TEST_F(DriverTest, RtuFramesAreSeparatedBySilence) {
    Make(tmRTU);
    const Bytes first = test::Rtu({0x01, 0x05, 0x00, 0x01, 0xFF, 0x00});
    const Bytes second = test::Rtu({0x02, 0x06, 0x00, 0x01, 0x12, 0x34});
    line->QueueReceive(first);
    line->QueueReceive(second, 80);  // well beyond the 20 ms gap
    EXPECT_EQ(Receive(), first);
    EXPECT_EQ(Receive(), second);
}

TEST_F(DriverTest, RtuLineErrorInALaterChunkDropsTheFrame) {
    Make(tmRTU);
    line->QueueReceive({0x01, 0x03, 0x02});
    line->QueueReceive({0x00, 0x0A}, 2, platform::TLineErrors{1, 0, 0, 0});
    EXPECT_TRUE(Receive().empty());
}

// More bytes than fit are dropped and discarded, so they cannot fail the next receive too.
TEST_F(DriverTest, OverlongInputIsDiscarded) {
    Make(tmRTU);
    line->QueueReceive(Bytes(700, 0x55));
    EXPECT_TRUE(Receive().empty());
    EXPECT_EQ(line->PendingReceive(), 0u);
}

TEST_F(DriverTest, ClientBudgetRunsOutWithoutData) {
    Make(tmRTU);
    uint32_t remaining = 60;
    Bytes dest(256);
    EXPECT_EQ(driver->ReceiveFrame(dest.data(), 256, remaining), 0);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(driver->ReceiveFrame(dest.data(), 256, remaining), 0);  // nothing left to spend
}

TEST_F(DriverTest, AsciiJunkBeforeTheColonIsDropped) {
    Make(tmASCII);
    line->QueueReceive({'x', 'x', ':', '0', '1', '0', '3', '\r', '\n'});
    EXPECT_EQ(Receive(), (Bytes{':', '0', '1', '0', '3', '\r', '\n'}));
}

TEST_F(DriverTest, AsciiFrameSplitAtEveryOffsetIsReassembled) {
    Make(tmASCII);
    const Bytes frame = test::Ascii({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        line->QueueReceive(Bytes(frame.begin(), frame.begin() + cut));
        line->QueueReceive(Bytes(frame.begin() + cut, frame.end()), 2);
        EXPECT_EQ(Receive(), frame) << "cut at " << cut;
    }
}

// A frame abandoned inside the chunk that started it: keep waiting for the next ':'.
TEST_F(DriverTest, AsciiFrameAbandonedWithinAChunkKeepsWaiting) {
    Make(tmASCII);
    const Bytes good = test::Ascii({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    line->QueueReceive({':', '0', '1', '\r', 'x'});
    line->QueueReceive(good, 5);
    EXPECT_EQ(Receive(), good);
}

// A frame abandoned in a later chunk ends the receive at once.
TEST_F(DriverTest, AsciiFrameAbandonedAcrossChunksEndsTheReceive) {
    Make(tmASCII);
    const Bytes good = test::Ascii({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    line->QueueReceive({':', '0', '1', '\r'});
    line->QueueReceive({'x'}, 2);
    line->QueueReceive(good, 50);
    EXPECT_TRUE(Receive().empty());
    EXPECT_GT(line->PendingReceive(), 0u);  // the good frame is left for the next receive
    EXPECT_EQ(Receive(), good);
}

// Two frames in one read: the second is kept for the next receive, unless the input is
// purged in between.
TEST_F(DriverTest, AsciiBytesAfterTheLineFeedStartTheNextReceive) {
    Make(tmASCII);
    const Bytes first = test::Ascii({0x01, 0x03, 0x00}), second = test::Ascii({0x01, 0x03, 0x02, 0x00, 0x07});
    Bytes chunk = first;
    chunk.insert(chunk.end(), second.begin(), second.end());
    line->QueueReceive(chunk);
    EXPECT_EQ(Receive(), first);
    EXPECT_EQ(Receive(), second);

    line->QueueReceive(chunk);
    EXPECT_EQ(Receive(), first);
    driver->PurgePort(true, false);
    EXPECT_TRUE(Receive(60).empty());
}

TEST_F(DriverTest, AsciiGapInsideAFrameLongerThanTheSilentIntervalDropsIt) {
    Make(tmASCII);
    line->QueueReceive({':', '0', '1'});
    line->QueueReceive({'0', '3', '\r', '\n'}, 100);
    EXPECT_TRUE(Receive().empty());
}

TEST_F(DriverTest, UnboundedServerWaitEndsWhenStopped) {
    Make(tmRTU, cmServer);
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stop.SetEvent();
    });
    uint32_t remaining = platform::INFINITE_WAIT;
    Bytes dest(256);
    EXPECT_EQ(driver->ReceiveFrame(dest.data(), 256, remaining), 0);
    EXPECT_EQ(remaining, 0u);
    stopper.join();
}

TEST_F(DriverTest, AVanishedDeviceFailsEveryOperationAtOnce) {
    Make(tmRTU, cmServer);
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        line->Vanish();
    });
    uint32_t remaining = platform::INFINITE_WAIT;
    Bytes dest(256);
    EXPECT_EQ(driver->ReceiveFrame(dest.data(), 256, remaining), 0);
    unplug.join();
    EXPECT_TRUE(driver->DeviceFailed());
    remaining = platform::INFINITE_WAIT;
    EXPECT_EQ(driver->ReceiveFrame(dest.data(), 256, remaining), 0);
    EXPECT_FALSE(driver->SendFrame(dest.data(), 4, 100));
}

TEST_F(DriverTest, SendFrameReportsTimeOutsAndLineErrors) {
    Make(tmRTU);
    const Bytes frame = test::Rtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_TRUE(driver->SendFrame(frame.data(), static_cast<int32_t>(frame.size()), 100));
    line->TimeOutWrites(1);
    EXPECT_FALSE(driver->SendFrame(frame.data(), static_cast<int32_t>(frame.size()), 100));
    EXPECT_TRUE(driver->SendFrame(frame.data(), 0, 100));  // an empty write succeeds
    ASSERT_EQ(line->Writes().size(), 3u);
    EXPECT_EQ(line->Writes()[0].Data, frame);
}

}  // namespace
}  // namespace quelvan
