#include "quelvan/modbus_server.h"

#include "quelvan/bit_packing.h"
#include "quelvan/errors.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/pdu_reader.h"

namespace quelvan {

// One request being served. Fail() ends the handling with an exception reply; the write
// commands build none for a broadcast.
struct TModbusServer::TRequestContext {
    TModbusTransaction& T;
    TModbusConnection& Connection;
    uint8_t Command;
    bool Broadcast;
    bool IsWrite;
};

namespace {
// Unwinds out of a command's handling once its exception reply is decided.
struct TRequestRefused {
    uint8_t ExceptionCode;
};
[[noreturn]] void Refuse(uint8_t Code) { throw TRequestRefused{Code}; }

// The request's fixed fields; a request too short for them is answered with exception 03.
template <typename F>
auto ReadFields(F Read) {
    try {
        return Read();
    } catch (const EQuelvanError&) {
        Refuse(ecIllegalDataValue);
    }
}

// The two words every served command starts with (start and count, or address and value).
std::pair<uint32_t, uint32_t> ReadTwoWords(TPduReader& Request) {
    return ReadFields([&] {
        const uint16_t first = Request.ReadWord();
        return std::pair<uint32_t, uint32_t>(first, Request.ReadWord());
    });
}

void CheckCountedRange(uint8_t Command, uint32_t Start, uint32_t Count) {
    switch (CheckRange(*FindCountLimit(Command), Start, Count)) {
    case TRangeCheck::BadCount: Refuse(ecIllegalDataValue);
    case TRangeCheck::BadAddress: Refuse(ecIllegalDataAddress);
    case TRangeCheck::Ok: break;
    }
}

void CheckWriteStatus(TItemWriteStatus Status) {
    if (Status == iwsAllowWrite) return;
    Refuse(Status == iwsIllegalAddress ? ecIllegalDataAddress : ecIllegalDataValue);
}
}  // namespace

TModbusServer::TModbusServer(platform::TComponent* Owner) : TComponent(Owner) {}

TModbusServer::~TModbusServer() {
    Destroying();
    SetConnection(nullptr);
}

void TModbusServer::SetAddress(uint8_t Value) {
    if (Value == address_) return;
    if (Value < 1 || Value > 247) RaiseErrorFmt(msgValueRange, {1, 247});
    address_ = Value;
}

void TModbusServer::SetConnection(TModbusConnection* Value) {
    if (Value == connection_) return;
    if (connection_) {
        connection_->RemoveServer(this);
        RemoveFreeNotification(connection_);
    }
    connection_ = Value;
    if (connection_) {
        connection_->AddServer(this);
        FreeNotification(connection_);
    }
}

void TModbusServer::Notification(platform::TComponent* AComponent, platform::TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == platform::opRemove && AComponent == connection_) connection_ = nullptr;
}

TModbusConnection& TModbusServer::CheckConnection() const {
    if (!connection_ || !connection_->Active() || connection_->IsLoading() || connection_->IsDesigning())
        RaiseError(msgNoActiveConnection);
    return *connection_;
}

void TModbusServer::BuildExceptionReply(TModbusBuffer& Reply, uint8_t Command, uint8_t ExceptionCode) {
    TModbusConnection& connection = CheckConnection();
    Reply.SetSize(0);
    connection.WriteReplyAddress(*this, Reply);
    Reply.WriteByte(static_cast<uint8_t>(Command | 0x80));
    Reply.WriteByte(ExceptionCode);
    connection.WriteChecksum(Reply);
}

void TModbusServer::ProcessRequest(TModbusTransaction& Transaction) {
    TModbusConnection& connection = CheckConnection();
    const uint8_t command = connection.PeekFunctionCode(Transaction.RequestBuffer());
    const bool broadcast = Transaction.Info().ServerAddress == 0;
    const bool served = command == mcReadCoils || command == mcReadDiscreteInputs ||
                        command == mcReadHoldingRegisters || command == mcReadInputRegisters ||
                        command == mcWriteSingleCoil || command == mcWriteSingleRegister ||
                        command == mcWriteMultipleCoils || command == mcWriteMultipleRegisters;
    if (!served || !DoAcceptCommand(command)) {
        if (!broadcast) BuildExceptionReply(Transaction.ReplyBuffer(), command, ecIllegalCommand);
        return;
    }
    TRequestContext c{Transaction, connection, command, broadcast,
                      command == mcWriteSingleCoil || command == mcWriteSingleRegister ||
                          command == mcWriteMultipleCoils || command == mcWriteMultipleRegisters};
    try {
        switch (command) {
        case mcReadCoils:
        case mcReadDiscreteInputs: ReadBits(c); break;
        case mcReadHoldingRegisters:
        case mcReadInputRegisters: ReadRegisters(c); break;
        case mcWriteSingleCoil: WriteSingleCoil(c); break;
        case mcWriteSingleRegister: WriteSingleRegister(c); break;
        case mcWriteMultipleCoils: WriteMultipleCoils(c); break;
        case mcWriteMultipleRegisters: WriteMultipleRegisters(c); break;
        }
    } catch (const TRequestRefused& refused) {
        if (!(c.IsWrite && broadcast)) BuildExceptionReply(Transaction.ReplyBuffer(), command, refused.ExceptionCode);
    }
}

void TModbusServer::StartNormalReply(TRequestContext& C) {
    C.Connection.WriteReplyAddress(*this, C.T.ReplyBuffer());
    C.T.ReplyBuffer().WriteByte(C.Command);
}

// The normal reply of the write commands: the command and two words of the request.
void TModbusServer::WriteEchoReply(TRequestContext& C, uint32_t First, uint32_t Second) {
    StartNormalReply(C);
    C.T.ReplyBuffer().WriteWord(static_cast<uint16_t>(First));
    C.T.ReplyBuffer().WriteWord(static_cast<uint16_t>(Second));
    C.Connection.WriteChecksum(C.T.ReplyBuffer());
}

void TModbusServer::ReadBits(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [start, count] = ReadTwoWords(request);
    CheckCountedRange(C.Command, start, count);
    const bool coils = C.Command == mcReadCoils;
    for (uint32_t a = start; a < start + count; ++a) {
        const auto address = static_cast<uint16_t>(a);
        if (!(coils ? DoCanReadCoil(address) : DoCanReadDiscreteInput(address))) Refuse(ecIllegalDataAddress);
    }
    TModbusBuffer& reply = C.T.ReplyBuffer();
    StartNormalReply(C);
    reply.WriteByte(static_cast<uint8_t>(BitByteCount(static_cast<int32_t>(count))));
    TBitValues values(count);
    for (uint32_t i = 0; i < count; ++i) {
        const auto address = static_cast<uint16_t>(start + i);
        values[i] = coils ? DoGetCoilValue(address) : DoGetDiscreteInputValue(address);
    }
    PackBits(values, reply);
    C.Connection.WriteChecksum(reply);
}

void TModbusServer::ReadRegisters(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [start, count] = ReadTwoWords(request);
    CheckCountedRange(C.Command, start, count);
    const bool holding = C.Command == mcReadHoldingRegisters;
    for (uint32_t a = start; a < start + count; ++a) {
        const auto address = static_cast<uint16_t>(a);
        if (!(holding ? DoCanReadHoldingRegister(address) : DoCanReadInputRegister(address)))
            Refuse(ecIllegalDataAddress);
    }
    TModbusBuffer& reply = C.T.ReplyBuffer();
    StartNormalReply(C);
    reply.WriteByte(static_cast<uint8_t>(2 * count));
    for (uint32_t a = start; a < start + count; ++a) {
        const auto address = static_cast<uint16_t>(a);
        reply.WriteWord(holding ? DoGetHoldingRegisterValue(address) : DoGetInputRegisterValue(address));
    }
    C.Connection.WriteChecksum(reply);
}

void TModbusServer::WriteSingleCoil(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [address, value] = ReadTwoWords(request);
    if (value != CoilOff && value != CoilOn) Refuse(ecIllegalDataValue);
    CheckWriteStatus(DoCanWriteCoil(address, value == CoilOn));
    DoSetCoilValue(address, value == CoilOn);
    if (!C.Broadcast) WriteEchoReply(C, address, value);
}

void TModbusServer::WriteSingleRegister(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [address, value] = ReadTwoWords(request);
    CheckWriteStatus(DoCanWriteHoldingRegister(address, value));
    DoSetHoldingRegisterValue(address, value);
    if (!C.Broadcast) WriteEchoReply(C, address, value);
}

// Multiple writes are all or nothing: every item is asked before the first is stored.
void TModbusServer::WriteMultipleCoils(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [start, count] = ReadTwoWords(request);
    CheckCountedRange(C.Command, start, count);
    TBitValues values(count);
    ReadFields([&] {
        request.ReadByte();  // the byte count is not compared with the quantity
        request.ReadBits(values);
        return 0;
    });
    for (uint32_t i = 0; i < count; ++i)
        CheckWriteStatus(DoCanWriteCoil(static_cast<uint16_t>(start + i), values[i]));
    for (uint32_t i = 0; i < count; ++i) DoSetCoilValue(static_cast<uint16_t>(start + i), values[i]);
    if (!C.Broadcast) WriteEchoReply(C, start, count);
}

void TModbusServer::WriteMultipleRegisters(TRequestContext& C) {
    TPduReader request(C.T.RequestBuffer(), C.Connection.TransmissionMode());
    const auto [start, count] = ReadTwoWords(request);
    CheckCountedRange(C.Command, start, count);
    TRegValues values(count);
    ReadFields([&] {
        request.ReadByte();  // the byte count is not compared with the quantity
        for (uint16_t& v : values) v = request.ReadWord();
        return 0;
    });
    for (uint32_t i = 0; i < count; ++i)
        CheckWriteStatus(DoCanWriteHoldingRegister(static_cast<uint16_t>(start + i), values[i]));
    for (uint32_t i = 0; i < count; ++i) DoSetHoldingRegisterValue(static_cast<uint16_t>(start + i), values[i]);
    if (!C.Broadcast) WriteEchoReply(C, start, count);
}

// Dispatchers: the presets make a server without handlers refuse everything.

bool TModbusServer::DoAcceptCommand(uint8_t Command) {
    bool accept = false;
    if (OnAcceptCommand) OnAcceptCommand(*this, Command, accept);
    return accept;
}
bool TModbusServer::DoCanReadCoil(uint16_t BitAddr) {
    bool allow = false;
    if (OnCanReadCoil) OnCanReadCoil(*this, BitAddr, allow);
    return allow;
}
bool TModbusServer::DoCanReadDiscreteInput(uint16_t BitAddr) {
    bool allow = false;
    if (OnCanReadDiscreteInput) OnCanReadDiscreteInput(*this, BitAddr, allow);
    return allow;
}
bool TModbusServer::DoCanReadHoldingRegister(uint16_t RegAddr) {
    bool allow = false;
    if (OnCanReadHoldingRegister) OnCanReadHoldingRegister(*this, RegAddr, allow);
    return allow;
}
bool TModbusServer::DoCanReadInputRegister(uint16_t RegAddr) {
    bool allow = false;
    if (OnCanReadInputRegister) OnCanReadInputRegister(*this, RegAddr, allow);
    return allow;
}
TItemWriteStatus TModbusServer::DoCanWriteCoil(uint16_t BitAddr, bool BitValue) {
    TItemWriteStatus status = iwsIllegalAddress;
    if (OnCanWriteCoil) OnCanWriteCoil(*this, BitAddr, BitValue, status);
    return status;
}
TItemWriteStatus TModbusServer::DoCanWriteHoldingRegister(uint16_t RegAddr, uint16_t RegValue) {
    TItemWriteStatus status = iwsIllegalAddress;
    if (OnCanWriteHoldingRegister) OnCanWriteHoldingRegister(*this, RegAddr, RegValue, status);
    return status;
}
bool TModbusServer::DoGetCoilValue(uint16_t BitAddr) {
    bool value = false;
    if (OnGetCoilValue) OnGetCoilValue(*this, BitAddr, value);
    return value;
}
bool TModbusServer::DoGetDiscreteInputValue(uint16_t BitAddr) {
    bool value = false;
    if (OnGetDiscreteInputValue) OnGetDiscreteInputValue(*this, BitAddr, value);
    return value;
}
uint16_t TModbusServer::DoGetHoldingRegisterValue(uint16_t RegAddr) {
    uint16_t value = 0;
    if (OnGetHoldingRegisterValue) OnGetHoldingRegisterValue(*this, RegAddr, value);
    return value;
}
uint16_t TModbusServer::DoGetInputRegisterValue(uint16_t RegAddr) {
    uint16_t value = 0;
    if (OnGetInputRegisterValue) OnGetInputRegisterValue(*this, RegAddr, value);
    return value;
}
void TModbusServer::DoSetCoilValue(uint16_t BitAddr, bool BitValue) {
    if (OnSetCoilValue) OnSetCoilValue(*this, BitAddr, BitValue);
}
void TModbusServer::DoSetHoldingRegisterValue(uint16_t RegAddr, uint16_t RegValue) {
    if (OnSetHoldingRegisterValue) OnSetHoldingRegisterValue(*this, RegAddr, RegValue);
}

}  // namespace quelvan
