#include "quelvan/transaction_thread.h"

#include "platform/application.h"
#include "platform/exceptions.h"
#include "quelvan/connection_messages.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "quelvan/serial_port_driver.h"

namespace quelvan {

using platform::INFINITE_WAIT;

TTransactionThread::TTransactionThread(TModbusConnection& Connection, TSerialPortDriver& Driver)
    : connection_(Connection),
      driver_(Driver),
      codec_(Connection.TransmissionMode(), Connection.ConnectionMode()),
      window_(Connection.window_->Handle()),
      rawFrameSize_(Connection.MaxRawFrameSize()),
      receiveBuffer_(static_cast<size_t>(rawFrameSize_)),
      sendBuffer_(static_cast<size_t>(rawFrameSize_)) {
    SetPriority(Connection.ThreadPriority());
    Start();
}

TTransactionThread::~TTransactionThread() {
    Terminate();
    // The stop event ends an unbounded wait for a request (server) or for a reply (client with
    // an unbounded ReceiveTimeout); the queue event wakes an idle client loop.
    connection_.stopEvent_.SetEvent();
    queueEvent_.SetEvent();
    Yield();
    WaitFor();
    DiscardQueued(std::nullopt);
}

// Queue --------------------------------------------------------------------------------------

void TTransactionThread::Enqueue(std::unique_ptr<TModbusTransaction> Transaction) {
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        wasEmpty = queue_.empty();
        queue_.push_back(std::move(Transaction));
    }
    // The loop waits only after it found the queue empty, and takes transactions until it
    // does: behind a queued one, this one is taken without a signal (which costs a system
    // call per request when many are queued at once).
    if (wasEmpty) queueEvent_.SetEvent();
}

std::unique_ptr<TModbusTransaction> TTransactionThread::Dequeue() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (queue_.empty()) return nullptr;
    auto t = std::move(queue_.front());
    queue_.pop_front();
    return t;
}

int TTransactionThread::CountQueued(std::optional<uint8_t> ServerAddress) {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!ServerAddress) return static_cast<int>(queue_.size());
    int n = 0;
    for (const auto& t : queue_)
        if (t->Info().ServerAddress == *ServerAddress) ++n;
    return n;
}

void TTransactionThread::DiscardQueued(std::optional<uint8_t> ServerAddress) {
    // Freed outside the lock: a transaction's destructor must not hold up the thread.
    std::deque<std::unique_ptr<TModbusTransaction>> discarded;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!ServerAddress) {
            discarded.swap(queue_);
        } else {
            for (auto it = queue_.end(); it != queue_.begin();) {
                --it;
                if ((*it)->Info().ServerAddress == *ServerAddress) {
                    discarded.push_back(std::move(*it));
                    it = queue_.erase(it);
                }
            }
        }
    }
}

// Thread body --------------------------------------------------------------------------------

void TTransactionThread::Execute() {
    // Every RTU frame ends with a timed wait; slack on it would be latency on every frame.
    platform::UsePreciseTimers();
    try {
        if (codec_.ConnectionMode() == cmServer) ServerLoop();
        else ClientLoop();
    } catch (...) {
        HandleException();
    }
}

void TTransactionThread::HandleException() {
    std::exception_ptr e = std::current_exception();
    try {
        std::rethrow_exception(e);
    } catch (const platform::EAbort&) {
        return;
    } catch (...) {
    }
    CallMainThread([e] { platform::Application().HandleException(e); });
}

// While Method runs, the connection knows that this thread cannot be joined (a handler that
// closes the connection gets its close once Method has returned).
void TTransactionThread::CallMainThread(const std::function<void()>& Method) {
    platform::Synchronize([this, &Method] {
        connection_.BeginThreadCall();
        struct EndCall {
            TModbusConnection& Connection;
            ~EndCall() { Connection.EndThreadCall(); }
        } endCall{connection_};
        Method();
    });
}

void TTransactionThread::PostFrame(const uint8_t* Data, int32_t Count, bool Sent) {
    const bool wanted = Sent ? connection_.OnFrameSend.IsAssigned()
                             : connection_.OnFrameReceive.IsAssigned();
    if (wanted) PostFrameData(window_, Data, Count, Sent);
}

// A vanished device (an unplugged adapter) is reported once; every later attempt fails at
// once without touching the line, until the connection is closed and opened again.
void TTransactionThread::CheckDevice() {
    if (!driver_.DeviceFailed() || deviceFailureReported_) return;
    deviceFailureReported_ = true;
    try {
        platform::RaiseOSError(driver_.DeviceError(), "Serial port " + connection_.Port() + " failed");
    } catch (...) {
        HandleException();
    }
}

// Client -------------------------------------------------------------------------------------

void TTransactionThread::ClientLoop() {
    driver_.PrepareLine([this] { return Terminated(); });
    while (!Terminated()) {
        queueEvent_.WaitFor(INFINITE_WAIT);
        while (!Terminated()) {
            std::unique_ptr<TModbusTransaction> t = Dequeue();
            if (!t) break;
            try {
                ProcessTransaction(std::move(t));
            } catch (...) {
                HandleException();
            }
        }
    }
}

void TTransactionThread::ProcessTransaction(std::unique_ptr<TModbusTransaction> T) {
    TTransactionInfo& info = T->Info();
    info.Attempts = 0;
    const int32_t length = codec_.EncodeFrame(T->RequestBuffer(), sendBuffer_.data(), rawFrameSize_);
    for (;;) {
        info.Reply = rkNoReply;
        ++info.Attempts;
        PostFrame(sendBuffer_.data(), length, true);
        driver_.PurgePort(true, true);
        const bool sent = driver_.SendFrame(sendBuffer_.data(), length, connection_.SendTimeout());
        if (sent && info.ServerAddress == 0) {
            platform::TThread::Sleep(connection_.TurnaroundDelay());
            info.Reply = rkNormalReply;
        } else if (sent) {
            uint32_t remaining = connection_.ReceiveTimeout();
            do {
                ReceiveReply(*T, remaining);
            } while (info.Reply == rkUnmatchedReply && remaining > 0);
        }
        CheckDevice();
        platform::TThread::Sleep(connection_.RefetchDelay());
        if (info.Reply == rkExceptionReply || info.Reply == rkNormalReply) break;
        // A vanished device fails every attempt at once: more attempts would only spin the
        // CPU, and keep a closing connection waiting, until MaxRetries are used up.
        if (driver_.DeviceFailed()) break;
        if (info.Attempts >= connection_.MaxRetries()) break;
    }
    if (info.ServerAddress != 0) PostTransactionDone(window_, std::move(T));
}

// Receives one frame into Buffer; false when nothing usable arrived. A malformed ASCII frame
// (noise between ':' and CR LF) counts as no frame, like one with a bad checksum, instead of
// ending the transaction without an outcome.
bool TTransactionThread::ReceiveInto(TModbusBuffer& Buffer, uint32_t& Remaining) {
    const int32_t n = driver_.ReceiveFrame(receiveBuffer_.data(), rawFrameSize_, Remaining);
    // A server's wait ended by closing received nothing worth reporting.
    if (!(Terminated() && codec_.ConnectionMode() == cmServer)) PostFrame(receiveBuffer_.data(), n, false);
    try {
        codec_.DecodeFrame(receiveBuffer_.data(), Buffer, n);
    } catch (const platform::EAssertionFailed&) {
        Buffer.SetSize(0);
        return false;
    }
    return Buffer.Size() > 0;
}

void TTransactionThread::ReceiveReply(TModbusTransaction& T, uint32_t& Remaining) {
    TModbusBuffer& reply = T.ReplyBuffer();
    ReceiveInto(reply, Remaining);
    if (connection_.EchoQueryBeforeReply() && codec_.IsEchoOfRequest(T.RequestBuffer(), reply)) {
        if (reply.Size() == T.RequestBuffer().Size()) {
            // Only the echo so far: the reply is the next frame.
            ReceiveInto(reply, Remaining);
        } else {
            // Echo and reply arrived as one block: keep the reply.
            reply.SetPosition(T.RequestBuffer().Size());
            reply.Compact();
        }
    }
    Classify(T);
}

void TTransactionThread::Classify(TModbusTransaction& T) {
    TTransactionInfo& info = T.Info();
    if (!codec_.IsFrameValid(T.ReplyBuffer())) {
        info.Reply = rkNoReply;
    } else if (!codec_.ReplyMatchesRequest(T.RequestBuffer(), T.ReplyBuffer())) {
        info.Reply = rkUnmatchedReply;
    } else if (codec_.IsExceptionReply(T.ReplyBuffer())) {
        info.Reply = rkExceptionReply;
        codec_.ReadExceptionCode(T.ReplyBuffer(), info.ExceptionCode, info.RawExceptionCode);
    } else {
        info.Reply = rkNormalReply;
    }
}

// Server -------------------------------------------------------------------------------------

void TTransactionThread::ServerLoop() {
    auto t = std::make_unique<TModbusTransaction>(connection_.MaxFrameSize());
    driver_.PrepareLine([this] { return Terminated(); });
    while (!Terminated()) {
        try {
            if (driver_.DeviceFailed()) {
                CheckDevice();
                // Nothing can arrive any more: sleep until the connection closes.
                connection_.stopEvent_.WaitFor(INFINITE_WAIT);
                continue;
            }
            uint32_t remaining = INFINITE_WAIT;
            const bool got = ReceiveInto(t->RequestBuffer(), remaining);
            if (Terminated() || !got || !codec_.IsFrameValid(t->RequestBuffer())) continue;
            t->Info().ServerAddress = codec_.PeekAddress(t->RequestBuffer());
            t->ReplyBuffer().SetSize(0);
            CallMainThread([this, &t] { DispatchRequest(*t); });
            if (Terminated()) continue;  // closed by a handler: the request gets no reply
            if (t->Info().ServerAddress == 0) continue;  // a broadcast is never answered
            const int32_t length = codec_.EncodeFrame(t->ReplyBuffer(), sendBuffer_.data(), rawFrameSize_);
            PostFrame(sendBuffer_.data(), length, true);
            driver_.PurgePort(true, true);
            driver_.SendFrame(sendBuffer_.data(), length, connection_.SendTimeout());
        } catch (...) {
            HandleException();
        }
    }
}

// Main thread, while this thread waits in Synchronize.
void TTransactionThread::DispatchRequest(TModbusTransaction& T) {
    // A connection being destroyed has already told its servers it is gone.
    if (connection_.IsDestroying()) return;
    const uint8_t address = T.Info().ServerAddress;
    if (address != 0) {
        if (TModbusServer* server = connection_.FindServer(address)) server->ProcessRequest(T);
        return;
    }
    // Every bound server serves a broadcast. Each starts from an empty reply buffer, so the
    // (never sent) replies of several servers to a broadcast read cannot overrun it. A copy of
    // the list: a handler may bind or unbind servers meanwhile.
    const std::vector<TModbusServer*> servers = connection_.Servers();
    for (TModbusServer* server : servers) {
        T.ReplyBuffer().SetSize(0);
        server->ProcessRequest(T);
    }
}

}  // namespace quelvan
