// What the audio codec layer's files share: wave format blocks and their checks, the catalogue of
// codec drivers with the encoders and decoders it opens, and owners for the library's handles.
// Only the layer's own files include it; callers use MyAcmLayer.h.
#pragma once

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "MyAcmLayer.h"
#include "MyBase.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace AcmPart {

// ---- Little-endian access to format blocks ------------------------------------------------------

inline uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Put16(uint8_t*& p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p += 2;
}
inline void Put32(uint8_t*& p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p, v >> 16);
}

// A wave format as read from (or to be written to) a format block.
struct TWaveFormat {
    uint16_t Tag = 0;
    uint16_t Channels = 0;
    uint32_t Rate = 0;
    uint32_t AvgBytes = 0;
    uint16_t BlockAlign = 0;
    uint16_t Bits = 0;
    uint16_t ExtraSize = 0;
    uint8_t Extra[256] = {};
};

// Reads a format block. PCM needs only the 16 bytes before the extra size; every other tag needs
// the whole header and the extra bytes it announces.
bool ParseFormat(const uint8_t* p, uint32_t size, TWaveFormat& f);

// Writes the header and extra bytes; false when they do not fit into Size bytes.
bool WriteFormat(const TWaveFormat& f, uint8_t* p, uint32_t size);

bool SameFormat(const TWaveFormat& a, const TWaveFormat& b);

// Channel counts the sample converter has layouts for.
inline constexpr uint16_t MaxChannels = 8;
// Plain wave format headers (no extensible header) stop at two channels and 48 kHz.
inline constexpr uint16_t MaxEncodeChannels = 2;
inline constexpr uint32_t MaxEncodeRate = 48000;
inline constexpr uint32_t MaxRate = 768000;

// A PCM format the layer converts from and to: integer samples of 8 (unsigned), 16 or 32 bits.
bool IsUsablePcm(const TWaveFormat& f);
AVSampleFormat PcmSampleFormat(uint16_t bits);
bool IsPcmFamily(AVCodecID id);

// ---- Catalogue ---------------------------------------------------------------------------------

struct TTagEntry {
    uint16_t Tag = 0;
    AVCodecID Id = AV_CODEC_ID_NONE;
    bool Encode = false; // encoding from PCM is offered
    bool Decode = false;
    std::string Name;
    uint32_t FormatSize = 0;
};

struct TDriverEntry {
    TAcmDriverDetails Details;
    std::vector<TTagEntry> Tags;
};

struct TCodecContextDeleter {
    void operator()(AVCodecContext* c) const noexcept { avcodec_free_context(&c); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;

struct TFrameDeleter {
    void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

struct TPacketDeleter {
    void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

struct TSwrDeleter {
    void operator()(SwrContext* s) const noexcept { swr_free(&s); }
};
using TSwrPtr = std::unique_ptr<SwrContext, TSwrDeleter>;

struct TParserDeleter {
    void operator()(AVCodecParserContext* p) const noexcept { av_parser_close(p); }
};
using TParserPtr = std::unique_ptr<AVCodecParserContext, TParserDeleter>;

// What a stream or a suggestion asks of an encoder.
struct TEncoderRequest {
    uint32_t Rate = 0;
    uint16_t Channels = 0;
    int64_t BitRate = 0;    // 0: the layer's default for codecs that let the caller choose
    uint32_t BlockSize = 0; // 0: the codec's own block size
};

// An encoder for the request, or null when the codec cannot make that rate and channel count.
TCodecContextPtr OpenEncoder(const AVCodec* codec, const TEncoderRequest& r);
// The wave format header of an opened encoder, laid out the way libavformat's RIFF writer lays
// it out, so that other readers find the extra bytes where they expect them.
bool EncoderFormat(const AVCodecContext* c, uint16_t tag, TWaveFormat& f);

const std::vector<TDriverEntry>& Catalogue();
const TTagEntry* FindTag(uint16_t tag);
const TDriverEntry* DriverById(uint32_t id);
TCodecContextPtr OpenDecoder(const TTagEntry& entry, const TWaveFormat& f);

// Runs a layer call, turning overflow and allocation failures into result codes.
template <typename F> TAcmResult Guarded(F&& f) {
    try {
        return f();
    } catch (const EIntOverflow&) {
        return TAcmResult::InvalidParam;
    } catch (const std::bad_alloc&) {
        return TAcmResult::NoMemory;
    }
}

} // namespace AcmPart
