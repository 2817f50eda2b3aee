#pragma once
// TModbusConnection: one serial port, its line settings and timing, and the transaction thread
// that does all traffic on the line while the connection is open.
//
// Every public call and every event runs on the main thread (the thread that first used
// platform::Application()). Results reach the main thread as messages to the connection's
// hidden window and are delivered while the application processes messages.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/atomic_event.h"
#include "platform/component.h"
#include "platform/message_window.h"
#include "platform/serial_device.h"
#include "platform/sync.h"
#include "quelvan/connection_types.h"
#include "quelvan/frame_codec.h"
#include "quelvan/item_values.h"
#include "quelvan/line_settings.h"
#include "quelvan/modbus_buffer.h"
#include "quelvan/transaction.h"

namespace quelvan {

class TModbusClient;
class TModbusServer;
class TTransactionThread;
class TSerialPortDriver;

class TModbusConnection : public platform::TComponent {
public:
    explicit TModbusConnection(platform::TComponent* Owner = nullptr);
    ~TModbusConnection() override;

    // Published properties -----------------------------------------------------------------
    bool Active() const { return active_; }
    // Closing inside a call the transaction thread waits for (a bound server's handlers, or
    // the display of an error raised on that thread) takes effect as soon as that call
    // returns, since the thread cannot stop before: Active stays True until then, and the
    // request in hand gets no reply. An Open after it in the same call opens again then.
    void SetActive(bool Value);
    TBaudRate BaudRate() const { return line_.BaudRate; }
    void SetBaudRate(TBaudRate Value);
    TConnectionMode ConnectionMode() const { return connectionMode_; }
    void SetConnectionMode(TConnectionMode Value);
    uint32_t CustomBaudRate() const { return line_.CustomBaudRate; }
    void SetCustomBaudRate(uint32_t Value);  // also selects brCustom
    TDataBits DataBits() const { return line_.DataBits; }
    void SetDataBits(TDataBits Value);
    bool DTREnabled() const { return line_.DTREnabled; }
    void SetDTREnabled(bool Value);
    bool EchoQueryBeforeReply() const { return echoQueryBeforeReply_.load(); }
    void SetEchoQueryBeforeReply(bool Value);
    TFlowControl FlowControl() const { return line_.FlowControl; }
    void SetFlowControl(TFlowControl Value);
    TMaxRetries MaxRetries() const;
    void SetMaxRetries(TMaxRetries Value);  // 0 is refused
    TParityScheme Parity() const { return line_.Parity; }
    void SetParity(TParityScheme Value);
    TSerialPort Port() const { return port_; }
    void SetPort(const TSerialPort& Value);
    uint32_t ReceiveTimeout() const;
    void SetReceiveTimeout(uint32_t Value);
    uint32_t RefetchDelay() const;
    void SetRefetchDelay(uint32_t Value);
    bool RTSEnabled() const { return line_.RTSEnabled; }
    void SetRTSEnabled(bool Value);
    uint32_t SendTimeout() const;
    void SetSendTimeout(uint32_t Value);
    uint32_t SilentInterval() const { return silentInterval_; }
    void SetSilentInterval(uint32_t Value);
    TStopBits StopBits() const { return line_.StopBits; }
    void SetStopBits(TStopBits Value);
    TThreadPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(TThreadPriority Value);
    TTransmissionMode TransmissionMode() const { return transmissionMode_; }
    void SetTransmissionMode(TTransmissionMode Value);
    uint32_t TurnaroundDelay() const;
    void SetTurnaroundDelay(uint32_t Value);

    std::function<void(TModbusConnection& Sender)> OnAfterClose, OnAfterOpen, OnBeforeClose,
        OnBeforeOpen;
    // The transaction thread checks from its own thread whether these are assigned.
    platform::TAtomicEvent<void(TModbusConnection& Sender, const TFrameData& Data)> OnFrameReceive,
        OnFrameSend;

    // Application calls --------------------------------------------------------------------
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    int GetPendingTransactionCount(const TModbusClient* Client = nullptr);
    void DiscardPendingTransactions(const TModbusClient* Client = nullptr);

    uint32_t BroadcastWriteMultipleCoils(uint16_t StartBit, const TBitValues& BitValues,
                                         void* UserData = nullptr);
    uint32_t BroadcastWriteMultipleRegisters(uint16_t StartReg, const TRegValues& RegValues,
                                             void* UserData = nullptr);
    uint32_t BroadcastWriteSingleCoil(uint16_t BitAddr, bool BitValue, void* UserData = nullptr);
    uint32_t BroadcastWriteSingleRegister(uint16_t RegAddr, uint16_t RegValue,
                                          void* UserData = nullptr);

    // Where the port comes from: the POSIX device unless a test or an application supplies
    // another (used at the next open).
    void SetSerialDeviceFactory(platform::TSerialDeviceFactory Factory);

    // For the role components and the transaction thread ----------------------------------
    void CheckActive() const;
    void CheckInactive() const;
    uint32_t NextTransactionID() { return nextTransactionID_++; }
    int32_t MaxFrameSize() const { return quelvan::MaxFrameSize(transmissionMode_); }
    int32_t MaxRawFrameSize() const { return quelvan::MaxRawFrameSize(transmissionMode_); }
    int32_t SerialQueueSize() const { return quelvan::SerialQueueSize(transmissionMode_); }
    static constexpr int32_t PDUOffset = quelvan::PDUOffset;

    void WriteRequestAddress(const TModbusClient* Client, TModbusBuffer& Buffer) const;
    void WriteReplyAddress(const TModbusServer& Server, TModbusBuffer& Buffer) const;
    const TFrameCodec& Codec() const { return codec_; }
    void WriteChecksum(TModbusBuffer& Buffer) const { codec_.WriteChecksum(Buffer); }
    uint8_t PeekAddress(TModbusBuffer& Buffer) const { return codec_.PeekAddress(Buffer); }
    uint8_t PeekFunctionCode(TModbusBuffer& Buffer) const { return codec_.PeekFunctionCode(Buffer); }

    // Takes the transaction; raises (and frees it) when the connection is not active.
    void QueueTransaction(std::unique_ptr<TModbusTransaction> Transaction);

    void AddClient(TModbusClient* Client);
    void RemoveClient(TModbusClient* Client);
    void AddServer(TModbusServer* Server);
    void RemoveServer(TModbusServer* Server);
    TModbusClient* FindClient(uint8_t Address) const;
    TModbusServer* FindServer(uint8_t Address) const;
    const std::vector<TModbusServer*>& Servers() const { return servers_; }

    uint32_t SilentIntervalMs() const;  // any thread

    const platform::TClassInfo& ClassInfo() const override;
    static const platform::TClassInfo& StaticClassInfo();

    // Window messages from the transaction thread.
    static constexpr uint32_t WM_TRANSACTIONDONE = platform::WM_USER + 1;
    static constexpr uint32_t WM_FRAMEDATA = platform::WM_USER + 2;
    static constexpr uint32_t WM_DEFERREDCLOSE = platform::WM_USER + 3;

protected:
    void Loaded() override;
    // A bound client or server that is going leaves the lists, whichever order an owner
    // destroys them in.
    void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoFrameReceive(const TFrameData& Data);
    virtual void DoFrameSend(const TFrameData& Data);

private:
    friend class TTransactionThread;

    bool IsLive() const { return active_ && !IsLoading() && !IsDesigning(); }
    void OpenPort();
    void ClosePort();
    void ApplyLineSettings();
    void UpdateSilentInterval();
    void LineSettingChanged();
    void SetLocked(uint32_t& Field, uint32_t Value);
    uint32_t GetLocked(const uint32_t& Field) const;
    void WindowProc(platform::TMessage& Message);
    // Around each call the transaction thread makes on the main thread and waits for.
    void BeginThreadCall() { ++threadCallDepth_; }
    void EndThreadCall();
    void FinishDeferredClose();
    void DeliverTransaction(std::unique_ptr<TModbusTransaction> Transaction);

    // Published state.
    bool active_ = false;
    bool streamedActive_ = false;
    TLineProperties line_;
    TConnectionMode connectionMode_ = cmClient;
    std::atomic<bool> echoQueryBeforeReply_{false};
    TSerialPort port_ = "COM1";
    uint32_t silentInterval_ = 4;
    TThreadPriority threadPriority_ = tpNormal;
    TTransmissionMode transmissionMode_ = tmRTU;

    // Read by the transaction thread under lock_.
    mutable platform::TMultiReadExclusiveWriteSynchronizer lock_;
    uint32_t maxRetries_ = 1;
    uint32_t receiveTimeout_ = 1000;
    uint32_t refetchDelay_ = 0;
    uint32_t sendTimeout_ = 1000;
    uint32_t turnaroundDelay_ = 100;
    uint32_t silentIntervalMs_ = MinSilentIntervalMs;

    TFrameCodec codec_{tmRTU, cmClient};
    uint32_t nextTransactionID_ = 0;
    std::vector<TModbusClient*> clients_;
    std::vector<TModbusServer*> servers_;

    platform::TSerialDeviceFactory deviceFactory_;
    std::unique_ptr<platform::ISerialDevice> device_;
    std::unique_ptr<TSerialPortDriver> driver_;
    std::unique_ptr<TTransactionThread> thread_;
    platform::TEvent stopEvent_{false, false};
    std::unique_ptr<platform::TMessageWindow> window_;

    // Main thread. Calls of the transaction thread in progress (it is blocked in each), and,
    // while a close asked for inside one waits for them to return, the Active asked for last.
    int threadCallDepth_ = 0;
    std::optional<bool> deferredActive_;
};

}  // namespace quelvan
