#include "quelvan/ascii_frame_scanner.h"

#include <cstring>

namespace quelvan {

int32_t TAsciiFrameScanner::Scan(uint8_t* Dest, int32_t& Total, int32_t Length) {
    uint8_t* chunk = Dest + Total;
    int32_t frameStart = -1;  // offset in the chunk of a frame started in it
    int32_t count = 0;        // frame characters found in this chunk
    int32_t i = 0;
    for (; i < Length && state_ != Complete; ++i) {
        const uint8_t c = chunk[i];
        if (c == ':') {
            state_ = InFrame;
            frameStart = i;
            count = 1;
            continue;
        }
        switch (state_) {
        case InFrame:
            if (c == '\r') state_ = CRSeen;
            ++count;
            break;
        case CRSeen:
            if (c == '\n') {
                state_ = Complete;
                ++count;
            } else {
                state_ = WaitingForColon;
                frameStart = -1;
                count = 0;
            }
            break;
        case WaitingForColon:
        case Complete:
            break;
        }
    }
    if (frameStart >= 0) {
        std::memmove(Dest, chunk + frameStart, static_cast<size_t>(count));
        Total = count;
    } else {
        Total += count;
    }
    return i;
}

}  // namespace quelvan
