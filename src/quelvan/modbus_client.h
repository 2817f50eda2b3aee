#pragma once
// TModbusClient: the Modbus client (master) side, bound to a connection and talking to the
// server at ServerAddress.
//
// Every call validates its arguments, queues a request and returns its transaction ID at
// once. The outcome arrives later, on the main thread, as exactly one event per transaction
// whatever happened (Info.Reply tells: no reply, unmatched reply, exception reply, normal
// reply). Main thread only.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/component.h"
#include "quelvan/file_record.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/item_values.h"
#include "quelvan/transaction.h"

namespace quelvan {

class TModbusConnection;
class TModbusClient;

using TMultipleBitsAccessEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                                    uint16_t StartBit, uint16_t BitCount,
                                                    const TBitValues& BitValues)>;
using TMultipleRegistersAccessEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, uint16_t StartReg,
                       uint16_t RegCount, const TRegValues& RegValues)>;
using TDiagnosticsEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                             TDiagnosticAction Action, uint16_t Result)>;
using TFileRecordAccessEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                                  TModbusFileRecordList& FileRecList)>;
using TSingleCoilWriteEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                                 uint16_t BitAddr, bool BitValue)>;
using TSingleRegisterWriteEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                                     uint16_t RegAddr, uint16_t RegValue)>;
using TSingleRegisterMaskWriteEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, uint16_t RegAddr,
                       uint16_t AndMask, uint16_t OrMask)>;
using TTranslateExceptionCodeEvent =
    std::function<void(TModbusClient& Sender, uint8_t ExceptionCode, std::string& Description)>;

class TModbusClient : public platform::TComponent {
public:
    explicit TModbusClient(platform::TComponent* Owner = nullptr);
    ~TModbusClient() override;

    TModbusConnection* Connection() const { return connection_; }
    void SetConnection(TModbusConnection* Value);
    uint8_t ServerAddress() const { return serverAddress_; }
    void SetServerAddress(uint8_t Value);  // 1..247

    TMultipleBitsAccessEvent OnCoilsRead;
    TDiagnosticsEvent OnDiagnostics;
    TMultipleBitsAccessEvent OnDiscreteInputsRead;
    TFileRecordAccessEvent OnFileRecordRead;
    TFileRecordAccessEvent OnFileRecordWrite;
    TMultipleRegistersAccessEvent OnHoldingRegistersRead;
    TMultipleRegistersAccessEvent OnInputRegistersRead;
    TMultipleBitsAccessEvent OnMultipleCoilsWrite;
    TMultipleRegistersAccessEvent OnMultipleRegistersWrite;
    TSingleCoilWriteEvent OnSingleCoilWrite;
    TSingleRegisterMaskWriteEvent OnSingleRegisterMaskWrite;
    TSingleRegisterWriteEvent OnSingleRegisterWrite;
    TTranslateExceptionCodeEvent OnTranslateExceptionCode;

    // Initiating calls: each returns the ID that reappears as Info.ID in the event.
    uint32_t ReadCoils(uint16_t StartBit, uint16_t BitCount, void* UserData = nullptr);
    uint32_t ReadDiscreteInputs(uint16_t StartBit, uint16_t BitCount, void* UserData = nullptr);
    uint32_t ReadHoldingRegisters(uint16_t StartReg, uint16_t RegCount, void* UserData = nullptr);
    uint32_t ReadInputRegisters(uint16_t StartReg, uint16_t RegCount, void* UserData = nullptr);
    uint32_t WriteSingleCoil(uint16_t BitAddr, bool BitValue, void* UserData = nullptr);
    uint32_t WriteSingleRegister(uint16_t RegAddr, uint16_t RegValue, void* UserData = nullptr);
    uint32_t Diagnostics(TDiagnosticAction Action, void* UserData = nullptr);
    uint32_t WriteMultipleCoils(uint16_t StartBit, const TBitValues& BitValues, void* UserData = nullptr);
    uint32_t WriteMultipleRegisters(uint16_t StartReg, const TRegValues& RegValues,
                                    void* UserData = nullptr);
    // Raise, before anything is queued, for an empty list or one whose request or reply would
    // not fit a frame.
    uint32_t ReadFileRecord(const TModbusFileRecordList& FileRecList, void* UserData = nullptr);
    uint32_t WriteFileRecord(const TModbusFileRecordList& FileRecList, void* UserData = nullptr);
    uint32_t MaskWriteSingleRegister(uint16_t RegAddr, uint16_t AndMask, uint16_t OrMask,
                                     void* UserData = nullptr);

    // The text of an exception code (codes above 8: "Unknown exception code"), as
    // OnTranslateExceptionCode may replace it.
    std::string GetExceptionCodeText(uint8_t ExceptionCode);

    // Called by the connection for each finished transaction sent to this client's address.
    void ProcessReply(TModbusTransaction& Transaction);

    const platform::TClassInfo& ClassInfo() const override;
    static const platform::TClassInfo& StaticClassInfo();

protected:
    void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;

    virtual void DoCoilsRead(const TTransactionInfo& Info, uint16_t StartBit, uint16_t BitCount,
                             const TBitValues& BitValues);
    virtual void DoDiagnostics(const TTransactionInfo& Info, TDiagnosticAction Action, uint16_t Result);
    virtual void DoDiscreteInputsRead(const TTransactionInfo& Info, uint16_t StartBit,
                                      uint16_t BitCount, const TBitValues& BitValues);
    virtual void DoFileRecordRead(const TTransactionInfo& Info, TModbusFileRecordList& FileRecList);
    virtual void DoFileRecordWrite(const TTransactionInfo& Info, TModbusFileRecordList& FileRecList);
    virtual void DoHoldingRegistersRead(const TTransactionInfo& Info, uint16_t StartReg,
                                        uint16_t RegCount, const TRegValues& RegValues);
    virtual void DoInputRegistersRead(const TTransactionInfo& Info, uint16_t StartReg,
                                      uint16_t RegCount, const TRegValues& RegValues);
    virtual void DoMultipleCoilsWrite(const TTransactionInfo& Info, uint16_t StartBit,
                                      uint16_t BitCount, const TBitValues& BitValues);
    virtual void DoMultipleRegistersWrite(const TTransactionInfo& Info, uint16_t StartReg,
                                          uint16_t RegCount, const TRegValues& RegValues);
    virtual void DoSingleCoilWrite(const TTransactionInfo& Info, uint16_t BitAddr, bool BitValue);
    virtual void DoSingleRegisterMaskWrite(const TTransactionInfo& Info, uint16_t RegAddr,
                                           uint16_t AndMask, uint16_t OrMask);
    virtual void DoSingleRegisterWrite(const TTransactionInfo& Info, uint16_t RegAddr, uint16_t RegValue);
    virtual void DoTranslateExceptionCode(uint8_t ExceptionCode, std::string& Description);

private:
    TModbusConnection& CheckConnection() const;
    uint32_t Queue(const std::function<void(TModbusBuffer&)>& WritePDU, void* UserData);
    uint32_t QueueTwoWords(uint8_t Command, uint16_t First, uint16_t Second, void* UserData);
    uint32_t QueueCounted(uint8_t Command, uint16_t Start, uint16_t Count, void* UserData);

    void DecodeBitsRead(TModbusTransaction& T, uint8_t Command);
    void DecodeRegistersRead(TModbusTransaction& T, uint8_t Command);
    void DecodeSingleWrite(TModbusTransaction& T, uint8_t Command);
    void DecodeDiagnostics(TModbusTransaction& T);
    void DecodeMultipleCoilsWrite(TModbusTransaction& T);
    void DecodeMultipleRegistersWrite(TModbusTransaction& T);
    void DecodeFileRecordRead(TModbusTransaction& T);
    void DecodeFileRecordWrite(TModbusTransaction& T);
    void DecodeMaskWrite(TModbusTransaction& T);

    TModbusConnection* connection_ = nullptr;
    uint8_t serverAddress_ = 1;
};

}  // namespace quelvan
