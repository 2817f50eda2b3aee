// Any request frame to a server with handlers, processed as the transaction thread's dispatch
// processes it: TModbusServer::ProcessRequest on a server-mode connection open on the fake
// device, in RTU and ASCII. The reply must be a frame a client accepts, from this server, for
// this command; a normal reply must carry what the handlers said and echo what was written;
// a refused write must store nothing.
//
// Input: byte 0 picks the mode, the address (this server, broadcast) and whether the handlers
// come from an item map or from the policy in bytes 1-4; the rest is the PDU, to which the
// checksum is added (the thread hands over only frames whose checksum holds).

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/application.h"
#include "platform/fake_serial_device.h"
#include "quelvan/errors.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"
#include "quelvan/pdu_reader.h"

using namespace quelvan;

namespace {

constexpr uint8_t kAddress = 5;

void Require(bool Condition) {
    if (!Condition) std::abort();
}

// Decisions of hand-written handlers: which commands are accepted, from which address items
// are refused and how, and the values items report.
struct TPolicy {
    uint8_t AcceptMask = 0xFF;    // bit i: the i-th served command
    uint16_t RefuseFrom = 0xFFFF;  // items at or above are refused
    TItemWriteStatus Refusal = iwsIllegalAddress;
    uint8_t Salt = 0;
    int Sets = 0;                  // item writes made
};

uint16_t ValueOf(uint16_t Address, uint8_t Salt) { return static_cast<uint16_t>(Address * 31 + Salt); }

int ServedIndex(uint8_t Command) {
    constexpr uint8_t served[] = {mcReadCoils, mcReadDiscreteInputs, mcReadHoldingRegisters, mcReadInputRegisters,
                                  mcWriteSingleCoil, mcWriteSingleRegister, mcWriteMultipleCoils,
                                  mcWriteMultipleRegisters};
    for (int i = 0; i < 8; ++i)
        if (served[i] == Command) return i;
    return -1;
}

struct TRig {
    explicit TRig(TTransmissionMode Mode) {
        connection.SetTransmissionMode(Mode);
        connection.SetConnectionMode(cmServer);
        connection.SetSerialDeviceFactory(platform::FakeSerialDeviceFactory(line));
        connection.SetPort("/dev/fake");
        server.SetAddress(kAddress);
        server.SetConnection(&connection);
        connection.Open();
        items.Define(ikCoil, 0, 100);
        items.Define(ikDiscreteInput, 50, 100);
        items.Define(ikHoldingRegister, 10, 60);
        items.Define(ikInputRegister, 0xFF00, 0x100);
        items.OnChanged = [this](TItemKind, uint16_t, uint16_t) { ++policy.Sets; };
    }

    void UseItems() { items.Attach(server); }

    void UsePolicy() {
        TPolicy& p = policy;
        server.OnAcceptCommand = [&p](TModbusServer&, uint8_t C, bool& Accept) {
            const int i = ServedIndex(C);
            Accept = i < 0 || (p.AcceptMask >> i & 1);
        };
        auto canRead = [&p](TModbusServer&, uint16_t A, bool& Allow) { Allow = A < p.RefuseFrom; };
        server.OnCanReadCoil = canRead;
        server.OnCanReadDiscreteInput = canRead;
        server.OnCanReadHoldingRegister = canRead;
        server.OnCanReadInputRegister = canRead;
        server.OnCanWriteCoil = [&p](TModbusServer&, uint16_t A, bool, TItemWriteStatus& S) {
            S = A < p.RefuseFrom ? iwsAllowWrite : p.Refusal;
        };
        server.OnCanWriteHoldingRegister = [&p](TModbusServer&, uint16_t A, uint16_t, TItemWriteStatus& S) {
            S = A < p.RefuseFrom ? iwsAllowWrite : p.Refusal;
        };
        auto getBit = [&p](TModbusServer&, uint16_t A, bool& V) { V = ValueOf(A, p.Salt) & 1; };
        server.OnGetCoilValue = getBit;
        server.OnGetDiscreteInputValue = getBit;
        auto getReg = [&p](TModbusServer&, uint16_t A, uint16_t& V) { V = ValueOf(A, p.Salt); };
        server.OnGetHoldingRegisterValue = getReg;
        server.OnGetInputRegisterValue = getReg;
        server.OnSetCoilValue = [&p](TModbusServer&, uint16_t, bool) { ++p.Sets; };
        server.OnSetHoldingRegisterValue = [&p](TModbusServer&, uint16_t, uint16_t) { ++p.Sets; };
    }

    std::shared_ptr<platform::TFakeSerialLine> line = std::make_shared<platform::TFakeSerialLine>();
    TModbusConnection connection;
    TModbusServer server;
    TModbusItemMap items;
    TPolicy policy;
};

// The request's first two words, when it has them.
bool TwoWords(TModbusBuffer& Request, TTransmissionMode Mode, uint16_t& First, uint16_t& Second) {
    try {
        TPduReader r(Request, Mode);
        First = r.ReadWord();
        Second = r.ReadWord();
        return true;
    } catch (const EQuelvanError&) {
        return false;
    }
}

void Check(TRig& Rig, TModbusTransaction& T, bool Broadcast, bool UsesItems) {
    TModbusConnection& c = Rig.connection;
    const TTransmissionMode mode = c.TransmissionMode();
    TModbusBuffer& request = T.RequestBuffer();
    TModbusBuffer& reply = T.ReplyBuffer();
    const uint8_t command = c.PeekFunctionCode(request);
    const bool write = command == mcWriteSingleCoil || command == mcWriteSingleRegister ||
                       command == mcWriteMultipleCoils || command == mcWriteMultipleRegisters;
    if (reply.Size() == 0) {
        // Only a broadcast goes unanswered; the server builds no reply to a broadcast write.
        Require(Broadcast);
        return;
    }
    Require(!(Broadcast && write));
    const TFrameCodec client(mode, cmClient);
    Require(reply.Size() <= reply.Capacity() && client.IsFrameValid(reply));
    Require(client.PeekAddress(reply) == kAddress);
    const uint8_t answered = client.PeekFunctionCode(reply);
    if (client.IsExceptionReply(reply) || answered == (command | 0x80)) {
        // Commands 0 and 0x80 and above do not exist: their refusal cannot look like one.
        const bool real = command > 0 && command < 0x80;
        Require(!real || (client.IsExceptionReply(reply) && answered == (command | 0x80)));
        uint8_t code = 0, raw = 0;
        client.ReadExceptionCode(reply, code, raw);
        Require(raw >= ecIllegalCommand && raw <= ecIllegalDataValue);
        if (ServedIndex(command) < 0) Require(raw == ecIllegalCommand);
        if (write) Require(Rig.policy.Sets == 0);  // all or nothing
        return;
    }
    Require(answered == command && ServedIndex(command) >= 0);
    uint16_t first = 0, second = 0;
    Require(TwoWords(request, mode, first, second));
    TPduReader r(reply, mode);
    switch (command) {
    case mcReadCoils:
    case mcReadDiscreteInputs: {
        Require(second >= 1 && r.ReadByte() == (second + 7) / 8 && r.Remaining() == (second + 7) / 8);
        TBitValues bits(second);
        r.ReadBits(bits);
        for (uint16_t i = 0; i < second; ++i) {
            const auto a = static_cast<uint16_t>(first + i);
            const bool expected = UsesItems ? Rig.items.Value(command == mcReadCoils ? ikCoil : ikDiscreteInput, a) != 0
                                            : (ValueOf(a, Rig.policy.Salt) & 1) != 0;
            Require(bits[i] == expected);
        }
        break;
    }
    case mcReadHoldingRegisters:
    case mcReadInputRegisters:
        Require(second >= 1 && r.ReadByte() == 2 * second && r.Remaining() == 2 * second);
        for (uint16_t i = 0; i < second; ++i) {
            const auto a = static_cast<uint16_t>(first + i);
            const uint16_t expected =
                UsesItems ? Rig.items.Value(command == mcReadHoldingRegisters ? ikHoldingRegister : ikInputRegister, a)
                          : ValueOf(a, Rig.policy.Salt);
            Require(r.ReadWord() == expected);
        }
        break;
    default:  // the writes echo address and value, or start and count
        Require(r.ReadWord() == first && r.ReadWord() == second && r.Remaining() == 0);
        Require(Rig.policy.Sets == (command == mcWriteSingleCoil || command == mcWriteSingleRegister ? 1 : second));
        if (UsesItems && command == mcWriteSingleRegister) Require(Rig.items.Value(ikHoldingRegister, first) == second);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TRig* rigs[2] = {new TRig(tmRTU), new TRig(tmASCII)};
    if (Size < 5) return 0;
    TRig& rig = *rigs[Data[0] & 1];
    const bool broadcast = (Data[0] & 2) != 0;
    const bool usesItems = (Data[0] & 4) != 0;
    rig.policy = TPolicy{Data[1], static_cast<uint16_t>(Data[2] << 8 | Data[3]),
                         (Data[4] & 1) ? iwsIllegalValue : iwsIllegalAddress, Data[4], 0};
    if (usesItems) rig.UseItems();
    else rig.UsePolicy();

    TModbusConnection& c = rig.connection;
    TModbusTransaction t(c.MaxFrameSize());
    const uint8_t address = broadcast ? 0 : kAddress;
    t.RequestBuffer().WriteByte(address);
    const int32_t room = t.RequestBuffer().Capacity() - 1 - (c.TransmissionMode() == tmRTU ? 2 : 1);
    for (size_t i = 5; i < Size && static_cast<int32_t>(i - 5) < room; ++i) t.RequestBuffer().WriteByte(Data[i]);
    c.WriteChecksum(t.RequestBuffer());
    if (!c.Codec().IsFrameValid(t.RequestBuffer())) return 0;  // the thread drops it before dispatch
    t.Info().ServerAddress = address;
    rig.server.ProcessRequest(t);
    Check(rig, t, broadcast, usesItems);
    return 0;
}
