#include "quelvan/messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "quelvan/errors.h"

namespace quelvan {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

TEST(Errors, FormatsArgumentsIntoTheMessage) {
    EXPECT_THAT([] { RaiseErrorFmt(msgValueRange, {1, uint64_t{4294967295u}}); },
                ThrowsMessage<EQuelvanError>(StrEq("Value must be between 1 and 4294967295")));
    EXPECT_THAT([] { RaiseErrorFmt(msgBufferPosition, {-1}); },
                ThrowsMessage<EQuelvanError>(StrEq("Buffer position is invalid (-1)")));
    EXPECT_THAT([] { RaiseError(msgConnectionInactive); },
                ThrowsMessage<EQuelvanError>(StrEq(
                    "Connection MUST be active for the requested action to be performed")));
    EXPECT_THAT([] { RaiseInternalError(); },
                ThrowsMessage<EQuelvanError>(StrEq("Internal error")));
}

TEST(Errors, AMessageRaisedWithTheWrongArgumentsIsAnAssertionFailure) {
    EXPECT_THROW(RaiseError(msgRegisterIndex), platform::EAssertionFailed);
    EXPECT_THROW(RaiseErrorFmt(msgRegisterIndex, {"text"}), platform::EAssertionFailed);
    EXPECT_THROW(RaiseErrorFmt(msgInternalError, {1}), platform::EAssertionFailed);
}

TEST(Errors, EQuelvanErrorIsAPlatformException) {
    try {
        RaiseError(msgDecodeFrame);
        FAIL() << "nothing raised";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "Failed to decode frame");
        EXPECT_STREQ(e.what(), "Failed to decode frame");
    }
}

TEST(Messages, ExceptionCodeTextsAreIndexedByCodeAndUnknownAbove8) {
    const char* texts[] = {"Unknown exception code", "Illegal command", "Illegal data address",
                           "Illegal data value", "Server failure", "Acknowledge",
                           "Server is busy", "Negative acknowledge", "Memory parity error"};
    for (uint8_t code = 0; code <= 8; ++code) EXPECT_EQ(ExceptionCodeText(code), texts[code]);
    for (int code : {9, 0x0B, 200, 255})
        EXPECT_EQ(ExceptionCodeText(static_cast<uint8_t>(code)), "Unknown exception code");
}

TEST(Messages, AnUnknownIdIsAnAssertionFailure) {
    EXPECT_THROW(LoadMessage(static_cast<TMessageId>(MessageCount)), platform::EAssertionFailed);
}

class MessageTable : public testing::Test {
protected:
    void TearDown() override { ResetMessageTable(); }

    static TMessageTable German() {
        TMessageTable table = DefaultMessageTable();
        table[msgBufferSize] = "Puffergröße ist ungültig (%d)";
        table[msgIllegalCommand] = "Unzulässiger Befehl";
        return table;
    }
};

TEST_F(MessageTable, ATranslationAppliesToTheNextErrorAndEarlierTextsStayValid) {
    const std::string& before = LoadMessage(msgBufferSize);
    SetMessageTable(German());
    EXPECT_THAT([] { RaiseErrorFmt(msgBufferSize, {300}); },
                ThrowsMessage<EQuelvanError>(StrEq("Puffergröße ist ungültig (300)")));
    EXPECT_EQ(ExceptionCodeText(1), "Unzulässiger Befehl");
    EXPECT_EQ(before, "Buffer size is invalid (%d)");

    ResetMessageTable();
    EXPECT_EQ(LoadMessage(msgBufferSize), "Buffer size is invalid (%d)");
}

TEST_F(MessageTable, ATranslationThatChangesThePlaceholdersIsRefused) {
    struct Case {
        TMessageId id;
        const char* text;
    } cases[] = {
        {msgBufferSize, "Puffergröße ist ungültig"},              // placeholder dropped
        {msgBufferSize, "Puffergröße %s ist ungültig"},           // other kind
        {msgValueRange, "Wert zwischen %d und %d und %d"},        // one too many
        {msgInternalError, "Interner Fehler %d"},                 // added where none is
        {msgInternalError, "Interner Fehler 100%"},               // dangling percent
    };
    for (const auto& c : cases) {
        TMessageTable table = DefaultMessageTable();
        table[c.id] = c.text;
        EXPECT_THROW(SetMessageTable(table), platform::EAssertionFailed) << c.text;
        EXPECT_EQ(&LoadMessage(c.id), &DefaultMessageTable()[c.id]) << c.text;
    }
    TMessageTable escaped = DefaultMessageTable();
    escaped[msgInternalError] = "Interner Fehler (100%%)";
    SetMessageTable(escaped);
    EXPECT_THAT([] { RaiseInternalError(); },
                ThrowsMessage<EQuelvanError>(StrEq("Interner Fehler (100%)")));
}

TEST_F(MessageTable, ErrorsMayBeRaisedOnAnotherThreadWhileTablesAreInstalled) {
    std::atomic<bool> done{false};
    int unexpected = 0;
    std::thread raiser([&] {
        for (int i = 0; i < 2000; ++i) {
            try {
                RaiseErrorFmt(msgBufferSize, {1});
            } catch (const EQuelvanError& e) {
                if (e.Message() != "Buffer size is invalid (1)" &&
                    e.Message() != "Puffergröße ist ungültig (1)")
                    ++unexpected;
            }
        }
        done.store(true);
    });
    for (int i = 0; i < 300 && !done.load(); ++i) {
        SetMessageTable(German());
        ResetMessageTable();
    }
    raiser.join();
    EXPECT_EQ(unexpected, 0);
}

}  // namespace
}  // namespace quelvan
