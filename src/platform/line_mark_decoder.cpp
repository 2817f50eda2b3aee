#include "platform/line_mark_decoder.h"

namespace quelvan::platform {

void TLineMarkDecoder::Feed(const uint8_t* In, size_t Count, std::vector<uint8_t>& Out,
                            TMarks& Marks) {
    for (size_t i = 0; i < Count; ++i) {
        const uint8_t b = In[i];
        switch (state_) {
            case State::Data:
                if (b == 0xFF)
                    state_ = State::Escape;
                else
                    Out.push_back(b);
                break;
            case State::Escape:
                if (b == 0x00) {
                    state_ = State::Error;
                } else {
                    Out.push_back(0xFF);
                    state_ = State::Data;
                    if (b != 0xFF) --i;  // not a mark: read b again as data
                }
                break;
            case State::Error:
                if (b == 0x00) {
                    ++Marks.Breaks;
                } else {
                    ++Marks.BadChars;
                    Out.push_back(b);
                }
                state_ = State::Data;
                break;
        }
    }
}

}  // namespace quelvan::platform
