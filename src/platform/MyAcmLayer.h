// Audio codec layer: a fixed catalogue of codec drivers and the wave format tags each handles,
// format suggestion, and conversion streams between wave formats (PCM to codec, codec to PCM,
// PCM to PCM) with block-aligned consumption and an end-of-stream flush. libavcodec does the
// coding, libswresample the sample conversion.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MyRiffFormat.h"

// Result codes of every layer call; zero is success.
enum class TAcmResult : uint32_t {
    Ok = 0,
    InvalidParam,  // a null pointer, a buffer too small, an unknown flag
    InvalidHandle, // a driver id or handle the layer never gave out, an unprepared header
    BadFormat,     // a format block that does not describe a usable wave format
    NotPossible,   // no codec of the catalogue converts between the two formats
    NoMemory,
    CodecFailed, // the codec reported an error while converting
};

// ---- Wave format blocks -------------------------------------------------------------------------
// Formats are passed as byte blocks holding the 18-byte wave format header (tag, channels, rate,
// bytes per second, block align, bits per sample, extra size) followed by the extra bytes, as
// stored in RIFF files. For PCM (tag 1) the extra size is not looked at.

// ---- Drivers ----------------------------------------------------------------------------------

using TAcmDriverId = uint32_t;
using TAcmDriverHandle = uint32_t;

// Support bits of a driver.
enum : uint32_t {
    AcmDriverSupportCodec = 0x0001,     // converts between PCM and another tag
    AcmDriverSupportConverter = 0x0002, // converts between formats of one tag (PCM)
};

struct TAcmDriverDetails {
    uint32_t Support = 0;
    uint32_t FormatTagCount = 0;
    std::string ShortName;
    std::string LongName;
    std::string Copyright;
    std::string Licensing;
    std::string Features;
};

// One format tag a driver handles.
struct TAcmFormatTagDetails {
    uint32_t Index = 0;
    uint32_t FormatTag = 0;
    // Largest format block this tag uses (header plus extra bytes).
    uint32_t FormatSize = 0;
    // Encoding from PCM is offered for this tag (decoding always is).
    bool CanEncode = false;
    std::string Name; // at most 47 characters
};

// Calls Callback once per installed driver, in catalogue order, until it answers false.
void AcmDriverEnum(const std::function<bool(TAcmDriverId id, uint32_t support)>& callback);
TAcmResult AcmDriverDetails(TAcmDriverId id, TAcmDriverDetails& details);
TAcmResult AcmDriverOpen(TAcmDriverId id, TAcmDriverHandle& handle);
TAcmResult AcmDriverClose(TAcmDriverHandle handle);
TAcmResult AcmFormatTagDetails(TAcmDriverHandle handle, uint32_t index,
                               TAcmFormatTagDetails& details);

// ---- Format suggestion ------------------------------------------------------------------------

// Restriction bits of AcmFormatSuggest.
enum : uint32_t {
    AcmSuggestFormatTag = 0x00010000, // the destination tag is taken from Dst
};

// Fills Dst (DstSize bytes, zeroed first) with the format the codec makes from Src. Without
// AcmSuggestFormatTag a compressed source suggests PCM and a PCM source suggests itself.
TAcmResult AcmFormatSuggest(const uint8_t* src, uint32_t srcSize, uint8_t* dst, uint32_t dstSize,
                            uint32_t flags);

// ---- Streams ----------------------------------------------------------------------------------

class TAcmStream;

struct TAcmStreamDeleter {
    void operator()(TAcmStream* stream) const noexcept;
};
using TAcmStreamPtr = std::unique_ptr<TAcmStream, TAcmStreamDeleter>;

// One conversion: the caller's source and destination buffers and what the stream used of them.
struct TAcmStreamHeader {
    const uint8_t* Src = nullptr;
    uint32_t SrcLength = 0;
    uint32_t SrcLengthUsed = 0;
    uint8_t* Dst = nullptr;
    uint32_t DstLength = 0;
    uint32_t DstLengthUsed = 0;
    bool Prepared = false;
};

// Conversion flags.
enum : uint32_t {
    // Consume whole source blocks (whole codec frames when encoding) and leave the rest unused
    // for the caller to hand in again.
    AcmConvertBlockAlign = 0x0004,
    // Last call of a stream: everything usable is consumed, a short last frame is padded, and the
    // codec's delayed output is delivered. The next call starts a fresh stream.
    AcmConvertEnd = 0x0020,
};

// Opens a stream from Src to Dst. Streams exist between PCM and a tag the catalogue encodes
// (same rate and channels), between a decodable tag and PCM (same rate and channels), and
// between any two PCM formats of 8, 16 or 32 bits.
TAcmResult AcmStreamOpen(TAcmStreamPtr& stream, const uint8_t* src, uint32_t srcSize,
                         const uint8_t* dst, uint32_t dstSize);
void AcmStreamClose(TAcmStreamPtr& stream);
// Destination bytes to offer for SrcBytes source bytes: an estimate of what the next conversion
// of that many bytes produces, including the codec's delayed output. It is never taken from the
// format's byte rate, so a decoder may make more; the rest waits for the next call.
TAcmResult AcmStreamSize(TAcmStream& stream, uint32_t srcBytes, uint32_t& dstBytes);
// Output made by earlier conversions and not yet handed out, in bytes: what a call with no
// source and no AcmConvertEnd delivers.
TAcmResult AcmStreamPending(TAcmStream& stream, uint32_t& dstBytes);
TAcmResult AcmStreamPrepareHeader(TAcmStream& stream, TAcmStreamHeader& header);
// Output that does not fit into Dst is kept and delivered first by the next call. A call with no
// source and without AcmConvertEnd only hands out that output (an ended stream stays ended).
TAcmResult AcmStreamConvert(TAcmStream& stream, TAcmStreamHeader& header, uint32_t flags);
TAcmResult AcmStreamUnprepareHeader(TAcmStream& stream, TAcmStreamHeader& header);
