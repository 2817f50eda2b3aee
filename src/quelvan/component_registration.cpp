#include "quelvan/component_registration.h"

#include "platform/properties.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"

namespace quelvan {

using platform::MakeComponentProperty;
using platform::MakeEnumProperty;
using platform::MakeEventProperty;
using platform::MakeProperty;
using platform::TClassInfo;
using platform::TComponent;
using platform::TPropInfo;
using platform::TPropKind;

namespace {

using TFrameDataHandler = std::function<void(TModbusConnection&, const TFrameData&)>;

// The frame events are slots the transaction thread can query; bind them by hand.
TPropInfo FrameEventProperty(std::string Name,
                             platform::TAtomicEvent<void(TModbusConnection&, const TFrameData&)> TModbusConnection::*Slot) {
    TPropInfo p;
    p.Name = Name;
    p.Kind = TPropKind::Event;
    p.BindEvent = [Slot, Name](TComponent& c, const std::any& handler) {
        const auto* f = std::any_cast<TFrameDataHandler>(&handler);
        if (!f) platform::ThrowEventTypeMismatch(Name);
        static_cast<TModbusConnection&>(c).*Slot = *f;
    };
    p.Assigned = [Slot](const TComponent& c) {
        return static_cast<bool>(static_cast<const TModbusConnection&>(c).*Slot);
    };
    return p;
}

std::vector<TPropInfo> ConnectionProperties() {
    using C = TModbusConnection;
    TPropInfo port = MakeProperty<C, TSerialPort>("Port", TPropKind::String, &C::Port, &C::SetPort,
                                                  std::string("COM1"));
    port.Stored = [](const TComponent& c) { return static_cast<const C&>(c).Port() != "COM1"; };
    return {
        MakeProperty<C, bool>("Active", TPropKind::Boolean, &C::Active, &C::SetActive, false),
        // Before BaudRate: setting it selects brCustom, so a stored BaudRate must come after.
        MakeProperty<C, uint32_t>("CustomBaudRate", TPropKind::Unsigned, &C::CustomBaudRate,
                                  &C::SetCustomBaudRate, uint64_t{19200}),
        MakeEnumProperty<C, TBaudRate>(
            "BaudRate",
            {"br110", "br300", "br600", "br1200", "br2400", "br4800", "br9600", "br14400", "br19200",
             "br38400", "br56000", "br57600", "br115200", "br128000", "br256000", "brCustom"},
            &C::BaudRate, &C::SetBaudRate, br19200),
        MakeEnumProperty<C, TConnectionMode>("ConnectionMode", {"cmClient", "cmServer"},
                                             &C::ConnectionMode, &C::SetConnectionMode, cmClient),
        MakeEnumProperty<C, TDataBits>("DataBits", {"db7", "db8"}, &C::DataBits, &C::SetDataBits, db8),
        MakeProperty<C, bool>("DTREnabled", TPropKind::Boolean, &C::DTREnabled, &C::SetDTREnabled, true),
        MakeProperty<C, bool>("EchoQueryBeforeReply", TPropKind::Boolean, &C::EchoQueryBeforeReply,
                              &C::SetEchoQueryBeforeReply, false),
        MakeEnumProperty<C, TFlowControl>("FlowControl", {"fcNone", "fcRtsToggle", "fcRtsCts", "fcDtrDsr"},
                                          &C::FlowControl, &C::SetFlowControl, fcNone),
        MakeProperty<C, TMaxRetries>("MaxRetries", TPropKind::Unsigned, &C::MaxRetries, &C::SetMaxRetries,
                                     uint64_t{1}),
        MakeEnumProperty<C, TParityScheme>("Parity", {"psNone", "psOdd", "psEven"}, &C::Parity,
                                           &C::SetParity, psEven),
        port,
        MakeProperty<C, uint32_t>("ReceiveTimeout", TPropKind::Unsigned, &C::ReceiveTimeout,
                                  &C::SetReceiveTimeout, uint64_t{1000}),
        MakeProperty<C, uint32_t>("RefetchDelay", TPropKind::Unsigned, &C::RefetchDelay,
                                  &C::SetRefetchDelay, uint64_t{0}),
        MakeProperty<C, bool>("RTSEnabled", TPropKind::Boolean, &C::RTSEnabled, &C::SetRTSEnabled, true),
        MakeProperty<C, uint32_t>("SendTimeout", TPropKind::Unsigned, &C::SendTimeout, &C::SetSendTimeout,
                                  uint64_t{1000}),
        MakeProperty<C, uint32_t>("SilentInterval", TPropKind::Unsigned, &C::SilentInterval,
                                  &C::SetSilentInterval, uint64_t{4}),
        MakeEnumProperty<C, TStopBits>("StopBits", {"sb1", "sb2"}, &C::StopBits, &C::SetStopBits, sb1),
        MakeEnumProperty<C, TThreadPriority>(
            "ThreadPriority",
            {"tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest", "tpTimeCritical"},
            &C::ThreadPriority, &C::SetThreadPriority, tpNormal),
        MakeEnumProperty<C, TTransmissionMode>("TransmissionMode", {"tmRTU", "tmASCII"},
                                               &C::TransmissionMode, &C::SetTransmissionMode, tmRTU),
        MakeProperty<C, uint32_t>("TurnaroundDelay", TPropKind::Unsigned, &C::TurnaroundDelay,
                                  &C::SetTurnaroundDelay, uint64_t{100}),
        MakeEventProperty("OnAfterClose", &C::OnAfterClose),
        MakeEventProperty("OnAfterOpen", &C::OnAfterOpen),
        MakeEventProperty("OnBeforeClose", &C::OnBeforeClose),
        MakeEventProperty("OnBeforeOpen", &C::OnBeforeOpen),
        FrameEventProperty("OnFrameReceive", &C::OnFrameReceive),
        FrameEventProperty("OnFrameSend", &C::OnFrameSend),
    };
}

std::vector<TPropInfo> ClientProperties() {
    using C = TModbusClient;
    return {
        MakeComponentProperty<C, TModbusConnection>("Connection", "TModbusConnection", &C::Connection,
                                                    &C::SetConnection),
        MakeEventProperty("OnCoilsRead", &C::OnCoilsRead),
        MakeEventProperty("OnDiagnostics", &C::OnDiagnostics),
        MakeEventProperty("OnDiscreteInputsRead", &C::OnDiscreteInputsRead),
        MakeEventProperty("OnFileRecordRead", &C::OnFileRecordRead),
        MakeEventProperty("OnFileRecordWrite", &C::OnFileRecordWrite),
        MakeEventProperty("OnHoldingRegistersRead", &C::OnHoldingRegistersRead),
        MakeEventProperty("OnInputRegistersRead", &C::OnInputRegistersRead),
        MakeEventProperty("OnMultipleCoilsWrite", &C::OnMultipleCoilsWrite),
        MakeEventProperty("OnMultipleRegistersWrite", &C::OnMultipleRegistersWrite),
        MakeEventProperty("OnSingleCoilWrite", &C::OnSingleCoilWrite),
        MakeEventProperty("OnSingleRegisterMaskWrite", &C::OnSingleRegisterMaskWrite),
        MakeEventProperty("OnSingleRegisterWrite", &C::OnSingleRegisterWrite),
        MakeEventProperty("OnTranslateExceptionCode", &C::OnTranslateExceptionCode),
        MakeProperty<C, uint8_t>("ServerAddress", TPropKind::Unsigned, &C::ServerAddress,
                                 &C::SetServerAddress, uint64_t{1}),
    };
}

std::vector<TPropInfo> ServerProperties() {
    using S = TModbusServer;
    return {
        MakeProperty<S, uint8_t>("Address", TPropKind::Unsigned, &S::Address, &S::SetAddress, uint64_t{1}),
        MakeComponentProperty<S, TModbusConnection>("Connection", "TModbusConnection", &S::Connection,
                                                    &S::SetConnection),
        MakeEventProperty("OnAcceptCommand", &S::OnAcceptCommand),
        MakeEventProperty("OnCanReadCoil", &S::OnCanReadCoil),
        MakeEventProperty("OnCanReadDiscreteInput", &S::OnCanReadDiscreteInput),
        MakeEventProperty("OnCanReadHoldingRegister", &S::OnCanReadHoldingRegister),
        MakeEventProperty("OnCanReadInputRegister", &S::OnCanReadInputRegister),
        MakeEventProperty("OnCanWriteCoil", &S::OnCanWriteCoil),
        MakeEventProperty("OnCanWriteHoldingRegister", &S::OnCanWriteHoldingRegister),
        MakeEventProperty("OnGetCoilValue", &S::OnGetCoilValue),
        MakeEventProperty("OnGetDiscreteInputValue", &S::OnGetDiscreteInputValue),
        MakeEventProperty("OnGetHoldingRegisterValue", &S::OnGetHoldingRegisterValue),
        MakeEventProperty("OnGetInputRegisterValue", &S::OnGetInputRegisterValue),
        MakeEventProperty("OnSetCoilValue", &S::OnSetCoilValue),
        MakeEventProperty("OnSetHoldingRegisterValue", &S::OnSetHoldingRegisterValue),
    };
}

template <typename T>
TComponent* Create(TComponent* Owner) {
    return new T(Owner);
}

// Registered when the library is loaded, before any form can be read.
const bool registeredAtLoad = (RegisterQuelvanClasses(), true);

}  // namespace

const TClassInfo& TModbusConnection::StaticClassInfo() {
    static const TClassInfo info("TModbusConnection", &platform::ComponentClassInfo(),
                                 Create<TModbusConnection>, ConnectionProperties());
    return info;
}
const TClassInfo& TModbusConnection::ClassInfo() const { return StaticClassInfo(); }

const TClassInfo& TModbusClient::StaticClassInfo() {
    static const TClassInfo info("TModbusClient", &platform::ComponentClassInfo(), Create<TModbusClient>,
                                 ClientProperties());
    return info;
}
const TClassInfo& TModbusClient::ClassInfo() const { return StaticClassInfo(); }

const TClassInfo& TModbusServer::StaticClassInfo() {
    static const TClassInfo info("TModbusServer", &platform::ComponentClassInfo(), Create<TModbusServer>,
                                 ServerProperties());
    return info;
}
const TClassInfo& TModbusServer::ClassInfo() const { return StaticClassInfo(); }

void RegisterQuelvanClasses() {
    platform::RegisterClass(TModbusConnection::StaticClassInfo());
    platform::RegisterClass(TModbusClient::StaticClassInfo());
    platform::RegisterClass(TModbusServer::StaticClassInfo());
}

}  // namespace quelvan
