#include "quelvan/file_record.h"

#include <algorithm>

#include "quelvan/errors.h"

namespace quelvan {

namespace {
constexpr int32_t RegisterLimit = 10000;  // registers of a file are numbered 0 to 9999
}

TModbusFileRecord::TModbusFileRecord(uint16_t FileNumber, uint16_t StartReg, int32_t RegCount)
    : fileNumber_(FileNumber) {
    SetRange(StartReg, RegCount);
}

void TModbusFileRecord::CheckIndex(int32_t Index) const {
    if (Index < 0 || Index >= RegCount()) RaiseErrorFmt(msgRegisterIndex, {Index});
}

uint16_t TModbusFileRecord::RegValues(int32_t Index) const {
    CheckIndex(Index);
    return regValues_[static_cast<size_t>(Index)];
}

void TModbusFileRecord::SetRegValues(int32_t Index, uint16_t Value) {
    CheckIndex(Index);
    regValues_[static_cast<size_t>(Index)] = Value;
}

void TModbusFileRecord::SetRange(uint16_t StartReg, int32_t RegCount) {
    if (RegCount < 0) RaiseErrorFmt(msgValueRange, {0, RegisterLimit});
    if (int64_t{StartReg} + RegCount > RegisterLimit) RaiseErrorFmt(msgStartRegisterIndex, {StartReg});
    regValues_.resize(static_cast<size_t>(RegCount), 0);
    startReg_ = StartReg;
}

TModbusFileRecord& TModbusFileRecordList::Add(uint16_t FileNumber, uint16_t StartReg,
                                               int32_t RegCount) {
    auto record = std::make_unique<TModbusFileRecord>(FileNumber, StartReg, RegCount);
    records_.push_back(std::move(record));
    return *records_.back();
}

void TModbusFileRecordList::CheckIndex(int32_t Index) const {
    if (Index < 0 || Index >= Count()) RaiseErrorFmt(msgListIndex, {Index});
}

void TModbusFileRecordList::Delete(int32_t Index) {
    CheckIndex(Index);
    records_.erase(records_.begin() + Index);
}

TModbusFileRecord& TModbusFileRecordList::Items(int32_t Index) {
    CheckIndex(Index);
    return *records_[static_cast<size_t>(Index)];
}

const TModbusFileRecord& TModbusFileRecordList::Items(int32_t Index) const {
    CheckIndex(Index);
    return *records_[static_cast<size_t>(Index)];
}

namespace {
// The largest PDU (command byte and data) any frame carries.
constexpr int32_t MaxPDUSize = 253;
}  // namespace

// A file-record request must fit a frame with its byte count in one byte; so must the reply of
// a read, or no server could answer it.
void ValidateFileRecordList(const TModbusFileRecordList& List, bool Write) {
    if (List.Count() == 0) RaiseError(msgFileRecordListEmpty);
    int32_t requestBytes = 0, replyBytes = 0;
    for (int32_t i = 0; i < List.Count(); ++i) {
        const int32_t regs = List.Items(i).RegCount();
        requestBytes += Write ? 7 + 2 * regs : 7;
        replyBytes += 2 + 2 * regs;
    }
    const int32_t worst = Write ? requestBytes : std::max(requestBytes, replyBytes);
    if (worst > 255 || 2 + worst > MaxPDUSize) RaiseErrorFmt(msgFileRecordTooLarge, {2 + worst, MaxPDUSize});
}

}  // namespace quelvan
