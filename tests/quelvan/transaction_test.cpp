#include "quelvan/transaction.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace quelvan {
namespace {

// The record's fields keep their documented order (applications may rely on its layout).
static_assert(offsetof(TTransactionInfo, ID) < offsetof(TTransactionInfo, ServerAddress));
static_assert(offsetof(TTransactionInfo, ServerAddress) < offsetof(TTransactionInfo, UserData));
static_assert(offsetof(TTransactionInfo, UserData) < offsetof(TTransactionInfo, Attempts));
static_assert(offsetof(TTransactionInfo, Attempts) < offsetof(TTransactionInfo, Reply));
static_assert(offsetof(TTransactionInfo, Reply) < offsetof(TTransactionInfo, ExceptionCode));
static_assert(offsetof(TTransactionInfo, ExceptionCode) <
              offsetof(TTransactionInfo, RawExceptionCode));
static_assert(sizeof(TReplyKind) == 1);
static_assert(rkNoReply == 0 && rkUnmatchedReply == 1 && rkExceptionReply == 2 && rkNormalReply == 3);

TEST(Transaction, StartsWithEmptyBuffersOfTheCapacityAndAZeroInfo) {
    TModbusTransaction transaction(256);
    for (TModbusBuffer* buffer : {&transaction.RequestBuffer(), &transaction.ReplyBuffer()}) {
        EXPECT_EQ(buffer->Capacity(), 256);
        EXPECT_EQ(buffer->Size(), 0);
        EXPECT_EQ(buffer->Position(), 0);
    }
    EXPECT_NE(&transaction.RequestBuffer(), &transaction.ReplyBuffer());
    const TTransactionInfo& info = transaction.Info();
    EXPECT_EQ(info.ID, 0u);
    EXPECT_EQ(info.ServerAddress, 0);
    EXPECT_EQ(info.UserData, nullptr);
    EXPECT_EQ(info.Attempts, 0u);
    EXPECT_EQ(info.Reply, rkNoReply);
    EXPECT_EQ(info.ExceptionCode, 0);
    EXPECT_EQ(info.RawExceptionCode, 0);
}

}  // namespace
}  // namespace quelvan
