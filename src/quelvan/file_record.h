#pragma once
// Records of the file-record commands (Read/Write File Record): a run of registers of one file.
// A record's registers are numbered 0 to 9999, so StartReg + RegCount - 1 <= 9999 always holds.

#include <cstdint>
#include <memory>
#include <vector>

#include "quelvan/item_values.h"

namespace quelvan {

class TModbusFileRecord {
public:
    // Raises as SetRange does; no record exists then.
    TModbusFileRecord(uint16_t FileNumber, uint16_t StartReg, int32_t RegCount);

    uint16_t FileNumber() const noexcept { return fileNumber_; }
    uint16_t StartReg() const noexcept { return startReg_; }
    int32_t RegCount() const noexcept { return static_cast<int32_t>(regValues_.size()); }

    // Index 0 to RegCount - 1; any other raises "Register index is invalid (%d)".
    uint16_t RegValues(int32_t Index) const;
    void SetRegValues(int32_t Index, uint16_t Value);

    // Moves the record to StartReg and resizes it to RegCount registers, keeping the values that
    // remain and adding zeros. A range past register 9999 raises "Starting register index is
    // invalid (%d)" with StartReg, a negative RegCount "Value must be between 0 and 10000"; the
    // record is unchanged then.
    void SetRange(uint16_t StartReg, int32_t RegCount);

private:
    void CheckIndex(int32_t Index) const;

    uint16_t fileNumber_;
    uint16_t startReg_ = 0;
    TRegValues regValues_;
};

// An ordered list that owns its records; the order is the order of the sub-requests on the wire.
// A record obtained from the list lives until it is deleted or the list is cleared or destroyed.
class TModbusFileRecordList {
public:
    TModbusFileRecordList() = default;
    TModbusFileRecordList(const TModbusFileRecordList&) = delete;
    TModbusFileRecordList& operator=(const TModbusFileRecordList&) = delete;

    // Creates and appends a record; when the record's checks fail the list is unchanged.
    TModbusFileRecord& Add(uint16_t FileNumber, uint16_t StartReg, int32_t RegCount);
    void Clear() noexcept { records_.clear(); }
    // A bad index raises "List index out of bounds (%d)".
    void Delete(int32_t Index);
    TModbusFileRecord& Items(int32_t Index);
    const TModbusFileRecord& Items(int32_t Index) const;
    int32_t Count() const noexcept { return static_cast<int32_t>(records_.size()); }

private:
    void CheckIndex(int32_t Index) const;

    std::vector<std::unique_ptr<TModbusFileRecord>> records_;
};

// The checks the client's file-record calls make before anything is queued, for callers that
// validate a list ahead of time: an empty list raises "The file record list is empty"; a list
// whose request (or, for a read, whose reply) would not fit a frame raises "The file record
// request does not fit in a frame (%d bytes of PDU, at most %d)".
void ValidateFileRecordList(const TModbusFileRecordList& List, bool Write);

}  // namespace quelvan
