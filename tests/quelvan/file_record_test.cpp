#include "quelvan/file_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "quelvan/errors.h"

namespace quelvan {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

TRegValues ValuesOf(const TModbusFileRecord& record) {
    TRegValues values;
    for (int32_t i = 0; i < record.RegCount(); ++i) values.push_back(record.RegValues(i));
    return values;
}

TEST(FileRecord, RangeMustEndAtRegister9999) {
    struct Case {
        uint16_t start;
        int32_t count;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {9990, 10, nullptr},
        {9990, 11, "Starting register index is invalid (9990)"},
        {0, 10000, nullptr},
        {0, 10001, "Starting register index is invalid (0)"},
        {9999, 0, nullptr},
        {65535, 1, "Starting register index is invalid (65535)"},
        {0, -1, "Value must be between 0 and 10000"},
        {100, INT32_MIN, "Value must be between 0 and 10000"},
    };
    for (const Case& c : cases) {
        if (!c.error) {
            TModbusFileRecord record(7, c.start, c.count);
            EXPECT_EQ(record.FileNumber(), 7);
            EXPECT_EQ(record.StartReg(), c.start);
            EXPECT_EQ(record.RegCount(), c.count);
            EXPECT_EQ(ValuesOf(record), TRegValues(static_cast<size_t>(c.count), 0));
            continue;
        }
        EXPECT_THAT([&] { TModbusFileRecord record(7, c.start, c.count); },
                    ThrowsMessage<EQuelvanError>(StrEq(c.error)));
        TModbusFileRecord record(7, 5, 2);
        record.SetRegValues(1, 0x1234);
        EXPECT_THAT([&] { record.SetRange(c.start, c.count); },
                    ThrowsMessage<EQuelvanError>(StrEq(c.error)));
        EXPECT_EQ(record.StartReg(), 5);
        EXPECT_EQ(ValuesOf(record), (TRegValues{0, 0x1234}));
    }
}

TEST(FileRecord, SetRangeKeepsTheValuesThatRemain) {
    TModbusFileRecord record(1, 10, 3);
    for (int32_t i = 0; i < 3; ++i) record.SetRegValues(i, static_cast<uint16_t>(100 + i));
    record.SetRange(20, 5);
    EXPECT_EQ(record.StartReg(), 20);
    EXPECT_EQ(ValuesOf(record), (TRegValues{100, 101, 102, 0, 0}));
    record.SetRange(30, 2);
    EXPECT_EQ(ValuesOf(record), (TRegValues{100, 101}));
    record.SetRange(30, 0);
    EXPECT_EQ(record.RegCount(), 0);
}

TEST(FileRecord, IndexOutsideTheRecordIsRefusedForReadsAndWrites) {
    TModbusFileRecord record(1, 0, 2);
    for (int32_t index : {-1, 2, INT32_MAX}) {
        const std::string message = "Register index is invalid (" + std::to_string(index) + ")";
        EXPECT_THAT([&] { record.SetRegValues(index, 1); },
                    ThrowsMessage<EQuelvanError>(StrEq(message)));
        EXPECT_THAT([&] { record.RegValues(index); }, ThrowsMessage<EQuelvanError>(StrEq(message)));
    }
    EXPECT_EQ(ValuesOf(record), (TRegValues{0, 0}));
}

TEST(FileRecordList, KeepsInsertionOrderAndOwnsItsRecords) {
    TModbusFileRecordList list;
    EXPECT_EQ(list.Count(), 0);
    TModbusFileRecord& first = list.Add(1, 0, 2);
    list.Add(2, 100, 1);
    list.Add(3, 200, 0);
    first.SetRegValues(1, 42);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(&list.Items(0), &first);
    EXPECT_EQ(list.Items(0).RegValues(1), 42);
    EXPECT_EQ(list.Items(1).FileNumber(), 2);

    // Records keep their identity when others are deleted.
    TModbusFileRecord* third = &list.Items(2);
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(&list.Items(1), third);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Add(4, 0, 1);
    EXPECT_EQ(list.Items(0).FileNumber(), 4);
}

TEST(FileRecordList, BadIndexOrBadRecordLeavesTheListUnchanged) {
    TModbusFileRecordList list;
    list.Add(1, 0, 1);
    EXPECT_THAT([&] { list.Add(2, 9990, 11); },
                ThrowsMessage<EQuelvanError>(StrEq("Starting register index is invalid (9990)")));
    EXPECT_EQ(list.Count(), 1);
    for (int32_t index : {-1, 1}) {
        const std::string message = "List index out of bounds (" + std::to_string(index) + ")";
        EXPECT_THAT([&] { list.Items(index); }, ThrowsMessage<EQuelvanError>(StrEq(message)));
        EXPECT_THAT([&] { std::as_const(list).Items(index); },
                    ThrowsMessage<EQuelvanError>(StrEq(message)));
        EXPECT_THAT([&] { list.Delete(index); }, ThrowsMessage<EQuelvanError>(StrEq(message)));
    }
    EXPECT_EQ(list.Count(), 1);
}

}  // namespace
}  // namespace quelvan
