#include "quelvan/modbus_connection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/application.h"
#include "platform/posix_serial_device.h"
#include "quelvan/connection_messages.h"
#include "quelvan/errors.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_server.h"
#include "quelvan/serial_port_driver.h"
#include "quelvan/transaction_thread.h"

namespace quelvan {


TModbusConnection::TModbusConnection(platform::TComponent* Owner) : TComponent(Owner) {
    window_ = std::make_unique<platform::TMessageWindow>(
        [this](platform::TMessage& Message) { WindowProc(Message); });
}

TModbusConnection::~TModbusConnection() {
    if (threadCallDepth_ > 0) {
        // The thread is blocked until the call this destructor runs in returns, and then
        // needs this object: there is no way on that does not hang or use freed memory.
        std::fputs("quelvan: a connection was destroyed inside one of its own server handlers or "
                   "error displays; close it there and destroy it afterwards\n",
                   stderr);
        std::abort();
    }
    Destroying();
    try {
        Close();
    } catch (...) {
        // A handler of OnBeforeClose/OnAfterClose failed; the port must still be released.
        platform::Application().HandleException();
        try {
            ClosePort();
        } catch (...) {
            platform::Application().HandleException();
        }
    }
    // Releases whatever the thread posted and nobody delivered.
    window_.reset();
}

// Active -------------------------------------------------------------------------------------

void TModbusConnection::SetActive(bool Value) {
    if (IsLoading()) {
        streamedActive_ = Value;
        return;
    }
    if (deferredActive_) {
        deferredActive_ = Value;  // a close is under way; the last wish holds after it
        return;
    }
    if (Value == active_) return;
    if (IsDesigning()) {
        active_ = Value;
        return;
    }
    if (Value) {
        DoBeforeOpen();
        OpenPort();
        // The port is open from here on: Active must say so even when OnAfterOpen raises,
        // or a later Open would try to open it a second time.
        struct SetOnExit {
            bool& Flag;
            ~SetOnExit() { Flag = true; }
        } setActive{active_};
        DoAfterOpen();
    } else {
        if (threadCallDepth_ > 0) {
            // Joining the thread now would wait for ourselves: stop it taking anything more,
            // and close once the call it waits for has returned.
            deferredActive_ = false;
            if (thread_) thread_->Terminate();
            return;
        }
        DoBeforeClose();
        ClosePort();
        // A handler that ran while the thread was being joined may have asked to close
        // (or reopen) later; this close has settled it.
        deferredActive_.reset();
        struct ClearOnExit {
            bool& Flag;
            ~ClearOnExit() { Flag = false; }
        } clearActive{active_};
        DoAfterClose();
    }
}

void TModbusConnection::Loaded() {
    TComponent::Loaded();
    try {
        SetActive(streamedActive_);
    } catch (...) {
        platform::Application().HandleException();
    }
}

void TModbusConnection::OpenPort() {
    device_ = deviceFactory_ ? deviceFactory_() : std::make_unique<platform::TPosixSerialDevice>();
    try {
        device_->Open(port_);
    } catch (const platform::Exception&) {
        device_.reset();
        RaiseErrorWithCause(msgOpenPort);
    }
    try {
        // Driver queue sizes, time-outs and event masks have no counterpart here: reads never
        // block and waits are explicit, so opening goes straight to the line settings.
        ApplyLineSettings();
        UpdateSilentInterval();
        stopEvent_.ResetEvent();
        driver_ = std::make_unique<TSerialPortDriver>(
            *device_, stopEvent_, transmissionMode_, connectionMode_,
            [this] { return SilentIntervalMs(); });
        thread_ = std::make_unique<TTransactionThread>(*this, *driver_);
    } catch (...) {
        ClosePort();
        throw;
    }
}

void TModbusConnection::ClosePort() {
    thread_.reset();  // stops and waits for the thread, frees what is still queued
    driver_.reset();
    if (device_) {
        device_->Close();
        device_.reset();
    }
}

void TModbusConnection::ApplyLineSettings() {
    if (!device_) return;
    const platform::TLineSettings settings = MakeLineSettings(line_);
    if (settings.BaudRate == 0) RaiseError(msgUpdateDCB);
    try {
        device_->Configure(settings);
    } catch (const platform::Exception&) {
        RaiseErrorWithCause(msgUpdateDCB);
    }
}

void TModbusConnection::UpdateSilentInterval() {
    const uint32_t ms = SilentIntervalMilliseconds(transmissionMode_, silentInterval_, line_);
    lock_.BeginWrite();
    silentIntervalMs_ = ms;
    lock_.EndWrite();
}

uint32_t TModbusConnection::SilentIntervalMs() const { return GetLocked(silentIntervalMs_); }

void TModbusConnection::LineSettingChanged() {
    if (!IsLive()) return;
    ApplyLineSettings();
    UpdateSilentInterval();
}

// Properties ---------------------------------------------------------------------------------

void TModbusConnection::CheckActive() const {
    if (!IsLive()) RaiseError(msgConnectionInactive);
}

void TModbusConnection::CheckInactive() const {
    if (IsLive()) RaiseError(msgConnectionActive);
}

void TModbusConnection::SetBaudRate(TBaudRate Value) {
    if (Value > brCustom) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(brCustom)});
    line_.BaudRate = Value;
    LineSettingChanged();
}

void TModbusConnection::SetCustomBaudRate(uint32_t Value) {
    line_.CustomBaudRate = Value;
    line_.BaudRate = brCustom;
    LineSettingChanged();
}

void TModbusConnection::SetDataBits(TDataBits Value) {
    if (Value > db8) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(db8)});
    line_.DataBits = Value;
    LineSettingChanged();
}

void TModbusConnection::SetParity(TParityScheme Value) {
    if (Value > psEven) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(psEven)});
    line_.Parity = Value;
    LineSettingChanged();
}

void TModbusConnection::SetStopBits(TStopBits Value) {
    if (Value > sb2) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(sb2)});
    line_.StopBits = Value;
    LineSettingChanged();
}

void TModbusConnection::SetSilentInterval(uint32_t Value) {
    silentInterval_ = Value;
    if (IsLive()) UpdateSilentInterval();
}

void TModbusConnection::SetConnectionMode(TConnectionMode Value) {
    if (Value == connectionMode_) return;
    CheckInactive();
    if (Value > cmServer) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(cmServer)});
    connectionMode_ = Value;
    codec_ = TFrameCodec(transmissionMode_, connectionMode_);
}

void TModbusConnection::SetTransmissionMode(TTransmissionMode Value) {
    if (Value == transmissionMode_) return;
    CheckInactive();
    if (Value > tmASCII) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(tmASCII)});
    transmissionMode_ = Value;
    codec_ = TFrameCodec(transmissionMode_, connectionMode_);
}

void TModbusConnection::SetDTREnabled(bool Value) {
    if (Value == line_.DTREnabled) return;
    CheckInactive();
    line_.DTREnabled = Value;
}

void TModbusConnection::SetRTSEnabled(bool Value) {
    if (Value == line_.RTSEnabled) return;
    CheckInactive();
    line_.RTSEnabled = Value;
}

void TModbusConnection::SetFlowControl(TFlowControl Value) {
    if (Value == line_.FlowControl) return;
    CheckInactive();
    if (Value > fcDtrDsr) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(fcDtrDsr)});
    line_.FlowControl = Value;
}

void TModbusConnection::SetPort(const TSerialPort& Value) {
    if (Value == port_) return;
    CheckInactive();
    port_ = Value;
}

void TModbusConnection::SetEchoQueryBeforeReply(bool Value) {
    lock_.BeginWrite();
    echoQueryBeforeReply_.store(Value);
    lock_.EndWrite();
}

void TModbusConnection::SetThreadPriority(TThreadPriority Value) {
    if (Value > tpTimeCritical) RaiseErrorFmt(msgValueRange, {0, static_cast<int>(tpTimeCritical)});
    threadPriority_ = Value;
    if (thread_) thread_->SetPriority(Value);
}

void TModbusConnection::SetLocked(uint32_t& Field, uint32_t Value) {
    lock_.BeginWrite();
    Field = Value;
    lock_.EndWrite();
}

uint32_t TModbusConnection::GetLocked(const uint32_t& Field) const {
    lock_.BeginRead();
    const uint32_t v = Field;
    lock_.EndRead();
    return v;
}

TMaxRetries TModbusConnection::MaxRetries() const { return GetLocked(maxRetries_); }
void TModbusConnection::SetMaxRetries(TMaxRetries Value) {
    if (Value == 0) RaiseErrorFmt(msgValueRange, {int64_t{1}, int64_t{4294967295}});
    SetLocked(maxRetries_, Value);
}
uint32_t TModbusConnection::ReceiveTimeout() const { return GetLocked(receiveTimeout_); }
void TModbusConnection::SetReceiveTimeout(uint32_t Value) { SetLocked(receiveTimeout_, Value); }
uint32_t TModbusConnection::RefetchDelay() const { return GetLocked(refetchDelay_); }
void TModbusConnection::SetRefetchDelay(uint32_t Value) { SetLocked(refetchDelay_, Value); }
uint32_t TModbusConnection::SendTimeout() const { return GetLocked(sendTimeout_); }
void TModbusConnection::SetSendTimeout(uint32_t Value) { SetLocked(sendTimeout_, Value); }
uint32_t TModbusConnection::TurnaroundDelay() const { return GetLocked(turnaroundDelay_); }
void TModbusConnection::SetTurnaroundDelay(uint32_t Value) { SetLocked(turnaroundDelay_, Value); }

void TModbusConnection::SetSerialDeviceFactory(platform::TSerialDeviceFactory Factory) {
    deviceFactory_ = std::move(Factory);
}

// Events -------------------------------------------------------------------------------------

void TModbusConnection::DoAfterClose() { if (OnAfterClose) OnAfterClose(*this); }
void TModbusConnection::DoAfterOpen() { if (OnAfterOpen) OnAfterOpen(*this); }
void TModbusConnection::DoBeforeClose() { if (OnBeforeClose) OnBeforeClose(*this); }
void TModbusConnection::DoBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(*this); }
void TModbusConnection::DoFrameReceive(const TFrameData& Data) {
    if (OnFrameReceive) OnFrameReceive(*this, Data);
}
void TModbusConnection::DoFrameSend(const TFrameData& Data) {
    if (OnFrameSend) OnFrameSend(*this, Data);
}

// Frames and transactions --------------------------------------------------------------------

void TModbusConnection::WriteRequestAddress(const TModbusClient* Client, TModbusBuffer& Buffer) const {
    codec_.WriteAddress(Client ? Client->ServerAddress() : 0, Buffer);
}

void TModbusConnection::WriteReplyAddress(const TModbusServer& Server, TModbusBuffer& Buffer) const {
    codec_.WriteAddress(Server.Address(), Buffer);
}

void TModbusConnection::QueueTransaction(std::unique_ptr<TModbusTransaction> Transaction) {
    CheckActive();
    thread_->Enqueue(std::move(Transaction));
}

int TModbusConnection::GetPendingTransactionCount(const TModbusClient* Client) {
    if (!IsLive() || !thread_) return 0;
    return thread_->CountQueued(Client ? std::optional<uint8_t>(Client->ServerAddress()) : std::nullopt);
}

void TModbusConnection::DiscardPendingTransactions(const TModbusClient* Client) {
    if (!IsLive() || !thread_ || connectionMode_ != cmClient) return;
    thread_->DiscardQueued(Client ? std::optional<uint8_t>(Client->ServerAddress()) : std::nullopt);
}

// Bound components ---------------------------------------------------------------------------

namespace {
template <typename T>
void AddUnique(std::vector<T*>& List, T* Item) {
    if (Item && std::find(List.begin(), List.end(), Item) == List.end()) List.push_back(Item);
}
template <typename T>
void RemoveItem(std::vector<T*>& List, T* Item) {
    if (Item) List.erase(std::remove(List.begin(), List.end(), Item), List.end());
}
}  // namespace

void TModbusConnection::Notification(platform::TComponent* AComponent, platform::TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != platform::opRemove) return;
    // Pointers are only compared: the component may be no more than its TComponent part.
    std::erase_if(clients_, [AComponent](TModbusClient* c) { return static_cast<TComponent*>(c) == AComponent; });
    std::erase_if(servers_, [AComponent](TModbusServer* s) { return static_cast<TComponent*>(s) == AComponent; });
}

void TModbusConnection::AddClient(TModbusClient* Client) { AddUnique(clients_, Client); }
void TModbusConnection::RemoveClient(TModbusClient* Client) { RemoveItem(clients_, Client); }
void TModbusConnection::AddServer(TModbusServer* Server) { AddUnique(servers_, Server); }
void TModbusConnection::RemoveServer(TModbusServer* Server) { RemoveItem(servers_, Server); }

TModbusClient* TModbusConnection::FindClient(uint8_t Address) const {
    for (TModbusClient* c : clients_)
        if (c->ServerAddress() == Address) return c;
    return nullptr;
}

TModbusServer* TModbusConnection::FindServer(uint8_t Address) const {
    for (TModbusServer* s : servers_)
        if (s->Address() == Address) return s;
    return nullptr;
}

// Delivery on the main thread ----------------------------------------------------------------

void TModbusConnection::WindowProc(platform::TMessage& Message) {
    if (Message.Msg == WM_TRANSACTIONDONE) {
        auto* p = dynamic_cast<TTransactionPayload*>(Message.Payload.get());
        if (p && p->Transaction) DeliverTransaction(std::move(p->Transaction));
    } else if (Message.Msg == WM_FRAMEDATA) {
        auto* p = dynamic_cast<TFrameDataPayload*>(Message.Payload.get());
        if (!p) return;
        if (Message.WParam != 0) DoFrameSend(p->Data);
        else DoFrameReceive(p->Data);
    } else if (Message.Msg == WM_DEFERREDCLOSE) {
        FinishDeferredClose();
    }
}

void TModbusConnection::EndThreadCall() {
    // Posted, not done here: the thread is still blocked until this call returns.
    if (--threadCallDepth_ == 0 && deferredActive_)
        platform::PostMessage(window_->Handle(), WM_DEFERREDCLOSE, 0, nullptr);
}

void TModbusConnection::FinishDeferredClose() {
    if (!deferredActive_ || threadCallDepth_ > 0) return;
    const bool reopen = *deferredActive_;
    deferredActive_.reset();
    if (active_) SetActive(false);
    if (reopen) SetActive(true);
}

void TModbusConnection::DeliverTransaction(std::unique_ptr<TModbusTransaction> Transaction) {
    TModbusClient* client = FindClient(Transaction->Info().ServerAddress);
    if (client && !IsDestroying()) client->ProcessReply(*Transaction);
}

}  // namespace quelvan
