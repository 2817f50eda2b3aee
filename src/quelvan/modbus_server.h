#pragma once
// TModbusServer: the Modbus server (slave) side at one Address on a connection in server
// mode. It keeps no data: for every request it asks the application, through events,
// whether the command is accepted, whether each item may be read or written, and what the
// values are, and builds the normal or exception reply from the answers. A server without
// handlers refuses every command and every item.
//
// Main thread only: requests are processed while the transaction thread waits.

#include <cstdint>
#include <functional>

#include "platform/component.h"
#include "quelvan/item_values.h"
#include "quelvan/modbus_buffer.h"
#include "quelvan/transaction.h"

namespace quelvan {

class TModbusConnection;
class TModbusServer;

enum TItemWriteStatus : uint8_t { iwsIllegalAddress, iwsIllegalValue, iwsAllowWrite };

using TAcceptCommandEvent = std::function<void(TModbusServer& Sender, uint8_t Command, bool& Accept)>;
using TCanReadDiscreteBitEvent = std::function<void(TModbusServer& Sender, uint16_t BitAddr, bool& Allow)>;
using TCanReadRegisterEvent = std::function<void(TModbusServer& Sender, uint16_t RegAddr, bool& Allow)>;
using TCanWriteCoilEvent = std::function<void(TModbusServer& Sender, uint16_t BitAddr, bool BitValue,
                                              TItemWriteStatus& Status)>;
using TCanWriteRegisterEvent = std::function<void(TModbusServer& Sender, uint16_t RegAddr,
                                                  uint16_t RegValue, TItemWriteStatus& Status)>;
using TGetDiscreteBitValueEvent = std::function<void(TModbusServer& Sender, uint16_t BitAddr, bool& BitValue)>;
using TGetRegisterValueEvent = std::function<void(TModbusServer& Sender, uint16_t RegAddr, uint16_t& RegValue)>;
using TSetCoilValueEvent = std::function<void(TModbusServer& Sender, uint16_t BitAddr, bool BitValue)>;
using TSetRegisterValueEvent = std::function<void(TModbusServer& Sender, uint16_t RegAddr, uint16_t RegValue)>;

class TModbusServer : public platform::TComponent {
public:
    explicit TModbusServer(platform::TComponent* Owner = nullptr);
    ~TModbusServer() override;

    uint8_t Address() const { return address_; }
    void SetAddress(uint8_t Value);  // 1..247
    TModbusConnection* Connection() const { return connection_; }
    void SetConnection(TModbusConnection* Value);

    TAcceptCommandEvent OnAcceptCommand;
    TCanReadDiscreteBitEvent OnCanReadCoil;
    TCanReadDiscreteBitEvent OnCanReadDiscreteInput;
    TCanReadRegisterEvent OnCanReadHoldingRegister;
    TCanReadRegisterEvent OnCanReadInputRegister;
    TCanWriteCoilEvent OnCanWriteCoil;
    TCanWriteRegisterEvent OnCanWriteHoldingRegister;
    TGetDiscreteBitValueEvent OnGetCoilValue;
    TGetDiscreteBitValueEvent OnGetDiscreteInputValue;
    TGetRegisterValueEvent OnGetHoldingRegisterValue;
    TGetRegisterValueEvent OnGetInputRegisterValue;
    TSetCoilValueEvent OnSetCoilValue;
    TSetRegisterValueEvent OnSetHoldingRegisterValue;

    // Called by the connection for a request to this server's address or a broadcast; leaves
    // the reply frame (or nothing) in the transaction's ReplyBuffer.
    void ProcessRequest(TModbusTransaction& Transaction);
    // Replaces the buffer's content with an exception reply from this server.
    void BuildExceptionReply(TModbusBuffer& Reply, uint8_t Command, uint8_t ExceptionCode);

    const platform::TClassInfo& ClassInfo() const override;
    static const platform::TClassInfo& StaticClassInfo();

protected:
    void Notification(platform::TComponent* AComponent, platform::TOperation Operation) override;

    virtual bool DoAcceptCommand(uint8_t Command);
    virtual bool DoCanReadCoil(uint16_t BitAddr);
    virtual bool DoCanReadDiscreteInput(uint16_t BitAddr);
    virtual bool DoCanReadHoldingRegister(uint16_t RegAddr);
    virtual bool DoCanReadInputRegister(uint16_t RegAddr);
    virtual TItemWriteStatus DoCanWriteCoil(uint16_t BitAddr, bool BitValue);
    virtual TItemWriteStatus DoCanWriteHoldingRegister(uint16_t RegAddr, uint16_t RegValue);
    virtual bool DoGetCoilValue(uint16_t BitAddr);
    virtual bool DoGetDiscreteInputValue(uint16_t BitAddr);
    virtual uint16_t DoGetHoldingRegisterValue(uint16_t RegAddr);
    virtual uint16_t DoGetInputRegisterValue(uint16_t RegAddr);
    virtual void DoSetCoilValue(uint16_t BitAddr, bool BitValue);
    virtual void DoSetHoldingRegisterValue(uint16_t RegAddr, uint16_t RegValue);

private:
    struct TRequestContext;
    TModbusConnection& CheckConnection() const;
    void ReadBits(TRequestContext& C);
    void ReadRegisters(TRequestContext& C);
    void WriteSingleCoil(TRequestContext& C);
    void WriteSingleRegister(TRequestContext& C);
    void WriteMultipleCoils(TRequestContext& C);
    void WriteMultipleRegisters(TRequestContext& C);
    void StartNormalReply(TRequestContext& C);
    void WriteEchoReply(TRequestContext& C, uint32_t First, uint32_t Second);

    uint8_t address_ = 1;
    TModbusConnection* connection_ = nullptr;
};

}  // namespace quelvan
