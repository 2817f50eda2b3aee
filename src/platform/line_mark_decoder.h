#pragma once
// Decodes the in-band line-error marks a termios receiver inserts with PARMRK:
//   FF FF    a data byte 0xFF
//   FF 00 c  the character c, received with a parity or framing error (c != 0)
//   FF 00 00 a break, or a NUL received with a parity or framing error (the marks cannot
//            tell these apart; both count as a break)
// A mark split across reads is held until its rest arrives. Any other byte after FF cannot
// come from the kernel; it is taken as data after a literal FF rather than lost.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelvan::platform {

class TLineMarkDecoder {
public:
    struct TMarks {
        uint32_t Breaks = 0;
        uint32_t BadChars = 0;  // characters with a parity or framing error (kept as data)
    };

    // Appends the data bytes of In to Out and adds the marks found to Marks.
    void Feed(const uint8_t* In, size_t Count, std::vector<uint8_t>& Out, TMarks& Marks);
    // Forgets a partly received mark (after the input was purged).
    void Reset() { state_ = State::Data; }
    bool InsideMark() const { return state_ != State::Data; }

private:
    enum class State : uint8_t { Data, Escape, Error };
    State state_ = State::Data;
};

}  // namespace quelvan::platform
