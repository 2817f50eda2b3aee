#pragma once
// Finds one ASCII frame (':' ... CR LF) in received chunks, character by character.
//
// Characters before the last ':' are discarded; a character other than LF after the CR
// abandons the frame. The caller reads each chunk to Dest + Total and calls Scan, which
// moves a frame started in this chunk to the front of Dest and keeps Total equal to the number
// of frame characters collected so far.

#include <cstdint>

namespace quelvan {

class TAsciiFrameScanner {
public:
    enum TState : uint8_t {
        WaitingForColon = 0,  // no frame started (or the last one was abandoned)
        InFrame = 1,
        CRSeen = 2,
        Complete = 3  // LF after CR: Dest[0, Total) is the whole frame
    };

    TState State() const { return state_; }
    void Reset() { state_ = WaitingForColon; }

    // Scans the Length bytes at Dest + Total (the chunk); updates Total. Stops after the LF
    // that completes a frame and returns how many bytes of the chunk were scanned. The bytes
    // after them (the start of the next frame, when two arrive in one read) are left where
    // they were in the chunk, for the caller to keep.
    int32_t Scan(uint8_t* Dest, int32_t& Total, int32_t Length);

private:
    TState state_ = WaitingForColon;
};

}  // namespace quelvan
