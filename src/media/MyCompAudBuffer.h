// The buffer a compressed movie sound track is decoded ahead into: decoded bytes in the wanted
// format wait here until they are handed out one video frame's worth at a time.
#pragma once

#include <cstdint>
#include <memory>

class TCompAudBuffer {
public:
    TCompAudBuffer() { Reset(); }
    TCompAudBuffer(const TCompAudBuffer&) = delete;
    TCompAudBuffer& operator=(const TCompAudBuffer&) = delete;

    // Frees the data and starts over: nothing decoded, first call pending.
    void Reset();
    uint32_t Available() const { return WritePos - ReadPos; }
    uint32_t Free() const { return Capacity - WritePos; }
    // Moves the bytes not yet handed out to the front.
    void Compact();
    // Compacts, then reallocates to exactly newSize bytes keeping the decoded ones. Raises
    // Exception when newSize cannot hold them.
    void RaiseSize(uint32_t newSize);

    std::unique_ptr<uint8_t[]> Data;
    uint32_t Capacity = 0;
    uint32_t WantedSize = 0; // bytes of one frame in the wanted format
    uint32_t ReadPos = 0;    // first byte not yet handed out
    uint32_t WritePos = 0;   // end of the decoded bytes
    int32_t NextChunk = 0;   // index of the next audio chunk to decode
    bool FirstCall = true;   // set by a reset, cleared by the first read
    // Decoded bytes still to drop before delivery starts: the sound between the start of the
    // first decoded chunk and the frame the first read asked for.
    uint64_t SkipBytes = 0;
};
