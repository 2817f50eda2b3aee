#pragma once
// The thread that does all traffic on an open connection's port.
//
// Client mode: takes queued transactions one at a time, sends each request, waits for and
// classifies the reply with retries, and posts the finished transaction to the connection's
// window. Server mode: listens for requests, lets the bound servers build the reply on the
// main thread (Synchronize), and sends it.
//
// Created and destroyed by the connection on the main thread. Destruction waits for the
// transaction in progress (client) or ends the wait for a request at once (server), then frees
// every transaction still queued without an event.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/message_window.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "quelvan/frame_codec.h"
#include "quelvan/transaction.h"

namespace quelvan {

class TModbusConnection;
class TSerialPortDriver;

class TTransactionThread : public platform::TThread {
public:
    // Starts the thread at the connection's ThreadPriority.
    TTransactionThread(TModbusConnection& Connection, TSerialPortDriver& Driver);
    ~TTransactionThread() override;

    // Main thread.
    void Enqueue(std::unique_ptr<TModbusTransaction> Transaction);
    // Queued transactions (not the one in progress); with an address, those sent to it.
    int CountQueued(std::optional<uint8_t> ServerAddress);
    // Frees queued transactions without an event: all first to last, or, for an address,
    // those sent to it from last to first.
    void DiscardQueued(std::optional<uint8_t> ServerAddress);

protected:
    void Execute() override;
    // Shows the exception being handled on the main thread; EAbort stays silent.
    virtual void HandleException();

private:
    std::unique_ptr<TModbusTransaction> Dequeue();
    void ClientLoop();
    void ProcessTransaction(std::unique_ptr<TModbusTransaction> T);
    void ReceiveReply(TModbusTransaction& T, uint32_t& Remaining);
    bool ReceiveInto(TModbusBuffer& Buffer, uint32_t& Remaining);
    void Classify(TModbusTransaction& T);
    void ServerLoop();
    void DispatchRequest(TModbusTransaction& T);
    void PostFrame(const uint8_t* Data, int32_t Count, bool Sent);
    void CallMainThread(const std::function<void()>& Method);
    void CheckDevice();

    TModbusConnection& connection_;
    TSerialPortDriver& driver_;
    const TFrameCodec codec_;
    const platform::TWindowHandle window_;
    const int32_t rawFrameSize_;

    std::mutex queueMutex_;
    std::deque<std::unique_ptr<TModbusTransaction>> queue_;
    platform::TEvent queueEvent_{false, false};

    std::vector<uint8_t> receiveBuffer_, sendBuffer_;
    bool deviceFailureReported_ = false;
};

}  // namespace quelvan
