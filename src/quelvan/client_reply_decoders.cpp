// Reply processing of TModbusClient: one decoder per command. Each re-reads the request for the
// event's addresses and counts, reads and checks the reply only when the thread judged it a
// normal reply, and fires exactly one event. A reply whose content does not fit the request
// is reported as an unmatched reply.

#include <algorithm>

#include "quelvan/bit_packing.h"
#include "quelvan/errors.h"
#include "quelvan/modbus_client.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/pdu_reader.h"

namespace quelvan {

namespace {

// Runs Check on the reply when the outcome is a normal reply; a failed check, or a reply too
// short for its fields, downgrades the outcome.
template <typename F>
void CheckReply(TModbusTransaction& T, TTransmissionMode Mode, F Check) {
    if (T.Info().Reply != rkNormalReply) return;
    try {
        TPduReader reply(T.ReplyBuffer(), Mode);
        if (!Check(reply)) T.Info().Reply = rkUnmatchedReply;
    } catch (const EQuelvanError&) {
        T.Info().Reply = rkUnmatchedReply;
    }
}

}  // namespace

void TModbusClient::ProcessReply(TModbusTransaction& Transaction) {
    TModbusConnection& connection = CheckConnection();
    switch (connection.PeekFunctionCode(Transaction.RequestBuffer())) {
    case mcReadCoils: DecodeBitsRead(Transaction, mcReadCoils); break;
    case mcReadDiscreteInputs: DecodeBitsRead(Transaction, mcReadDiscreteInputs); break;
    case mcReadHoldingRegisters: DecodeRegistersRead(Transaction, mcReadHoldingRegisters); break;
    case mcReadInputRegisters: DecodeRegistersRead(Transaction, mcReadInputRegisters); break;
    case mcWriteSingleCoil: DecodeSingleWrite(Transaction, mcWriteSingleCoil); break;
    case mcWriteSingleRegister: DecodeSingleWrite(Transaction, mcWriteSingleRegister); break;
    case mcDiagnostics: DecodeDiagnostics(Transaction); break;
    case mcWriteMultipleCoils: DecodeMultipleCoilsWrite(Transaction); break;
    case mcWriteMultipleRegisters: DecodeMultipleRegistersWrite(Transaction); break;
    case mcReadFileRecord: DecodeFileRecordRead(Transaction); break;
    case mcWriteFileRecord: DecodeFileRecordWrite(Transaction); break;
    case mcMaskWriteRegister: DecodeMaskWrite(Transaction); break;
    default: break;
    }
}

void TModbusClient::DecodeBitsRead(TModbusTransaction& T, uint8_t Command) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t start = request.ReadWord();
    const uint16_t count = request.ReadWord();
    TBitValues values(count, false);
    CheckReply(T, mode, [&](TPduReader& reply) {
        if (reply.ReadByte() != BitByteCount(count) || count == 0) return false;
        reply.ReadBits(values);
        return true;
    });
    if (T.Info().Reply != rkNormalReply) values.assign(count, false);
    if (Command == mcReadCoils) DoCoilsRead(T.Info(), start, count, values);
    else DoDiscreteInputsRead(T.Info(), start, count, values);
}

void TModbusClient::DecodeRegistersRead(TModbusTransaction& T, uint8_t Command) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t start = request.ReadWord();
    const uint16_t count = request.ReadWord();
    TRegValues values(count, 0);
    CheckReply(T, mode, [&](TPduReader& reply) {
        if ((reply.ReadByte() >> 1) != count) return false;
        for (uint16_t& v : values) v = reply.ReadWord();
        return true;
    });
    if (T.Info().Reply != rkNormalReply) values.assign(count, 0);
    if (Command == mcReadHoldingRegisters) DoHoldingRegistersRead(T.Info(), start, count, values);
    else DoInputRegistersRead(T.Info(), start, count, values);
}

void TModbusClient::DecodeSingleWrite(TModbusTransaction& T, uint8_t Command) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t address = request.ReadWord();
    const uint16_t value = request.ReadWord();
    CheckReply(T, mode, [&](TPduReader& reply) {
        const uint16_t replyAddress = reply.ReadWord();
        return replyAddress == address && reply.ReadWord() == value;
    });
    if (Command == mcWriteSingleCoil) DoSingleCoilWrite(T.Info(), address, value == CoilOn);
    else DoSingleRegisterWrite(T.Info(), address, value);
}

void TModbusClient::DecodeDiagnostics(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t subFunction = request.ReadWord();
    const uint16_t data = request.ReadWord();
    const TDiagnosticAction action = DiagnosticActionFromRequest(subFunction, data);
    uint16_t result = 0;
    CheckReply(T, mode, [&](TPduReader& reply) {
        if (reply.ReadWord() != subFunction) return false;
        const uint16_t replyData = reply.ReadWord();
        if (DiagnosticReplyEchoes(action)) return replyData == data;
        result = replyData;
        return true;
    });
    if (T.Info().Reply != rkNormalReply) result = 0;
    DoDiagnostics(T.Info(), action, result);
}

void TModbusClient::DecodeMultipleCoilsWrite(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t start = request.ReadWord();
    const uint16_t count = request.ReadWord();
    request.ReadByte();  // byte count
    TBitValues values(count, false);
    if (count > 0) request.ReadBits(values);
    CheckReply(T, mode, [&](TPduReader& reply) {
        const uint16_t replyStart = reply.ReadWord();
        return replyStart == start && reply.ReadWord() == count;
    });
    DoMultipleCoilsWrite(T.Info(), start, count, values);
}

void TModbusClient::DecodeMultipleRegistersWrite(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t start = request.ReadWord();
    const uint16_t count = request.ReadWord();
    request.ReadByte();  // byte count
    TRegValues values(count);
    for (uint16_t& v : values) v = request.ReadWord();
    CheckReply(T, mode, [&](TPduReader& reply) {
        const uint16_t replyStart = reply.ReadWord();
        return replyStart == start && reply.ReadWord() == count;
    });
    DoMultipleRegistersWrite(T.Info(), start, count, values);
}

void TModbusClient::DecodeFileRecordRead(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const int subRequests = request.ReadByte() / 7;
    TModbusFileRecordList records;
    for (int i = 0; i < subRequests; ++i) {
        request.ReadByte();  // reference type
        const uint16_t file = request.ReadWord();
        const uint16_t start = request.ReadWord();
        records.Add(file, start, request.ReadWord());
    }
    CheckReply(T, mode, [&](TPduReader& reply) {
        int32_t expected = 0;
        for (int32_t i = 0; i < records.Count(); ++i) expected += 2 + 2 * records.Items(i).RegCount();
        if (reply.ReadByte() != expected) return false;
        for (int32_t i = 0; i < records.Count(); ++i) {
            TModbusFileRecord& record = records.Items(i);
            if (reply.ReadByte() != 1 + 2 * record.RegCount()) return false;
            if (reply.ReadByte() != FileRecordReferenceType) return false;
            for (int32_t k = 0; k < record.RegCount(); ++k) record.SetRegValues(k, reply.ReadWord());
        }
        return true;
    });
    DoFileRecordRead(T.Info(), records);
}

void TModbusClient::DecodeFileRecordWrite(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const int32_t before = request.Remaining();
    const int32_t byteCount = request.ReadByte();
    const int32_t end = before - 1 - byteCount;  // what remains once the records are read
    TModbusFileRecordList records;
    while (request.Remaining() > end && request.Remaining() > 0) {
        request.ReadByte();  // reference type
        const uint16_t file = request.ReadWord();
        const uint16_t start = request.ReadWord();
        TModbusFileRecord& record = records.Add(file, start, request.ReadWord());
        for (int32_t k = 0; k < record.RegCount(); ++k) record.SetRegValues(k, request.ReadWord());
    }
    CheckReply(T, mode, [&](TPduReader&) {
        const TModbusBuffer& req = T.RequestBuffer();
        const TModbusBuffer& rep = T.ReplyBuffer();
        return rep.Size() == req.Size() &&
               std::equal(req.Data(), req.Data() + req.Size(), rep.Data());
    });
    DoFileRecordWrite(T.Info(), records);
}

void TModbusClient::DecodeMaskWrite(TModbusTransaction& T) {
    const TTransmissionMode mode = connection_->TransmissionMode();
    TPduReader request(T.RequestBuffer(), mode);
    const uint16_t address = request.ReadWord();
    const uint16_t andMask = request.ReadWord();
    const uint16_t orMask = request.ReadWord();
    CheckReply(T, mode, [&](TPduReader& reply) {
        const uint16_t a = reply.ReadWord();
        const uint16_t m = reply.ReadWord();
        return a == address && m == andMask && reply.ReadWord() == orMask;
    });
    DoSingleRegisterMaskWrite(T.Info(), address, andMask, orMask);
}

}  // namespace quelvan
