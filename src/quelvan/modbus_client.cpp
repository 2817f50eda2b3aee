#include "quelvan/modbus_client.h"

#include "quelvan/errors.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/request_builder.h"

namespace quelvan {

TModbusClient::TModbusClient(platform::TComponent* Owner) : TComponent(Owner) {}

TModbusClient::~TModbusClient() {
    Destroying();
    SetConnection(nullptr);
}

void TModbusClient::SetConnection(TModbusConnection* Value) {
    if (Value == connection_) return;
    if (connection_) {
        connection_->RemoveClient(this);
        RemoveFreeNotification(connection_);
    }
    connection_ = Value;
    if (connection_) {
        connection_->AddClient(this);
        FreeNotification(connection_);
    }
}

void TModbusClient::Notification(platform::TComponent* AComponent, platform::TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == platform::opRemove && AComponent == connection_) connection_ = nullptr;
}

void TModbusClient::SetServerAddress(uint8_t Value) {
    if (Value == serverAddress_) return;
    if (Value < 1 || Value > 247) RaiseErrorFmt(msgValueRange, {1, 247});
    serverAddress_ = Value;
}

TModbusConnection& TModbusClient::CheckConnection() const {
    if (!connection_ || !connection_->Active() || connection_->IsLoading() || connection_->IsDesigning())
        RaiseError(msgNoActiveConnection);
    return *connection_;
}

// Initiating calls ---------------------------------------------------------------------------

uint32_t TModbusClient::Queue(const std::function<void(TModbusBuffer&)>& WritePDU, void* UserData) {
    return QueueRequest(CheckConnection(), this, UserData, WritePDU);
}

uint32_t TModbusClient::QueueTwoWords(uint8_t Command, uint16_t First, uint16_t Second, void* UserData) {
    return Queue([&](TModbusBuffer& B) { WriteTwoWordRequest(B, Command, First, Second); }, UserData);
}

uint32_t TModbusClient::QueueCounted(uint8_t Command, uint16_t Start, uint16_t Count, void* UserData) {
    CheckConnection();
    ValidateRange(Command, Start, Count);
    return QueueTwoWords(Command, Start, Count, UserData);
}

uint32_t TModbusClient::ReadCoils(uint16_t StartBit, uint16_t BitCount, void* UserData) {
    return QueueCounted(mcReadCoils, StartBit, BitCount, UserData);
}

uint32_t TModbusClient::ReadDiscreteInputs(uint16_t StartBit, uint16_t BitCount, void* UserData) {
    return QueueCounted(mcReadDiscreteInputs, StartBit, BitCount, UserData);
}

uint32_t TModbusClient::ReadHoldingRegisters(uint16_t StartReg, uint16_t RegCount, void* UserData) {
    return QueueCounted(mcReadHoldingRegisters, StartReg, RegCount, UserData);
}

uint32_t TModbusClient::ReadInputRegisters(uint16_t StartReg, uint16_t RegCount, void* UserData) {
    return QueueCounted(mcReadInputRegisters, StartReg, RegCount, UserData);
}

uint32_t TModbusClient::WriteSingleCoil(uint16_t BitAddr, bool BitValue, void* UserData) {
    return QueueTwoWords(mcWriteSingleCoil, BitAddr, BitValue ? CoilOn : CoilOff, UserData);
}

uint32_t TModbusClient::WriteSingleRegister(uint16_t RegAddr, uint16_t RegValue, void* UserData) {
    return QueueTwoWords(mcWriteSingleRegister, RegAddr, RegValue, UserData);
}

uint32_t TModbusClient::Diagnostics(TDiagnosticAction Action, void* UserData) {
    CheckConnection();
    if (Action >= DiagnosticActionCount) RaiseError(msgDiagnosticAction);
    return QueueTwoWords(mcDiagnostics, DiagnosticSubFunction(Action), DiagnosticRequestData(Action),
                         UserData);
}

uint32_t TModbusClient::WriteMultipleCoils(uint16_t StartBit, const TBitValues& BitValues, void* UserData) {
    CheckConnection();
    ValidateRange(mcWriteMultipleCoils, StartBit, static_cast<uint32_t>(BitValues.size()));
    return Queue([&](TModbusBuffer& B) { WriteMultipleCoilsRequest(B, StartBit, BitValues); }, UserData);
}

uint32_t TModbusClient::WriteMultipleRegisters(uint16_t StartReg, const TRegValues& RegValues,
                                               void* UserData) {
    CheckConnection();
    ValidateRange(mcWriteMultipleRegisters, StartReg, static_cast<uint32_t>(RegValues.size()));
    return Queue([&](TModbusBuffer& B) { WriteMultipleRegistersRequest(B, StartReg, RegValues); },
                 UserData);
}

uint32_t TModbusClient::ReadFileRecord(const TModbusFileRecordList& FileRecList, void* UserData) {
    CheckConnection();
    ValidateFileRecordList(FileRecList, false);
    return Queue(
        [&](TModbusBuffer& B) {
            B.WriteByte(mcReadFileRecord);
            B.WriteByte(static_cast<uint8_t>(7 * FileRecList.Count()));
            for (int32_t i = 0; i < FileRecList.Count(); ++i) {
                const TModbusFileRecord& r = FileRecList.Items(i);
                B.WriteByte(FileRecordReferenceType);
                B.WriteWord(r.FileNumber());
                B.WriteWord(r.StartReg());
                B.WriteWord(static_cast<uint16_t>(r.RegCount()));
            }
        },
        UserData);
}

uint32_t TModbusClient::WriteFileRecord(const TModbusFileRecordList& FileRecList, void* UserData) {
    CheckConnection();
    ValidateFileRecordList(FileRecList, true);
    return Queue(
        [&](TModbusBuffer& B) {
            int32_t bytes = 0;
            for (int32_t i = 0; i < FileRecList.Count(); ++i) bytes += 7 + 2 * FileRecList.Items(i).RegCount();
            B.WriteByte(mcWriteFileRecord);
            B.WriteByte(static_cast<uint8_t>(bytes));
            for (int32_t i = 0; i < FileRecList.Count(); ++i) {
                const TModbusFileRecord& r = FileRecList.Items(i);
                B.WriteByte(FileRecordReferenceType);
                B.WriteWord(r.FileNumber());
                B.WriteWord(r.StartReg());
                B.WriteWord(static_cast<uint16_t>(r.RegCount()));
                for (int32_t k = 0; k < r.RegCount(); ++k) B.WriteWord(r.RegValues(k));
            }
        },
        UserData);
}

uint32_t TModbusClient::MaskWriteSingleRegister(uint16_t RegAddr, uint16_t AndMask, uint16_t OrMask,
                                                void* UserData) {
    return Queue(
        [&](TModbusBuffer& B) {
            B.WriteByte(mcMaskWriteRegister);
            B.WriteWord(RegAddr);
            B.WriteWord(AndMask);
            B.WriteWord(OrMask);
        },
        UserData);
}

std::string TModbusClient::GetExceptionCodeText(uint8_t ExceptionCode) {
    std::string text = ExceptionCodeText(ExceptionCode);
    DoTranslateExceptionCode(ExceptionCode, text);
    return text;
}

// Dispatchers --------------------------------------------------------------------------------

void TModbusClient::DoCoilsRead(const TTransactionInfo& Info, uint16_t StartBit, uint16_t BitCount,
                                const TBitValues& BitValues) {
    if (OnCoilsRead) OnCoilsRead(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoDiagnostics(const TTransactionInfo& Info, TDiagnosticAction Action, uint16_t Result) {
    if (OnDiagnostics) OnDiagnostics(*this, Info, Action, Result);
}
void TModbusClient::DoDiscreteInputsRead(const TTransactionInfo& Info, uint16_t StartBit,
                                         uint16_t BitCount, const TBitValues& BitValues) {
    if (OnDiscreteInputsRead) OnDiscreteInputsRead(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoFileRecordRead(const TTransactionInfo& Info, TModbusFileRecordList& FileRecList) {
    if (OnFileRecordRead) OnFileRecordRead(*this, Info, FileRecList);
}
void TModbusClient::DoFileRecordWrite(const TTransactionInfo& Info, TModbusFileRecordList& FileRecList) {
    if (OnFileRecordWrite) OnFileRecordWrite(*this, Info, FileRecList);
}
void TModbusClient::DoHoldingRegistersRead(const TTransactionInfo& Info, uint16_t StartReg,
                                           uint16_t RegCount, const TRegValues& RegValues) {
    if (OnHoldingRegistersRead) OnHoldingRegistersRead(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoInputRegistersRead(const TTransactionInfo& Info, uint16_t StartReg,
                                         uint16_t RegCount, const TRegValues& RegValues) {
    if (OnInputRegistersRead) OnInputRegistersRead(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoMultipleCoilsWrite(const TTransactionInfo& Info, uint16_t StartBit,
                                         uint16_t BitCount, const TBitValues& BitValues) {
    if (OnMultipleCoilsWrite) OnMultipleCoilsWrite(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoMultipleRegistersWrite(const TTransactionInfo& Info, uint16_t StartReg,
                                             uint16_t RegCount, const TRegValues& RegValues) {
    if (OnMultipleRegistersWrite) OnMultipleRegistersWrite(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoSingleCoilWrite(const TTransactionInfo& Info, uint16_t BitAddr, bool BitValue) {
    if (OnSingleCoilWrite) OnSingleCoilWrite(*this, Info, BitAddr, BitValue);
}
void TModbusClient::DoSingleRegisterMaskWrite(const TTransactionInfo& Info, uint16_t RegAddr,
                                              uint16_t AndMask, uint16_t OrMask) {
    if (OnSingleRegisterMaskWrite) OnSingleRegisterMaskWrite(*this, Info, RegAddr, AndMask, OrMask);
}
void TModbusClient::DoSingleRegisterWrite(const TTransactionInfo& Info, uint16_t RegAddr, uint16_t RegValue) {
    if (OnSingleRegisterWrite) OnSingleRegisterWrite(*this, Info, RegAddr, RegValue);
}
void TModbusClient::DoTranslateExceptionCode(uint8_t ExceptionCode, std::string& Description) {
    if (OnTranslateExceptionCode) OnTranslateExceptionCode(*this, ExceptionCode, Description);
}

}  // namespace quelvan
