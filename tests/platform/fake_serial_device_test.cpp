// The scriptable fake device that tests of the transport core run on.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/exceptions.h"
#include "platform/fake_serial_device.h"
#include "platform/sync.h"
#include "serial_test_util.h"

using namespace quelvan::platform;
using quelvan::test::ElapsedMs;
using Bytes = std::vector<uint8_t>;

namespace {

class FakeSerial : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = FakeSerialDeviceFactory(line_)();
        device_->Open("COM2");
    }
    Bytes ReadAll() {
        Bytes got(64);
        const int n = device_->Read(got.data(), got.size());
        got.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return got;
    }

    std::shared_ptr<TFakeSerialLine> line_ = std::make_shared<TFakeSerialLine>();
    std::unique_ptr<ISerialDevice> device_;
};

}  // namespace

TEST_F(FakeSerial, RecordsWhatTheCodeUnderTestDoes) {
    EXPECT_EQ(device_->DevicePath(), "/dev/ttyS1");
    EXPECT_EQ(line_->LastPortName(), "COM2");
    EXPECT_TRUE(line_->IsOpen());
    TLineSettings s;
    s.BaudRate = 9600;
    device_->Configure(s);
    EXPECT_TRUE(device_->SetModemLines(true, false));
    EXPECT_TRUE(device_->Purge(true, false));
    EXPECT_TRUE(device_->Drain());
    const Bytes frame = {1, 3, 0, 0, 0, 1};
    EXPECT_EQ(device_->Write(frame.data(), frame.size(), 100), TWriteResult::Complete);
    device_->Close();
    device_->Close();

    EXPECT_EQ(line_->Configurations(), std::vector<TLineSettings>{s});
    EXPECT_EQ(line_->ModemLineChanges(), (std::vector<TFakeModemLines>{{true, false}}));
    EXPECT_EQ(line_->Purges(), (std::vector<TFakePurge>{{true, false}}));
    EXPECT_EQ(line_->Drains(), 1u);
    ASSERT_EQ(line_->Writes().size(), 1u);
    EXPECT_EQ(line_->Writes()[0].Data, frame);
    EXPECT_EQ(line_->Opens(), 1u);
    EXPECT_EQ(line_->Closes(), 1u);
    EXPECT_FALSE(line_->IsOpen());
}

TEST_F(FakeSerial, OnlyOneDeviceIsOpenOnALine) {
    TFakeSerialDevice second(line_);
    EXPECT_THROW(second.Open("COM2"), EOSError);
    EXPECT_EQ(second.LastError(), EBUSY);
    device_->Close();
    EXPECT_NO_THROW(second.Open("COM2"));
}

TEST_F(FakeSerial, ScriptedChunksArriveInOrderAtTheirTime) {
    line_->QueueReceive({1, 2}, 0);
    line_->QueueReceive({3}, 30);
    line_->QueueReceive({}, 0, TLineErrors{0, 0, 1, 0});  // a parity error with the last byte
    EXPECT_EQ(line_->PendingReceive(), 3u);
    ASSERT_EQ(device_->WaitForData(5000, nullptr), TWaitResult::Data);
    EXPECT_EQ(device_->BytesWaiting(), 2);
    EXPECT_EQ(ReadAll(), (Bytes{1, 2}));
    EXPECT_FALSE(device_->TakeLineErrors().Any());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device_->WaitForData(5000, nullptr), TWaitResult::Data);
    EXPECT_GE(ElapsedMs(start), 25);  // not before its time (a lower bound, with a margin for rounding)
    EXPECT_EQ(ReadAll(), (Bytes{3}));
    const TLineErrors e = device_->TakeLineErrors();
    EXPECT_EQ(e.Parity, 1u);
    EXPECT_FALSE(device_->TakeLineErrors().Any());
    EXPECT_EQ(device_->WaitForData(10, nullptr), TWaitResult::Timeout);
    EXPECT_EQ(line_->PendingReceive(), 0u);
}

TEST_F(FakeSerial, CapsTheBytesEachReadReturns) {
    line_->SetReadCap(2);
    line_->QueueReceive({1, 2, 3, 4, 5});
    ASSERT_EQ(device_->WaitForData(5000, nullptr), TWaitResult::Data);
    EXPECT_EQ(device_->BytesWaiting(), 5);
    EXPECT_EQ(ReadAll(), (Bytes{1, 2}));
    EXPECT_EQ(ReadAll(), (Bytes{3, 4}));
    EXPECT_EQ(ReadAll(), (Bytes{5}));
}

TEST_F(FakeSerial, FailsTheNthCallOfAnOperation) {
    line_->FailCall(TFakeOp::Read, 2, EIO);
    line_->FailCall(TFakeOp::Write, 1, ENXIO);
    line_->FailCall(TFakeOp::Configure);
    line_->QueueReceive({1, 2, 3});
    uint8_t b;
    ASSERT_EQ(device_->WaitForData(5000, nullptr), TWaitResult::Data);
    EXPECT_EQ(device_->Read(&b, 1), 1);
    EXPECT_EQ(device_->Read(&b, 1), -1);
    EXPECT_EQ(device_->LastError(), EIO);
    EXPECT_EQ(device_->Read(&b, 1), 1);
    EXPECT_EQ(device_->Write(&b, 1, 100), TWriteResult::Failed);
    EXPECT_EQ(device_->LastError(), ENXIO);
    EXPECT_EQ(device_->Write(&b, 1, 100), TWriteResult::Complete);
    EXPECT_THROW(device_->Configure(TLineSettings{}), EOSError);
    EXPECT_NO_THROW(device_->Configure(TLineSettings{}));
    EXPECT_EQ(line_->Calls(TFakeOp::Read), 3u);
}

TEST_F(FakeSerial, WritesCanTimeOutAndTriggerAReply) {
    line_->SetOnWrite([this](const Bytes& Frame) { line_->QueueReceive({Frame.rbegin(), Frame.rend()}, 5); });
    line_->TimeOutWrites(1);
    const Bytes frame = {1, 2, 3};
    EXPECT_EQ(device_->Write(frame.data(), frame.size(), 100), TWriteResult::TimedOut);
    EXPECT_EQ(device_->WaitForData(0, nullptr), TWaitResult::Timeout);  // no reply to a lost frame
    EXPECT_EQ(device_->Write(frame.data(), frame.size(), 100), TWriteResult::Complete);
    ASSERT_EQ(device_->WaitForData(5000, nullptr), TWaitResult::Data);
    EXPECT_EQ(ReadAll(), (Bytes{3, 2, 1}));
    ASSERT_TRUE(line_->WaitForWrites(2, 0));
    EXPECT_EQ(line_->Writes()[0].Result, TWriteResult::TimedOut);
    EXPECT_EQ(line_->Writes()[1].Result, TWriteResult::Complete);
}

TEST_F(FakeSerial, StopEventAndVanishingEndWaitsPromptly) {
    TEvent stop(false, false);
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.SetEvent();
    });
    EXPECT_EQ(device_->WaitForData(INFINITE_WAIT, &stop), TWaitResult::Stopped);
    t.join();

    std::thread vanish([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        line_->Vanish();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device_->WaitForData(60000, &stop), TWaitResult::Failed);
    EXPECT_LT(ElapsedMs(start), 30000);
    vanish.join();
    EXPECT_EQ(device_->WaitForData(60000, nullptr), TWaitResult::Failed);
    uint8_t b = 0;
    EXPECT_EQ(device_->Read(&b, 1), -1);
    EXPECT_EQ(device_->BytesWaiting(), -1);
    EXPECT_EQ(device_->Write(&b, 1, 10), TWriteResult::Failed);
    EXPECT_FALSE(device_->Purge(true, true));
    EXPECT_EQ(device_->LastError(), EIO);
    device_->Close();
    EXPECT_THROW(device_->Open("COM2"), EOSError);
}
