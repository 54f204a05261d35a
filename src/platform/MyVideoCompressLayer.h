// Video compressors for AVI output: the list of installed compressors (FOURCC, name,
// description) and the open / begin / compress / end cycle of one of them, over libavcodec's
// encoders. Only encoders whose output fits AVI 1.0 are offered: one packet per frame, no codec
// data beyond the 40-byte bitmap header, and a RIFF FOURCC that names them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "MyBase.h"
#include "MyRiffFormat.h"

class TYuvPicture;

// One entry of the installed-compressor list.
struct TVideoCompressorInfo {
    uint32_t Type = 0;       // VideoCompressorType for every compressor we offer
    uint32_t Handler = 0;    // FOURCC naming the compressor, lower case ("mjpg")
    std::string Name;        // short name, at most 15 characters
    std::string Description; // at most 127 characters
    std::string Driver;      // what does the work ("libavcodec mjpeg")
};

// "vidc", the type of video compressors.
inline constexpr uint32_t VideoCompressorType = 0x63646976;

enum class TVideoCompressorMode {
    Query,   // only GetInfo and GetAboutText are used
    Compress // Begin / Compress / End
};

// What a compression is begun for. Input frames are 24-bit B, G, R.
struct TVideoCompressFormat {
    int32_t Width = 0;
    int32_t Height = 0;
    Extended FrameRate = 0;
    int32_t KeyRate = 0;    // at most this many frames between key frames; 0 = no rule
    int32_t FrameCount = 0; // frames expected; a hint
};

// What the compressor writes: the fields of the 40-byte bitmap header of the AVI stream format.
struct TVideoOutputFormat {
    int32_t Width = 0;
    int32_t Height = 0;
    uint16_t BitCount = 0;
    uint32_t Compression = 0; // FOURCC of the coded frames as RIFF readers expect it ("MJPG")
    uint32_t ImageSize = 0;   // bytes of a frame at BitCount bits per pixel
};

// One encoded frame; Data stays valid until the next Compress or End.
struct TCompressedFrame {
    const uint8_t* Data = nullptr;
    uint32_t Size = 0;
    uint32_t Flags = 0; // AVIIF_KEYFRAME when the frame decodes on its own
};

// Error codes of Compress besides the library's own (negative) codes.
inline constexpr int32_t CompressNotBegun = -1001;
inline constexpr int32_t CompressNoPacket = -1002;    // the encoder held the frame back
inline constexpr int32_t CompressNotKeyFrame = -1003; // a key frame was asked and not given

// One open compressor.
class IVideoCompressor {
public:
    virtual ~IVideoCompressor() = default;
    // Fills every field of the record.
    virtual void GetInfo(TVideoCompressorInfo& info) = 0;
    // The text of the compressor's about box; empty when it has none.
    virtual std::string GetAboutText() = 0;
    // Checks that the compressor takes frames of this format and starts it; fills the output
    // format. False when the format is refused.
    virtual bool Begin(const TVideoCompressFormat& format, TVideoOutputFormat& outFormat) = 0;
    // Encodes one frame of the begun size: rows of B, G, R pixels stride bytes apart from bits
    // (the top row first; a negative stride walks a bottom-up DIB from its last row). Exactly one
    // encoded frame comes out. 0 on success, else an error code.
    virtual int32_t Compress(const uint8_t* bits, ptrdiff_t stride, bool keyFrame,
                             TCompressedFrame& out) = 0;
    // Whether CompressPlanes takes frames of the begun size as 4:2:0 Y, Cb, Cr planes.
    virtual bool TakesPlanes() const { return false; }
    // Encodes one frame given as planes of the begun size, as Compress does rows.
    virtual int32_t CompressPlanes(const TYuvPicture& planes, bool keyFrame,
                                   TCompressedFrame& out) {
        (void)planes;
        (void)keyFrame;
        (void)out;
        return CompressNotBegun;
    }
    // False when nothing was begun.
    virtual bool End() = 0;
    // True when every frame is coded on its own, so two encoders begun alike give the same
    // bytes for a frame whatever each coded before.
    virtual bool IndependentFrames() const { return false; }
};

// The installed compressors.
class IVideoCompressorList {
public:
    virtual ~IVideoCompressorList() = default;
    // Compressor number index of the given type (0 = any); fills Type, Handler and Driver.
    // False past the last one.
    virtual bool GetInfo(uint32_t type, int32_t index, TVideoCompressorInfo& info) = 0;
    // Null when no compressor has this type (0 = any) and handler, or it cannot be opened.
    virtual std::unique_ptr<IVideoCompressor> Open(uint32_t type, uint32_t handler,
                                                   TVideoCompressorMode mode) = 0;
};

// The compressors of the installed libavcodec.
IVideoCompressorList& LibavVideoCompressors();

// FOURCC of a video codec in RIFF files as libavformat's tag table has it (0 = none) and the
// libavcodec codec id (AVCodecID as int; 0 = none) a FOURCC stands for, any letter case.
uint32_t RiffVideoTagOfCodec(int codecId);
int RiffVideoCodecOfTag(uint32_t fourCC);
