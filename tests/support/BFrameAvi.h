// AVI fixtures whose video uses B-frames (H.264 through libx264, MPEG-4 part 2 with open or closed
// groups of pictures, and the DivX "packed" form of the latter), plus the library's own decode of
// such a file: demuxed by libavformat, decoded by libavcodec, pictures counted as they come out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TBFrameAviSpec {
    std::string Encoder = "libx264"; // or "mpeg4"
    int Width = 64;
    int Height = 48;
    int Frames = 36;
    int Gop = 12;
    int BFrames = -1;         // -1: the encoder's default (x264: 3, with B-frames as references)
    bool ClosedGop = false;   // MPEG-4 only; x264 closes its groups by default
    bool X264OpenGop = false; // x264 only: key frames are recovery points, not IDR frames
};

// Writes the movie with the moving test picture of EncodedAvi.h; false with the reason in why.
bool WriteBFrameAvi(const std::string& fileName, const TBFrameAviSpec& spec,
                    std::string* why = nullptr);

// Rewrites an MPEG-4 part 2 AVI with B-frames in the DivX "packed" form: each reference frame
// that is followed by a B-frame is stored together with that B-frame in one chunk, and the
// B-frame's own chunk becomes a placeholder: empty when emptyPlaceholders, else a small
// not-coded frame. False when the file has no B-frame to pack.
bool PackBFrames(const std::string& from, const std::string& to, bool emptyPlaceholders);

// The file's pictures as the libraries show them: the n-th picture out of the decoder (fed every
// stored chunk in order, then drained) is frame n, drawn by our picture drawing at the movie's
// size so that pixels compare exactly. The bitstream filter that unpacks packed B-frames is
// applied when unpack is set.
std::vector<std::vector<uint8_t>> LibraryPictures(const std::string& fileName, bool unpack = false);

// The stored frames of the first video stream with their key flags, as libavformat reads them
// (empty chunks left out).
struct TStoredFrame {
    std::vector<uint8_t> Data;
    bool Key = false;
};
std::vector<TStoredFrame> StoredFrames(const std::string& fileName);
