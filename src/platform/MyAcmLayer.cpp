#include "MyAcmLayer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

#include "MyBase.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// ---- Little-endian access to format blocks ------------------------------------------------------

uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Put16(uint8_t*& p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p += 2;
}
void Put32(uint8_t*& p, uint32_t v) {
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
bool ParseFormat(const uint8_t* p, uint32_t size, TWaveFormat& f) {
    if (!p || size < WAVE_PCM_FORMAT_SIZE)
        return false;
    f.Tag = Get16(p);
    f.Channels = Get16(p + 2);
    f.Rate = Get32(p + 4);
    f.AvgBytes = Get32(p + 8);
    f.BlockAlign = Get16(p + 12);
    f.Bits = Get16(p + 14);
    f.ExtraSize = 0;
    if (f.Tag == WAVE_FORMAT_PCM)
        return true;
    if (size < WAVE_FORMAT_EX_SIZE)
        return false;
    f.ExtraSize = Get16(p + 16);
    if (f.ExtraSize > size - WAVE_FORMAT_EX_SIZE || f.ExtraSize > sizeof(f.Extra))
        return false;
    std::memcpy(f.Extra, p + WAVE_FORMAT_EX_SIZE, f.ExtraSize);
    return true;
}

// Writes the header and extra bytes; false when they do not fit into Size bytes.
bool WriteFormat(const TWaveFormat& f, uint8_t* p, uint32_t size) {
    if (size < WAVE_FORMAT_EX_SIZE + uint32_t(f.ExtraSize))
        return false;
    std::memset(p, 0, size);
    uint8_t* w = p;
    Put16(w, f.Tag);        // wFormatTag
    Put16(w, f.Channels);   // nChannels
    Put32(w, f.Rate);       // nSamplesPerSec
    Put32(w, f.AvgBytes);   // nAvgBytesPerSec
    Put16(w, f.BlockAlign); // nBlockAlign
    Put16(w, f.Bits);       // wBitsPerSample
    Put16(w, f.ExtraSize);  // cbSize
    std::memcpy(w, f.Extra, f.ExtraSize);
    return true;
}

bool SameFormat(const TWaveFormat& a, const TWaveFormat& b) {
    return a.Tag == b.Tag && a.Channels == b.Channels && a.Rate == b.Rate &&
           a.AvgBytes == b.AvgBytes && a.BlockAlign == b.BlockAlign && a.Bits == b.Bits &&
           a.ExtraSize == b.ExtraSize && std::memcmp(a.Extra, b.Extra, a.ExtraSize) == 0;
}

// Channel counts the sample converter has layouts for.
constexpr uint16_t MaxChannels = 8;
// Plain wave format headers (no extensible header) stop at two channels and 48 kHz.
constexpr uint16_t MaxEncodeChannels = 2;
constexpr uint32_t MaxEncodeRate = 48000;
constexpr uint32_t MaxRate = 768000;

// A PCM format the layer converts from and to: integer samples of 8 (unsigned), 16 or 32 bits.
bool IsUsablePcm(const TWaveFormat& f) {
    if (f.Tag != WAVE_FORMAT_PCM)
        return false;
    if (f.Channels < 1 || f.Channels > MaxChannels)
        return false;
    if (f.Rate < 1 || f.Rate > MaxRate)
        return false;
    if (f.Bits != 8 && f.Bits != 16 && f.Bits != 32)
        return false;
    return f.BlockAlign == f.Channels * (f.Bits / 8);
}

AVSampleFormat PcmSampleFormat(uint16_t bits) {
    switch (bits) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    default:
        return AV_SAMPLE_FMT_S32;
    }
}

bool IsPcmFamily(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

// ---- Catalogue ----------------------------------------------------------------------------------

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

struct TOfferedTag {
    uint16_t Tag;
    const char* Name;
};

struct TOfferedDriver {
    const char* ShortName;
    const char* LongName;
    std::vector<TOfferedTag> Tags;
};

// The codecs offered for encoding, grouped into drivers. Names stay neutral: formats, not makers.
const std::vector<TOfferedDriver>& OfferedDrivers() {
    static const std::vector<TOfferedDriver> drivers = {
        {"ADPCM", "ADPCM audio codec", {{0x0002, "ADPCM"}}},
        {"G.711", "G.711 A-law and mu-law audio codec", {{0x0006, "A-law"}, {0x0007, "mu-law"}}},
        {"IMA ADPCM", "IMA ADPCM audio codec", {{0x0011, "IMA ADPCM"}}},
        {"GSM 6.10", "GSM 6.10 audio codec", {{0x0031, "GSM 6.10"}}},
        {"MPEG Layer-2", "MPEG Layer-2 audio codec", {{0x0050, "MPEG Layer-2"}}},
        {"MPEG Layer-3", "MPEG Layer-3 audio codec", {{WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3"}}},
        {"WMA v2", "WMA v2 audio codec", {{WAVE_FORMAT_WMAUDIO2, "WMA v2"}}},
        {"AC-3", "AC-3 audio codec", {{0x2000, "AC-3"}}},
    };
    return drivers;
}

const AVCodecTag* const* RiffAudioTags() {
    static const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    return tags;
}

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

// ---- Encoders -----------------------------------------------------------------------------------

// What a stream or a suggestion asks of an encoder.
struct TEncoderRequest {
    uint32_t Rate = 0;
    uint16_t Channels = 0;
    int64_t BitRate = 0;    // 0: the layer's default for codecs that let the caller choose
    uint32_t BlockSize = 0; // 0: the codec's own block size
};

// A codec that states a bit rate of its own keeps it; the others (0, or the library's generic
// default) get the caller's choice.
bool CodecHasOwnBitRate(const AVCodec* codec) {
    static const int64_t genericDefault = [] {
        AVCodecContext* c = avcodec_alloc_context3(nullptr);
        int64_t r = c ? c->bit_rate : 0;
        avcodec_free_context(&c);
        return r;
    }();
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        throw std::bad_alloc();
    int64_t r = c->bit_rate;
    avcodec_free_context(&c);
    return r != 0 && r != genericDefault;
}

int64_t DefaultBitRate(uint32_t rate, uint16_t channels) {
    return int64_t(rate >= 32000 ? 64000 : 32000) * channels;
}

TCodecContextPtr OpenEncoder(const AVCodec* codec, const TEncoderRequest& r) {
    if (!codec || r.Channels < 1 || r.Channels > MaxEncodeChannels || r.Rate < 1 ||
        r.Rate > MaxEncodeRate)
        return nullptr;
    // The codec's declared rates and layouts are checked first so that a refusal costs nothing
    // (avcodec_open2 checks the same).
    if (codec->supported_samplerates) {
        bool found = false;
        for (const int* p = codec->supported_samplerates; *p; ++p)
            if (uint32_t(*p) == r.Rate)
                found = true;
        if (!found)
            return nullptr;
    }
    AVChannelLayout layout{};
    if (codec->ch_layouts) {
        for (const AVChannelLayout* p = codec->ch_layouts; p->nb_channels; ++p)
            if (p->nb_channels == r.Channels) {
                av_channel_layout_copy(&layout, p);
                break;
            }
        if (!layout.nb_channels)
            return nullptr;
    } else {
        av_channel_layout_default(&layout, r.Channels);
    }

    TCodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c)
        throw std::bad_alloc();
    c->sample_rate = int(r.Rate);
    av_channel_layout_copy(&c->ch_layout, &layout);
    av_channel_layout_uninit(&layout);
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    c->time_base = AVRational{1, int(r.Rate)};
    // Sample rates outside a codec's official set are allowed where the codec itself permits it.
    c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    if (!CodecHasOwnBitRate(codec))
        c->bit_rate = r.BitRate > 0 ? r.BitRate : DefaultBitRate(r.Rate, r.Channels);
    if (r.BlockSize && c->priv_data && av_opt_find(c->priv_data, "block_size", nullptr, 0, 0) &&
        av_opt_set_int(c->priv_data, "block_size", r.BlockSize, 0) < 0)
        return nullptr;
    if (avcodec_open2(c.get(), codec, nullptr) < 0)
        return nullptr;
    return c;
}

// The wave format header of an opened encoder, laid out the way libavformat's RIFF writer lays
// it out, so that other readers find the extra bytes where they expect them.
bool EncoderFormat(const AVCodecContext* c, uint16_t tag, TWaveFormat& f) {
    const AVCodecID id = c->codec_id;
    const uint32_t rate = uint32_t(c->sample_rate);
    f = TWaveFormat{};
    f.Tag = tag;
    f.Channels = uint16_t(c->ch_layout.nb_channels);
    f.Rate = rate;

    int bps;
    if (id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_GSM_MS) {
        bps = 0;
    } else {
        bps = av_get_bits_per_sample(id);
        if (!bps)
            bps = c->bits_per_coded_sample ? c->bits_per_coded_sample : 16;
    }
    f.Bits = uint16_t(bps);

    int64_t blockAlign;
    if (id == AV_CODEC_ID_MP2)
        blockAlign = (144 * c->bit_rate - 1) / rate + 1; // largest frame at this bit rate
    else if (id == AV_CODEC_ID_MP3)
        blockAlign = 576 * (rate <= (24000 + 32000) / 2 ? 1 : 2);
    else if (id == AV_CODEC_ID_AC3)
        blockAlign = 3840; // largest frame
    else if (c->block_align)
        blockAlign = c->block_align;
    else
        blockAlign = int64_t(bps) * f.Channels / std::gcd(8, bps);
    if (blockAlign < 0 || blockAlign > 0xFFFF)
        return false;
    f.BlockAlign = uint16_t(blockAlign);

    // Codecs of fixed-size blocks may leave the bit rate field at a meaningless default; the
    // blocks themselves tell the true rate then.
    int64_t bitRate = c->bit_rate;
    if (c->block_align > 0 && c->frame_size > 0) {
        const int64_t fromBlocks = int64_t(c->block_align) * 8 * rate / c->frame_size;
        if (std::llabs(bitRate - fromBlocks) > fromBlocks / 100)
            bitRate = fromBlocks;
    }
    if (bitRate <= 0 || bitRate / 8 > 0xFFFFFFFFLL)
        return false;
    f.AvgBytes = uint32_t(bitRate / 8);

    uint8_t* w = f.Extra;
    if (id == AV_CODEC_ID_MP3) {
        Put16(w, 1);    // wID: MPEG audio
        Put32(w, 2);    // fdwFlags: padding off
        Put16(w, 1152); // nBlockSize
        Put16(w, 1);    // nFramesPerBlock
        Put16(w, 1393); // nCodecDelay
    } else if (id == AV_CODEC_ID_MP2) {
        Put16(w, 2);                       // fwHeadLayer: layer 2
        Put32(w, uint32_t(c->bit_rate));   // dwHeadBitrate
        Put16(w, f.Channels == 2 ? 1 : 8); // fwHeadMode: stereo or single channel
        Put16(w, 0);                       // fwHeadModeExt
        Put16(w, 1);                       // wHeadEmphasis: none
        Put16(w, 16);                      // fwHeadFlags: MPEG-1 id bit
        Put32(w, 0);                       // dwPTSLow
        Put32(w, 0);                       // dwPTSHigh
    } else if (id == AV_CODEC_ID_GSM_MS || id == AV_CODEC_ID_ADPCM_IMA_WAV) {
        const int perBlock =
            av_get_audio_frame_duration(const_cast<AVCodecContext*>(c), c->block_align);
        Put16(w, uint32_t(perBlock)); // wSamplesPerBlock
    } else if (c->extradata_size > 0) {
        if (size_t(c->extradata_size) > sizeof(f.Extra))
            return false;
        std::memcpy(w, c->extradata, size_t(c->extradata_size));
        w += c->extradata_size;
    }
    f.ExtraSize = uint16_t(w - f.Extra);
    return true;
}

// ---- The catalogue ------------------------------------------------------------------------------

uint32_t ProbeFormatSize(const AVCodec* encoder, uint16_t tag) {
    static const TEncoderRequest tries[] = {{44100, 2}, {44100, 1}, {22050, 1}, {8000, 1}};
    for (const TEncoderRequest& r : tries) {
        TCodecContextPtr c = OpenEncoder(encoder, r);
        TWaveFormat f;
        if (c && EncoderFormat(c.get(), tag, f))
            return WAVE_FORMAT_EX_SIZE + f.ExtraSize;
    }
    return WAVE_FORMAT_EX_SIZE;
}

TTagEntry PcmTagEntry() {
    TTagEntry e;
    e.Tag = WAVE_FORMAT_PCM;
    e.Id = AV_CODEC_ID_PCM_S16LE;
    e.Encode = false;
    e.Decode = true;
    e.Name = "PCM";
    e.FormatSize = WAVE_PCM_FORMAT_SIZE;
    return e;
}

std::string LibraryText() {
    const unsigned v = avcodec_version();
    char text[96];
    std::snprintf(text, sizeof(text), "Uses the system's libavcodec %u.%u.%u", v >> 16,
                  (v >> 8) & 0xFF, v & 0xFF);
    return text;
}

std::vector<TDriverEntry> BuildCatalogue() {
    std::vector<TDriverEntry> drivers;
    std::vector<uint16_t> offeredTags;
    const std::string licensing = LibraryText();

    for (const TOfferedDriver& od : OfferedDrivers()) {
        TDriverEntry d;
        d.Tags.push_back(PcmTagEntry());
        std::string encodes, decodesOnly;
        for (const TOfferedTag& ot : od.Tags) {
            offeredTags.push_back(ot.Tag);
            const AVCodecID id = av_codec_get_id(RiffAudioTags(), ot.Tag);
            if (id == AV_CODEC_ID_NONE)
                continue;
            const AVCodec* encoder = avcodec_find_encoder(id);
            TTagEntry e;
            e.Tag = ot.Tag;
            e.Id = id;
            e.Decode = avcodec_find_decoder(id) != nullptr;
            e.Encode = encoder != nullptr;
            e.Name = ot.Name;
            if (!e.Encode && !e.Decode)
                continue;
            e.FormatSize = e.Encode ? ProbeFormatSize(encoder, ot.Tag) : WAVE_FORMAT_EX_SIZE;
            std::string& list = e.Encode ? encodes : decodesOnly;
            list += (list.empty() ? "" : ", ") + e.Name;
            d.Tags.push_back(std::move(e));
        }
        if (d.Tags.size() < 2)
            continue;
        d.Details.Support = AcmDriverSupportCodec;
        d.Details.ShortName = od.ShortName;
        d.Details.LongName = od.LongName;
        d.Details.Licensing = licensing;
        if (!encodes.empty())
            d.Details.Features = "Encodes and decodes " + encodes;
        if (!decodesOnly.empty())
            d.Details.Features += (encodes.empty() ? "Decodes " : "; decodes ") + decodesOnly;
        drivers.push_back(std::move(d));
    }

    // Every other tag the RIFF tables map to a decoder is decoded (never encoded) by one driver.
    TDriverEntry dec;
    dec.Tags.push_back(PcmTagEntry());
    for (uint32_t tag = 2; tag < 0xFFFE; ++tag) {
        if (std::find(offeredTags.begin(), offeredTags.end(), tag) != offeredTags.end())
            continue;
        const AVCodecID id = av_codec_get_id(RiffAudioTags(), tag);
        if (id == AV_CODEC_ID_NONE || !avcodec_find_decoder(id))
            continue;
        TTagEntry e;
        e.Tag = uint16_t(tag);
        e.Id = id;
        e.Decode = true;
        char name[32];
        std::snprintf(name, sizeof(name), "Audio format 0x%04X", tag);
        e.Name = name;
        e.FormatSize = WAVE_FORMAT_EX_SIZE;
        dec.Tags.push_back(std::move(e));
    }
    if (dec.Tags.size() > 1) {
        dec.Details.Support = AcmDriverSupportCodec;
        dec.Details.ShortName = "Audio decoders";
        dec.Details.LongName = "Decoders for further audio formats";
        dec.Details.Licensing = licensing;
        dec.Details.Features = "Decodes the listed formats to PCM";
        drivers.push_back(std::move(dec));
    }

    // The PCM converter handles rate, channel and sample size changes; it is no codec.
    TDriverEntry pcm;
    pcm.Tags.push_back(PcmTagEntry());
    pcm.Details.Support = AcmDriverSupportConverter;
    pcm.Details.ShortName = "PCM";
    pcm.Details.LongName = "PCM format converter";
    pcm.Details.Licensing = "Uses the system's libswresample";
    pcm.Details.Features = "Converts between PCM rates, channel counts and sample sizes";
    drivers.push_back(std::move(pcm));

    for (TDriverEntry& d : drivers)
        d.Details.FormatTagCount = uint32_t(d.Tags.size());
    return drivers;
}

const std::vector<TDriverEntry>& Catalogue() {
    static const std::vector<TDriverEntry> catalogue = BuildCatalogue();
    return catalogue;
}

const TTagEntry* FindTag(uint16_t tag) {
    if (tag == WAVE_FORMAT_PCM)
        return nullptr;
    for (const TDriverEntry& d : Catalogue())
        for (const TTagEntry& e : d.Tags)
            if (e.Tag == tag)
                return &e;
    return nullptr;
}

const TDriverEntry* DriverById(uint32_t id) {
    const auto& c = Catalogue();
    if (id < 1 || id > c.size())
        return nullptr;
    return &c[id - 1];
}

// ---- Decoders -----------------------------------------------------------------------------------

TCodecContextPtr OpenDecoder(const TTagEntry& entry, const TWaveFormat& f) {
    if (!entry.Decode || f.Channels < 1 || f.Channels > MaxChannels || f.Rate < 1 ||
        f.Rate > MaxRate)
        return nullptr;
    const AVCodec* codec = avcodec_find_decoder(entry.Id);
    if (!codec)
        return nullptr;
    TCodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c)
        throw std::bad_alloc();
    c->sample_rate = int(f.Rate);
    av_channel_layout_default(&c->ch_layout, f.Channels);
    c->block_align = f.BlockAlign;
    c->bit_rate = int64_t(f.AvgBytes) * 8;
    c->bits_per_coded_sample = f.Bits;
    c->codec_tag = f.Tag;
    c->pkt_timebase = AVRational{1, int(f.Rate)};
    if (f.ExtraSize) {
        c->extradata =
            static_cast<uint8_t*>(av_mallocz(size_t(f.ExtraSize) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!c->extradata)
            throw std::bad_alloc();
        std::memcpy(c->extradata, f.Extra, f.ExtraSize);
        c->extradata_size = f.ExtraSize;
    }
    if (avcodec_open2(c.get(), codec, nullptr) < 0)
        return nullptr;
    return c;
}

// ---- Output queue and PCM sink ------------------------------------------------------------------

// Output made but not yet handed out. Its storage is kept between calls.
class TOutQueue {
public:
    uint32_t Grain = 1; // output leaves in whole multiples of this

    size_t Pending() const { return Data.size() - Head; }
    // Room for N more bytes at the end; Commit says how many were written.
    uint8_t* Reserve(size_t n) {
        Compact();
        Mark = Data.size();
        Data.resize(Mark + n);
        return Data.data() + Mark;
    }
    void Commit(size_t written) { Data.resize(Mark + written); }
    void Append(const uint8_t* p, size_t n) { std::memcpy(Reserve(n), p, n); }
    uint32_t Deliver(uint8_t* dst, uint32_t length) {
        size_t n = std::min<size_t>(Pending(), length / Grain * Grain);
        if (n)
            std::memcpy(dst, Data.data() + Head, n);
        Head += n;
        if (Head == Data.size()) {
            Data.clear();
            Head = 0;
        }
        return uint32_t(n);
    }
    void Clear() {
        Data.clear();
        Head = 0;
    }

private:
    void Compact() {
        if (Head) {
            Data.erase(Data.begin(), Data.begin() + std::ptrdiff_t(Head));
            Head = 0;
        }
    }
    std::vector<uint8_t> Data;
    size_t Head = 0;
    size_t Mark = 0;
};

// Turns sample buffers of any format into the destination PCM format and queues the bytes.
class TPcmSink {
public:
    explicit TPcmSink(const TWaveFormat& dst) : OutRate(int(dst.Rate)), OutBA(dst.BlockAlign) {
        OutFmt = PcmSampleFormat(dst.Bits);
        av_channel_layout_default(&OutLayout, dst.Channels);
    }
    ~TPcmSink() {
        av_channel_layout_uninit(&OutLayout);
        av_channel_layout_uninit(&InLayout);
    }
    TPcmSink(const TPcmSink&) = delete;
    TPcmSink& operator=(const TPcmSink&) = delete;

    TAcmResult Put(const uint8_t* const* data, int samples, AVSampleFormat fmt, int rate,
                   const AVChannelLayout& layout, TOutQueue& out) {
        if (samples <= 0)
            return TAcmResult::Ok;
        if (!Swr || fmt != InFmt || rate != InRate ||
            av_channel_layout_compare(&layout, &InLayout) != 0) {
            TAcmResult r = Flush(out);
            if (r != TAcmResult::Ok)
                return r;
            r = Configure(fmt, rate, layout);
            if (r != TAcmResult::Ok)
                return r;
        }
        return Run(data, samples, out);
    }

    // Delivers what the converter still holds (the resampler's delay).
    TAcmResult Flush(TOutQueue& out) {
        if (!Swr)
            return TAcmResult::Ok;
        return Run(nullptr, 0, out);
    }

    // Upper bound of output samples for In more input samples.
    int64_t Bound(int64_t in, int srcRate) const {
        if (Swr)
            return swr_get_out_samples(Swr.get(), int(std::min<int64_t>(in, INT32_MAX))) + 16;
        return av_rescale_rnd(in, OutRate, srcRate, AV_ROUND_UP) + 16;
    }

    void Reset() { Swr.reset(); }

private:
    TAcmResult Configure(AVSampleFormat fmt, int rate, const AVChannelLayout& layout) {
        Swr.reset();
        av_channel_layout_uninit(&InLayout);
        // Decoders of unusual formats may leave the channel order unstated.
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&InLayout, layout.nb_channels);
        else if (av_channel_layout_copy(&InLayout, &layout) < 0)
            return TAcmResult::NoMemory;
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &OutLayout, OutFmt, OutRate, &InLayout, fmt, rate, 0, nullptr) <
            0)
            return TAcmResult::NotPossible;
        TSwrPtr swr(s);
        // Stereo to mono averages the two channels; mono to stereo copies it to both at full
        // level (the library's own mixes lower the level by 3 dB).
        const int inCh = InLayout.nb_channels, outCh = OutLayout.nb_channels;
        if (inCh == 2 && outCh == 1) {
            const double m[2] = {0.5, 0.5};
            if (swr_set_matrix(swr.get(), m, 2) < 0)
                return TAcmResult::NotPossible;
        } else if (inCh == 1 && outCh == 2) {
            const double m[2] = {1.0, 1.0};
            if (swr_set_matrix(swr.get(), m, 1) < 0)
                return TAcmResult::NotPossible;
        }
        if (swr_init(swr.get()) < 0)
            return TAcmResult::NotPossible;
        Swr = std::move(swr);
        InFmt = fmt;
        InRate = rate;
        return TAcmResult::Ok;
    }

    TAcmResult Run(const uint8_t* const* data, int samples, TOutQueue& out) {
        for (;;) {
            const int room = swr_get_out_samples(Swr.get(), samples) + 16;
            if (room <= 0)
                return TAcmResult::Ok;
            uint8_t* p = out.Reserve(CheckedMul<size_t>(size_t(room), OutBA));
            const int n =
                swr_convert(Swr.get(), &p, room, const_cast<const uint8_t**>(data), samples);
            if (n < 0) {
                out.Commit(0);
                return TAcmResult::CodecFailed;
            }
            out.Commit(size_t(n) * OutBA);
            // With input, one call takes all of it; a flush runs until nothing is left.
            if (data || n == 0)
                return TAcmResult::Ok;
        }
    }

    TSwrPtr Swr;
    AVSampleFormat InFmt = AV_SAMPLE_FMT_NONE;
    int InRate = 0;
    AVChannelLayout InLayout{};
    AVSampleFormat OutFmt;
    int OutRate;
    AVChannelLayout OutLayout{};
    uint32_t OutBA;
};

uint32_t ClampSize(uint64_t n) {
    return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(n);
}

} // namespace

// ---- Streams ------------------------------------------------------------------------------------

class TAcmStream {
public:
    virtual ~TAcmStream() = default;

    TAcmResult Convert(TAcmStreamHeader& h, uint32_t flags) {
        const bool end = (flags & AcmConvertEnd) != 0;
        if (h.SrcLength == 0 && !end) {
            // Only hands out what earlier calls made; a stream that has ended stays ended.
            h.DstLengthUsed = Out.Deliver(h.Dst, h.DstLength);
            return TAcmResult::Ok;
        }
        if (Ended) {
            TAcmResult r = Restart();
            if (r != TAcmResult::Ok)
                return r;
            Ended = false;
        }
        uint32_t used = 0;
        TAcmResult r = Consume(h.Src, h.SrcLength, end, used);
        if (r != TAcmResult::Ok)
            return r;
        if (end)
            Ended = true;
        h.SrcLengthUsed = used;
        h.DstLengthUsed = Out.Deliver(h.Dst, h.DstLength);
        return TAcmResult::Ok;
    }

    virtual uint64_t Size(uint32_t srcBytes) = 0;
    size_t Pending() const { return Out.Pending(); }

protected:
    virtual TAcmResult Consume(const uint8_t* src, uint32_t length, bool end, uint32_t& used) = 0;
    // Prepares the stream for new input after an end-of-stream flush.
    virtual TAcmResult Restart() = 0;

    TOutQueue Out;
    bool Ended = false;
};

void TAcmStreamDeleter::operator()(TAcmStream* stream) const noexcept {
    delete stream;
}

namespace {

// PCM to PCM of another rate, channel count or sample size.
class TPcmStream final : public TAcmStream {
public:
    TPcmStream(const TWaveFormat& src, const TWaveFormat& dst)
        : Src(src), Sink(dst), DstBA(dst.BlockAlign) {
        Out.Grain = dst.BlockAlign;
        av_channel_layout_default(&SrcLayout, src.Channels);
    }
    ~TPcmStream() override { av_channel_layout_uninit(&SrcLayout); }

    uint64_t Size(uint32_t srcBytes) override {
        const int64_t samples = srcBytes / Src.BlockAlign;
        return uint64_t(Sink.Bound(samples, int(Src.Rate))) * DstBA + Out.Pending();
    }

protected:
    TAcmResult Consume(const uint8_t* src, uint32_t length, bool end, uint32_t& used) override {
        const uint32_t samples = length / Src.BlockAlign;
        if (samples > uint32_t(INT32_MAX))
            return TAcmResult::InvalidParam;
        TAcmResult r =
            Sink.Put(&src, int(samples), PcmSampleFormat(Src.Bits), int(Src.Rate), SrcLayout, Out);
        if (r == TAcmResult::Ok && end)
            r = Sink.Flush(Out);
        used = samples * Src.BlockAlign;
        return r;
    }
    TAcmResult Restart() override {
        Sink.Reset();
        return TAcmResult::Ok;
    }

private:
    TWaveFormat Src;
    TPcmSink Sink;
    uint32_t DstBA;
    AVChannelLayout SrcLayout{};
};

// PCM to a codec.
class TEncodeStream final : public TAcmStream {
public:
    // Frames of codecs that take any frame length are cut to this many samples.
    static constexpr int VariableFrame = 4096;

    TEncodeStream(const TWaveFormat& src, const AVCodec* codec, const TEncoderRequest& request,
                  TCodecContextPtr context)
        : Src(src), Codec(codec), Request(request), Ctx(std::move(context)) {}

    TAcmResult Init() {
        Frame.reset(av_frame_alloc());
        Packet.reset(av_packet_alloc());
        if (!Frame || !Packet)
            return TAcmResult::NoMemory;
        Fixed = Ctx->frame_size > 0 && !(Codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        FrameCap = Fixed ? Ctx->frame_size : VariableFrame;
        Out.Grain = Ctx->block_align > 0 ? uint32_t(Ctx->block_align) : 1;
        SwrContext* s = nullptr;
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, Src.Channels);
        const int r =
            swr_alloc_set_opts2(&s, &Ctx->ch_layout, Ctx->sample_fmt, Ctx->sample_rate, &layout,
                                PcmSampleFormat(Src.Bits), int(Src.Rate), 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (r < 0)
            return TAcmResult::NotPossible;
        Swr.reset(s);
        if (swr_init(Swr.get()) < 0)
            return TAcmResult::NotPossible;
        return AllocFrame();
    }

    uint64_t Size(uint32_t srcBytes) override {
        const uint64_t samples = srcBytes / Src.BlockAlign;
        const uint64_t cap = uint64_t(FrameCap);
        const uint64_t delay = Ctx->initial_padding > 0 ? uint64_t(Ctx->initial_padding) : 0;
        // Whole frames of this input, the codec's delay, and the frames still inside the codec.
        const uint64_t frames =
            CheckedAdd<uint64_t>((samples + cap - 1) / cap, (delay + cap - 1) / cap + 2);
        uint64_t perFrame;
        if (Ctx->block_align > 0)
            perFrame = uint64_t(Ctx->block_align) * (Fixed ? 1 : cap);
        else if (Ctx->bit_rate > 0)
            perFrame = cap * uint64_t(Ctx->bit_rate) / (8 * uint64_t(Ctx->sample_rate)) + 64;
        else
            perFrame = cap * Src.Channels * 4;
        return CheckedAdd<uint64_t>(CheckedMul<uint64_t>(frames, perFrame), Out.Pending());
    }

protected:
    TAcmResult Consume(const uint8_t* src, uint32_t length, bool end, uint32_t& used) override {
        const uint32_t samples = length / Src.BlockAlign;
        const uint32_t take = (end || !Fixed) ? samples : samples / FrameCap * FrameCap;
        // An encoder that states a delay but cannot be drained keeps that many of the last
        // samples; at the end it gets as much silence after them, so that they come out.
        uint32_t silence = 0;
        if (end && !(Codec->capabilities & AV_CODEC_CAP_DELAY) && Ctx->initial_padding > 0)
            silence = uint32_t(Ctx->initial_padding);
        const uint32_t total = CheckedAdd(take, silence);
        const uint32_t ba = Src.BlockAlign;
        for (uint32_t pos = 0; pos < total;) {
            const uint32_t chunk = std::min<uint32_t>(uint32_t(FrameCap), total - pos);
            const uint8_t* in = src + size_t(pos) * ba;
            if (pos + chunk > take) {
                // This frame reaches into the silence.
                Stage.assign(size_t(chunk) * ba, Src.Bits == 8 ? 0x80 : 0);
                if (pos < take)
                    std::memcpy(Stage.data(), in, size_t(take - pos) * ba);
                in = Stage.data();
            }
            TAcmResult r = AllocFrame();
            if (r != TAcmResult::Ok)
                return r;
            Frame->nb_samples = int(chunk);
            if (swr_convert(Swr.get(), Frame->extended_data, int(chunk), &in, int(chunk)) !=
                int(chunk))
                return TAcmResult::CodecFailed;
            Frame->pts = NextPts;
            NextPts += chunk;
            if (avcodec_send_frame(Ctx.get(), Frame.get()) < 0)
                return TAcmResult::CodecFailed;
            r = Drain();
            if (r != TAcmResult::Ok)
                return r;
            pos += chunk;
        }
        if (end) {
            if (avcodec_send_frame(Ctx.get(), nullptr) < 0)
                return TAcmResult::CodecFailed;
            TAcmResult r = Drain();
            if (r != TAcmResult::Ok)
                return r;
        }
        used = take * Src.BlockAlign;
        return TAcmResult::Ok;
    }

    // A drained encoder takes no more input; a new one with the same settings continues.
    TAcmResult Restart() override {
        TCodecContextPtr c = OpenEncoder(Codec, Request);
        if (!c)
            return TAcmResult::CodecFailed;
        Ctx = std::move(c);
        NextPts = 0;
        return TAcmResult::Ok;
    }

private:
    // The frame buffer is reused; it is only replaced while the codec still holds a reference.
    TAcmResult AllocFrame() {
        if (Frame->buf[0] && av_frame_is_writable(Frame.get()))
            return TAcmResult::Ok;
        av_frame_unref(Frame.get());
        Frame->format = Ctx->sample_fmt;
        Frame->sample_rate = Ctx->sample_rate;
        if (av_channel_layout_copy(&Frame->ch_layout, &Ctx->ch_layout) < 0)
            return TAcmResult::NoMemory;
        Frame->nb_samples = FrameCap;
        if (av_frame_get_buffer(Frame.get(), 0) < 0)
            return TAcmResult::NoMemory;
        return TAcmResult::Ok;
    }

    TAcmResult Drain() {
        for (;;) {
            const int r = avcodec_receive_packet(Ctx.get(), Packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return TAcmResult::Ok;
            if (r < 0)
                return TAcmResult::CodecFailed;
            Out.Append(Packet->data, size_t(Packet->size));
            av_packet_unref(Packet.get());
        }
    }

    TWaveFormat Src;
    const AVCodec* Codec;
    TEncoderRequest Request;
    TCodecContextPtr Ctx;
    TFramePtr Frame;
    TPacketPtr Packet;
    TSwrPtr Swr;
    std::vector<uint8_t> Stage; // the last frame of a stream, with its silence
    bool Fixed = false;
    int FrameCap = 0;
    int64_t NextPts = 0;
};

// A codec to PCM.
class TDecodeStream final : public TAcmStream {
public:
    // Decoded samples per coded byte that the size estimate allows for codecs whose frames a
    // parser finds: MPEG audio and AC-3 frames at their lowest usual bit rates give about 12.
    static constexpr uint64_t ParsedSamplesPerByte = 12;

    TDecodeStream(const TWaveFormat& src, const TWaveFormat& dst, TCodecContextPtr context)
        : Src(src), Sink(dst), DstBA(dst.BlockAlign), Ctx(std::move(context)) {
        Out.Grain = dst.BlockAlign;
        SrcBA = std::max<uint32_t>(1, src.BlockAlign);
        PcmFamily = IsPcmFamily(Ctx->codec_id);
    }

    TAcmResult Init() {
        Frame.reset(av_frame_alloc());
        Packet.reset(av_packet_alloc());
        if (!Frame || !Packet)
            return TAcmResult::NoMemory;
        if (!PcmFamily)
            Parser.reset(av_parser_init(Ctx->codec_id));
        return TAcmResult::Ok;
    }

    uint64_t Size(uint32_t srcBytes) override {
        uint64_t samples;
        const int perBlock = av_get_audio_frame_duration(Ctx.get(), int(SrcBA));
        if (PcmFamily) {
            samples = srcBytes / SrcBA;
        } else if (!Parser && perBlock > 0) {
            samples = uint64_t((srcBytes + SrcBA - 1) / SrcBA) * uint64_t(perBlock);
        } else {
            // Frames found by a parser: the header's byte rate may be anything (0 included), so
            // the guess comes from the codecs' own frames, with room for the frames the parser
            // and the decoder hold back. Output beyond it waits in the queue.
            samples = uint64_t(srcBytes) * ParsedSamplesPerByte + 2 * 4608;
            if (perBlock > 0)
                samples += uint64_t(perBlock);
        }
        uint64_t bytes =
            uint64_t(Sink.Bound(int64_t(std::min<uint64_t>(samples, INT32_MAX)), int(Src.Rate))) *
            DstBA;
        if (srcBytes == 0)
            bytes = 0;
        return bytes + Out.Pending();
    }

protected:
    TAcmResult Consume(const uint8_t* src, uint32_t length, bool end, uint32_t& used) override {
        TAcmResult r = TAcmResult::Ok;
        // Parsers and decoders read a little past the end of what they are given; the caller's
        // buffer has no room for that, so they get a copy with zeroed padding behind it.
        if (length > 0) {
            if (Padded.size() < size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE)
                Padded.resize(size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE);
            std::memcpy(Padded.data(), src, length);
            std::memset(Padded.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
            src = Padded.data();
        }
        if (Parser) {
            const uint8_t* p = src;
            uint32_t left = length;
            while (left > 0) {
                uint8_t* data = nullptr;
                int size = 0;
                const int n = av_parser_parse2(Parser.get(), Ctx.get(), &data, &size, p,
                                               int(std::min<uint32_t>(left, INT32_MAX)),
                                               AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                if (n < 0)
                    return TAcmResult::CodecFailed;
                p += n;
                left -= uint32_t(n);
                if (size > 0 && (r = DecodePacket(data, size)) != TAcmResult::Ok)
                    return r;
                if (n == 0 && size == 0)
                    break;
            }
            if (end) {
                uint8_t* data = nullptr;
                int size = 0;
                av_parser_parse2(Parser.get(), Ctx.get(), &data, &size, nullptr, 0, AV_NOPTS_VALUE,
                                 AV_NOPTS_VALUE, 0);
                if (size > 0 && (r = DecodePacket(data, size)) != TAcmResult::Ok)
                    return r;
            }
            used = length;
        } else {
            const uint32_t blocks = length / SrcBA;
            if (PcmFamily) {
                // Sample codecs take any number of whole blocks per packet.
                constexpr uint32_t maxPacket = 1u << 20;
                const uint32_t perPacket = std::max<uint32_t>(1, maxPacket / SrcBA);
                for (uint32_t b = 0; b < blocks; b += perPacket) {
                    const uint32_t n = std::min(perPacket, blocks - b);
                    r = DecodePacket(src + size_t(b) * SrcBA, int(n * SrcBA));
                    if (r != TAcmResult::Ok)
                        return r;
                }
            } else {
                for (uint32_t b = 0; b < blocks; ++b) {
                    r = DecodePacket(src + size_t(b) * SrcBA, int(SrcBA));
                    if (r != TAcmResult::Ok)
                        return r;
                }
            }
            used = blocks * SrcBA;
        }
        if (end) {
            if (avcodec_send_packet(Ctx.get(), nullptr) < 0)
                return TAcmResult::CodecFailed;
            if ((r = ReceiveFrames()) != TAcmResult::Ok)
                return r;
            r = Sink.Flush(Out);
        }
        return r;
    }

    TAcmResult Restart() override {
        avcodec_flush_buffers(Ctx.get());
        Sink.Reset();
        if (Parser)
            Parser.reset(av_parser_init(Ctx->codec_id));
        return TAcmResult::Ok;
    }

private:
    TAcmResult DecodePacket(const uint8_t* data, int size) {
        Packet->data = const_cast<uint8_t*>(data);
        Packet->size = size;
        const int r = avcodec_send_packet(Ctx.get(), Packet.get());
        Packet->data = nullptr;
        Packet->size = 0;
        // A damaged packet is skipped, as a player would; the stream goes on.
        if (r == AVERROR(ENOMEM))
            return TAcmResult::NoMemory;
        return ReceiveFrames();
    }

    TAcmResult ReceiveFrames() {
        // Errors on damaged data are passed over; a decoder that keeps failing has given up.
        for (int errors = 0; errors < 16;) {
            const int r = avcodec_receive_frame(Ctx.get(), Frame.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return TAcmResult::Ok;
            if (r == AVERROR(ENOMEM))
                return TAcmResult::NoMemory;
            if (r < 0) {
                ++errors;
                continue;
            }
            TAcmResult put =
                Sink.Put(Frame->extended_data, Frame->nb_samples, AVSampleFormat(Frame->format),
                         Frame->sample_rate, Frame->ch_layout, Out);
            av_frame_unref(Frame.get());
            if (put != TAcmResult::Ok)
                return put;
        }
        return TAcmResult::CodecFailed;
    }

    TWaveFormat Src;
    TPcmSink Sink;
    uint32_t DstBA;
    uint32_t SrcBA = 1;
    bool PcmFamily = false;
    TCodecContextPtr Ctx;
    TParserPtr Parser;
    TFramePtr Frame;
    TPacketPtr Packet;
    std::vector<uint8_t> Padded; // the input with padding, reused from call to call
};

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

// The encoder settings that produce a given destination format.
TEncoderRequest RequestFor(const TWaveFormat& dst) {
    TEncoderRequest r;
    r.Rate = dst.Rate;
    r.Channels = dst.Channels;
    r.BitRate = int64_t(dst.AvgBytes) * 8;
    r.BlockSize = dst.BlockAlign;
    return r;
}

} // namespace

// ---- Public calls -------------------------------------------------------------------------------

const char* AcmResultText(TAcmResult result) {
    switch (result) {
    case TAcmResult::Ok:
        return "No error";
    case TAcmResult::InvalidParam:
        return "Invalid parameter";
    case TAcmResult::InvalidHandle:
        return "Invalid handle";
    case TAcmResult::BadFormat:
        return "Bad wave format";
    case TAcmResult::NotPossible:
        return "Conversion not possible";
    case TAcmResult::NoMemory:
        return "Out of memory";
    case TAcmResult::CodecFailed:
        return "Codec failed";
    }
    return "Unknown error";
}

void AcmDriverEnum(const std::function<bool(TAcmDriverId id, uint32_t support)>& callback) {
    const auto& c = Catalogue();
    for (size_t i = 0; i < c.size(); ++i)
        if (!callback(TAcmDriverId(i + 1), c[i].Details.Support))
            break;
}

TAcmResult AcmDriverDetails(TAcmDriverId id, TAcmDriverDetails& details) {
    const TDriverEntry* d = DriverById(id);
    if (!d)
        return TAcmResult::InvalidHandle;
    details = d->Details;
    return TAcmResult::Ok;
}

TAcmResult AcmDriverOpen(TAcmDriverId id, TAcmDriverHandle& handle) {
    handle = 0;
    if (!DriverById(id))
        return TAcmResult::InvalidHandle;
    handle = id;
    return TAcmResult::Ok;
}

TAcmResult AcmDriverClose(TAcmDriverHandle handle) {
    return DriverById(handle) ? TAcmResult::Ok : TAcmResult::InvalidHandle;
}

TAcmResult AcmFormatTagDetails(TAcmDriverHandle handle, uint32_t index,
                               TAcmFormatTagDetails& details) {
    const TDriverEntry* d = DriverById(handle);
    if (!d)
        return TAcmResult::InvalidHandle;
    if (index >= d->Tags.size())
        return TAcmResult::InvalidParam;
    const TTagEntry& e = d->Tags[index];
    details.Index = index;
    details.FormatTag = e.Tag;
    details.FormatSize = e.FormatSize;
    details.CanEncode = e.Encode;
    details.Name = e.Name.substr(0, 47);
    return TAcmResult::Ok;
}

TAcmResult AcmFormatSuggest(const uint8_t* src, uint32_t srcSize, uint8_t* dst, uint32_t dstSize,
                            uint32_t flags) {
    return Guarded([&]() -> TAcmResult {
        if (!dst || dstSize < WAVE_FORMAT_EX_SIZE || (flags & ~AcmSuggestFormatTag))
            return TAcmResult::InvalidParam;
        TWaveFormat s;
        if (!ParseFormat(src, srcSize, s))
            return TAcmResult::BadFormat;
        const uint16_t tag = (flags & AcmSuggestFormatTag) ? Get16(dst) : WAVE_FORMAT_PCM;
        const bool srcPcm = s.Tag == WAVE_FORMAT_PCM;
        if (srcPcm && !IsUsablePcm(s))
            return TAcmResult::BadFormat;

        TWaveFormat d;
        if (tag == WAVE_FORMAT_PCM) {
            d.Tag = WAVE_FORMAT_PCM;
            d.Channels = s.Channels;
            d.Rate = s.Rate;
            d.Bits = srcPcm ? s.Bits : 16;
            d.BlockAlign = uint16_t(d.Channels * (d.Bits / 8));
            d.AvgBytes = CheckedMul<uint32_t>(d.BlockAlign, d.Rate);
            if (!srcPcm) {
                const TTagEntry* e = FindTag(s.Tag);
                if (!e || !OpenDecoder(*e, s))
                    return TAcmResult::NotPossible;
            }
        } else {
            const TTagEntry* e = FindTag(tag);
            if (!srcPcm || !e || !e->Encode)
                return TAcmResult::NotPossible;
            TEncoderRequest r;
            r.Rate = s.Rate;
            r.Channels = s.Channels;
            TCodecContextPtr c = OpenEncoder(avcodec_find_encoder(e->Id), r);
            if (!c || !EncoderFormat(c.get(), tag, d))
                return TAcmResult::NotPossible;
        }
        if (!WriteFormat(d, dst, dstSize))
            return TAcmResult::InvalidParam;
        return TAcmResult::Ok;
    });
}

TAcmResult AcmStreamOpen(TAcmStreamPtr& stream, const uint8_t* src, uint32_t srcSize,
                         const uint8_t* dst, uint32_t dstSize) {
    stream.reset();
    return Guarded([&]() -> TAcmResult {
        TWaveFormat s, d;
        if (!ParseFormat(src, srcSize, s) || !ParseFormat(dst, dstSize, d))
            return TAcmResult::BadFormat;
        const bool srcPcm = s.Tag == WAVE_FORMAT_PCM, dstPcm = d.Tag == WAVE_FORMAT_PCM;
        if ((srcPcm && !IsUsablePcm(s)) || (dstPcm && !IsUsablePcm(d)))
            return TAcmResult::BadFormat;

        if (srcPcm && dstPcm) {
            stream.reset(new TPcmStream(s, d));
            return TAcmResult::Ok;
        }
        // Codecs keep the rate and the channel count; the PCM converter changes those.
        if (s.Rate != d.Rate || s.Channels != d.Channels)
            return TAcmResult::NotPossible;
        if (srcPcm) {
            const TTagEntry* e = FindTag(d.Tag);
            if (!e || !e->Encode)
                return TAcmResult::NotPossible;
            const AVCodec* codec = avcodec_find_encoder(e->Id);
            const TEncoderRequest request = RequestFor(d);
            TCodecContextPtr c = OpenEncoder(codec, request);
            TWaveFormat made;
            // The encoder must make exactly the format asked for, extra bytes included.
            if (!c || !EncoderFormat(c.get(), d.Tag, made) || !SameFormat(made, d))
                return TAcmResult::NotPossible;
            std::unique_ptr<TEncodeStream> es(new TEncodeStream(s, codec, request, std::move(c)));
            TAcmResult r = es->Init();
            if (r != TAcmResult::Ok)
                return r;
            stream.reset(es.release());
            return TAcmResult::Ok;
        }
        if (dstPcm) {
            const TTagEntry* e = FindTag(s.Tag);
            if (!e)
                return TAcmResult::NotPossible;
            TCodecContextPtr c = OpenDecoder(*e, s);
            if (!c)
                return TAcmResult::NotPossible;
            std::unique_ptr<TDecodeStream> ds(new TDecodeStream(s, d, std::move(c)));
            TAcmResult r = ds->Init();
            if (r != TAcmResult::Ok)
                return r;
            stream.reset(ds.release());
            return TAcmResult::Ok;
        }
        return TAcmResult::NotPossible;
    });
}

void AcmStreamClose(TAcmStreamPtr& stream) {
    stream.reset();
}

TAcmResult AcmStreamSize(TAcmStream& stream, uint32_t srcBytes, uint32_t& dstBytes) {
    dstBytes = 0;
    return Guarded([&]() -> TAcmResult {
        dstBytes = ClampSize(stream.Size(srcBytes));
        return TAcmResult::Ok;
    });
}

TAcmResult AcmStreamPending(TAcmStream& stream, uint32_t& dstBytes) {
    const size_t n = stream.Pending();
    dstBytes = ClampSize(n);
    return n == dstBytes ? TAcmResult::Ok : TAcmResult::InvalidParam;
}

TAcmResult AcmStreamPrepareHeader(TAcmStream&, TAcmStreamHeader& header) {
    if ((header.SrcLength && !header.Src) || (header.DstLength && !header.Dst))
        return TAcmResult::InvalidParam;
    header.Prepared = true;
    header.SrcLengthUsed = 0;
    header.DstLengthUsed = 0;
    return TAcmResult::Ok;
}

TAcmResult AcmStreamConvert(TAcmStream& stream, TAcmStreamHeader& header, uint32_t flags) {
    if (!header.Prepared)
        return TAcmResult::InvalidHandle;
    if (flags & ~(AcmConvertBlockAlign | AcmConvertEnd))
        return TAcmResult::InvalidParam;
    header.SrcLengthUsed = 0;
    header.DstLengthUsed = 0;
    return Guarded([&] { return stream.Convert(header, flags); });
}

TAcmResult AcmStreamUnprepareHeader(TAcmStream&, TAcmStreamHeader& header) {
    if (!header.Prepared)
        return TAcmResult::InvalidHandle;
    header.Prepared = false;
    return TAcmResult::Ok;
}
