// Any reply to any request, processed as the connection delivers a finished transaction:
// TModbusClient::ProcessReply on a client-mode connection open on the fake device, in RTU
// and ASCII. Exactly one event fires, for the request's own command, with the request's
// addresses and counts whatever the reply says; its outcome is normal only when the reply
// fits, and then the values are the reply's.
//
// Input: byte 0 picks the mode, the command and the reply's shape; bytes 1-6 the request's
// fields; the rest is the reply after the address and command (the checksum is added, as the
// thread only delivers frames whose checksum holds), or, for one shape, the whole reply
// buffer as it is, with the outcome forced to normal.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/fake_serial_device.h"
#include "quelvan/bit_packing.h"
#include "quelvan/errors.h"
#include "quelvan/function_catalogue.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/pdu_reader.h"
#include "quelvan/request_builder.h"

using namespace quelvan;

namespace {

void Require(bool Condition) {
    if (!Condition) std::abort();
}

constexpr uint8_t kCommands[] = {mcReadCoils, mcReadDiscreteInputs, mcReadHoldingRegisters, mcReadInputRegisters,
                                 mcWriteSingleCoil, mcWriteSingleRegister, mcDiagnostics, mcWriteMultipleCoils,
                                 mcWriteMultipleRegisters, mcReadFileRecord, mcWriteFileRecord, mcMaskWriteRegister};

struct TSeen {
    int Events = 0;
    uint8_t Command = 0;
    TTransactionInfo Info{};
    uint16_t Start = 0, Count = 0;
    std::vector<uint16_t> Values;
};

struct TRig {
    explicit TRig(TTransmissionMode Mode) {
        connection.SetTransmissionMode(Mode);
        connection.SetSerialDeviceFactory(platform::FakeSerialDeviceFactory(line));
        connection.SetPort("/dev/fake");
        client.SetServerAddress(1);
        client.SetConnection(&connection);
        connection.Open();
        auto bits = [this](uint8_t C) {
            return [this, C](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t N, const TBitValues& V) {
                Seen(C, I, S, N, std::vector<uint16_t>(V.begin(), V.end()));
            };
        };
        auto regs = [this](uint8_t C) {
            return [this, C](TModbusClient&, const TTransactionInfo& I, uint16_t S, uint16_t N, const TRegValues& V) {
                Seen(C, I, S, N, V);
            };
        };
        auto files = [this](uint8_t C) {
            return [this, C](TModbusClient&, const TTransactionInfo& I, TModbusFileRecordList& L) {
                std::vector<uint16_t> v;
                for (int32_t i = 0; i < L.Count(); ++i)
                    for (int32_t k = 0; k < L.Items(i).RegCount(); ++k) v.push_back(L.Items(i).RegValues(k));
                Seen(C, I, 0, static_cast<uint16_t>(L.Count()), v);
            };
        };
        client.OnCoilsRead = bits(mcReadCoils);
        client.OnDiscreteInputsRead = bits(mcReadDiscreteInputs);
        client.OnMultipleCoilsWrite = bits(mcWriteMultipleCoils);
        client.OnHoldingRegistersRead = regs(mcReadHoldingRegisters);
        client.OnInputRegistersRead = regs(mcReadInputRegisters);
        client.OnMultipleRegistersWrite = regs(mcWriteMultipleRegisters);
        client.OnFileRecordRead = files(mcReadFileRecord);
        client.OnFileRecordWrite = files(mcWriteFileRecord);
        client.OnSingleCoilWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, bool V) {
            Seen(mcWriteSingleCoil, I, A, 1, {static_cast<uint16_t>(V)});
        };
        client.OnSingleRegisterWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, uint16_t V) {
            Seen(mcWriteSingleRegister, I, A, 1, {V});
        };
        client.OnDiagnostics = [this](TModbusClient&, const TTransactionInfo& I, TDiagnosticAction A, uint16_t R) {
            Seen(mcDiagnostics, I, static_cast<uint16_t>(A), 0, {R});
        };
        client.OnSingleRegisterMaskWrite = [this](TModbusClient&, const TTransactionInfo& I, uint16_t A, uint16_t And,
                                                  uint16_t Or) { Seen(mcMaskWriteRegister, I, A, 0, {And, Or}); };
    }

    void Seen(uint8_t C, const TTransactionInfo& I, uint16_t S, uint16_t N, std::vector<uint16_t> V) {
        ++seen.Events;
        seen.Command = C;
        seen.Info = I;
        seen.Start = S;
        seen.Count = N;
        seen.Values = std::move(V);
    }

    std::shared_ptr<platform::TFakeSerialLine> line = std::make_shared<platform::TFakeSerialLine>();
    TModbusConnection connection;
    TModbusClient client;
    TSeen seen;
};

// The request for Command with fields from P (6 bytes); its start and count as the event
// must report them.
void BuildRequest(TModbusBuffer& B, uint8_t Command, const uint8_t* P, uint16_t& Start, uint16_t& Count,
                  std::vector<uint16_t>& Written) {
    const auto w0 = static_cast<uint16_t>(P[0] << 8 | P[1]);
    const auto w1 = static_cast<uint16_t>(P[2] << 8 | P[3]);
    const auto w2 = static_cast<uint16_t>(P[4] << 8 | P[5]);
    Start = w0;
    switch (Command) {
    case mcReadCoils:
    case mcReadDiscreteInputs:
        Count = static_cast<uint16_t>(1 + w1 % 2000);
        WriteTwoWordRequest(B, Command, Start, Count);
        break;
    case mcReadHoldingRegisters:
    case mcReadInputRegisters:
        Count = static_cast<uint16_t>(1 + w1 % 125);
        WriteTwoWordRequest(B, Command, Start, Count);
        break;
    case mcWriteSingleCoil:
        Count = 1;
        Written = {static_cast<uint16_t>(w1 & 1)};
        WriteTwoWordRequest(B, Command, Start, (w1 & 1) ? CoilOn : CoilOff);
        break;
    case mcWriteSingleRegister:
        Count = 1;
        Written = {w1};
        WriteTwoWordRequest(B, Command, Start, w1);
        break;
    case mcDiagnostics: {
        const auto action = static_cast<TDiagnosticAction>(P[0] % DiagnosticActionCount);
        Start = action;
        WriteTwoWordRequest(B, Command, DiagnosticSubFunction(action), DiagnosticRequestData(action));
        break;
    }
    case mcWriteMultipleCoils: {
        Count = static_cast<uint16_t>(1 + w1 % 1968);
        TBitValues bits(Count);
        for (uint16_t i = 0; i < Count; ++i) bits[i] = ((w2 >> (i % 16)) & 1) != 0;
        Written.assign(bits.begin(), bits.end());
        WriteMultipleCoilsRequest(B, Start, bits);
        break;
    }
    case mcWriteMultipleRegisters: {
        Count = static_cast<uint16_t>(1 + w1 % 123);
        TRegValues regs(Count);
        for (uint16_t i = 0; i < Count; ++i) regs[i] = static_cast<uint16_t>(w2 + i);
        Written = regs;
        WriteMultipleRegistersRequest(B, Start, regs);
        break;
    }
    case mcReadFileRecord:
    case mcWriteFileRecord: {
        const int records = 1 + P[2] % 3;
        const int regs = 1 + P[3] % 4;
        Start = 0;
        Count = static_cast<uint16_t>(records);
        B.WriteByte(Command);
        B.WriteByte(static_cast<uint8_t>(records * (Command == mcReadFileRecord ? 7 : 7 + 2 * regs)));
        for (int r = 0; r < records; ++r) {
            B.WriteByte(FileRecordReferenceType);
            B.WriteWord(static_cast<uint16_t>(1 + r));
            B.WriteWord(static_cast<uint16_t>(w0 % 9000));
            B.WriteWord(static_cast<uint16_t>(regs));
            if (Command == mcWriteFileRecord)
                for (int k = 0; k < regs; ++k) {
                    B.WriteWord(static_cast<uint16_t>(w2 + k));
                    Written.push_back(static_cast<uint16_t>(w2 + k));
                }
        }
        break;
    }
    default:  // mask write
        Start = w0;
        Written = {w1, w2};
        B.WriteByte(Command);
        B.WriteWord(w0);
        B.WriteWord(w1);
        B.WriteWord(w2);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TRig* rigs[2] = {new TRig(tmRTU), new TRig(tmASCII)};
    if (Size < 7) return 0;
    TRig& rig = *rigs[Data[0] & 1];
    TModbusConnection& c = rig.connection;
    const TTransmissionMode mode = c.TransmissionMode();
    const uint8_t command = kCommands[((Data[0] >> 1) & 0x1F) % 12];
    const int shape = Data[0] >> 6;  // 0-1: a framed reply, 2: an exception reply, 3: raw bytes

    TModbusTransaction t(c.MaxFrameSize());
    uint16_t start = 0, count = 0;
    std::vector<uint16_t> written;
    t.RequestBuffer().WriteByte(1);
    BuildRequest(t.RequestBuffer(), command, Data + 1, start, count, written);
    c.WriteChecksum(t.RequestBuffer());
    t.Info().ServerAddress = 1;

    TModbusBuffer& reply = t.ReplyBuffer();
    const uint8_t* body = Data + 7;
    const size_t bodySize = Size - 7;
    const int32_t room = reply.Capacity() - (mode == tmRTU ? 2 : 1);
    if (shape == 3) {
        for (size_t i = 0; i < bodySize && static_cast<int32_t>(i) < reply.Capacity(); ++i) reply.WriteByte(body[i]);
        t.Info().Reply = rkNormalReply;
    } else {
        reply.WriteByte(1);
        reply.WriteByte(shape == 2 ? static_cast<uint8_t>(command | 0x80) : command);
        for (size_t i = 0; i < bodySize && static_cast<int32_t>(i) + 2 < room; ++i) reply.WriteByte(body[i]);
        c.WriteChecksum(reply);
        // Classified as the thread classifies (the frame is valid and matches).
        const TFrameCodec& codec = c.Codec();
        if (!codec.IsFrameValid(reply)) {
            t.Info().Reply = rkNoReply;
        } else if (codec.IsExceptionReply(reply)) {
            t.Info().Reply = rkExceptionReply;
            codec.ReadExceptionCode(reply, t.Info().ExceptionCode, t.Info().RawExceptionCode);
        } else {
            t.Info().Reply = rkNormalReply;
        }
    }
    const TReplyKind verdict = t.Info().Reply;

    rig.seen = TSeen{};
    rig.client.ProcessReply(t);
    const TSeen& e = rig.seen;
    Require(e.Events == 1 && e.Command == command);
    if (verdict != rkNormalReply) Require(e.Info.Reply == verdict);
    else Require(e.Info.Reply == rkNormalReply || e.Info.Reply == rkUnmatchedReply);
    if (command == mcReadFileRecord || command == mcWriteFileRecord) {
        Require(e.Count == count);
        if (command == mcWriteFileRecord) Require(e.Values == written);
        return 0;
    }
    if (command == mcDiagnostics) {
        Require(e.Start == start);
        return 0;
    }
    if (command == mcMaskWriteRegister) {
        Require(e.Start == start && e.Values == written);
        return 0;
    }
    Require(e.Start == start && e.Count == count && e.Values.size() == count);
    if (!written.empty()) {
        Require(e.Values == written);
        return 0;
    }
    // A read: zeros unless normal; when normal, exactly the reply's values.
    if (e.Info.Reply != rkNormalReply) {
        for (uint16_t v : e.Values) Require(v == 0);
        return 0;
    }
    TPduReader r(reply, mode);
    const uint8_t bytes = r.ReadByte();
    if (command == mcReadCoils || command == mcReadDiscreteInputs) {
        Require(bytes == BitByteCount(count));
        TBitValues bits(count);
        r.ReadBits(bits);
        for (uint16_t i = 0; i < count; ++i) Require(e.Values[i] == bits[i]);
    } else {
        Require(bytes / 2 == count);
        for (uint16_t i = 0; i < count; ++i) Require(e.Values[i] == r.ReadWord());
    }
    return 0;
}
