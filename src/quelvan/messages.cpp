#include "quelvan/messages.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/exceptions.h"

namespace quelvan {

namespace {

// The installed translation, or null for the built-in table. Installed tables are never freed:
// a thread may still hold a reference from LoadMessage when the next one is installed.
std::atomic<const TMessageTable*> installed{nullptr};

std::mutex& InstallMutex() {
    static std::mutex m;
    return m;
}

std::vector<std::unique_ptr<const TMessageTable>>& KeptTables() {
    static auto* tables = new std::vector<std::unique_ptr<const TMessageTable>>;
    return *tables;
}

const TMessageTable& CurrentTable() {
    const TMessageTable* table = installed.load(std::memory_order_acquire);
    return table ? *table : DefaultMessageTable();
}

// The placeholder letters of a format text in order ("%%" is text, not a placeholder).
std::string Placeholders(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (++i == text.size()) {
            result += '%';  // a dangling '%', kept so that it never matches a real placeholder
            break;
        }
        if (text[i] != '%') result += text[i];
    }
    return result;
}

}  // namespace

const TMessageTable& DefaultMessageTable() {
    static const TMessageTable table = {
        "Connection must NOT be active for the requested action to be performed",
        "Connection MUST be active for the requested action to be performed",
        "Failed to encode frame",
        "Failed to decode frame",
        "Discrete i/o count must be between 1 and %d",
        "Register count must be between 1 and %d",
        "Starting discrete i/o index is invalid (%d)",
        "Starting register index is invalid (%d)",
        "Register index is invalid (%d)",
        "Could not open serial port",
        "Failed to initialize serial I/O buffers",
        "Failed to initialize communication timeouts",
        "Failed to initialize serial event mask",
        "Failed to update device control block",
        "Internal error",
        "There is not enough space in the buffer to perform the requested action",
        "Buffer position is invalid (%d)",
        "Buffer size is invalid (%d)",
        "There is no active connection",
        "Value must be between %d and %d",
        "Diagnostic action was not recognized",
        "List index out of bounds (%d)",
        "The file record list is empty",
        "The file record request does not fit in a frame (%d bytes of PDU, at most %d)",
        "Unknown exception code",
        "Illegal command",
        "Illegal data address",
        "Illegal data value",
        "Server failure",
        "Acknowledge",
        "Server is busy",
        "Negative acknowledge",
        "Memory parity error",
    };
    return table;
}

const std::string& LoadMessage(TMessageId Id) {
    if (Id >= MessageCount)
        throw platform::EAssertionFailed("LoadMessage: unknown message " + std::to_string(Id));
    return CurrentTable()[Id];
}

const std::string& ExceptionCodeText(uint8_t Code) {
    constexpr uint8_t LastKnownCode = msgMemoryParityError - msgUnknownExceptionCode;
    return LoadMessage(static_cast<TMessageId>(msgUnknownExceptionCode +
                                               (Code > LastKnownCode ? 0 : Code)));
}

void SetMessageTable(const TMessageTable& Table) {
    const TMessageTable& builtIn = DefaultMessageTable();
    for (size_t i = 0; i < MessageCount; ++i) {
        if (Placeholders(Table[i]) != Placeholders(builtIn[i]))
            throw platform::EAssertionFailed("SetMessageTable: message " + std::to_string(i) +
                                             " (\"" + Table[i] +
                                             "\") does not have the placeholders of \"" +
                                             builtIn[i] + "\"");
    }
    std::lock_guard lock(InstallMutex());
    KeptTables().push_back(std::make_unique<const TMessageTable>(Table));
    installed.store(KeptTables().back().get(), std::memory_order_release);
}

void ResetMessageTable() { installed.store(nullptr, std::memory_order_release); }

}  // namespace quelvan
