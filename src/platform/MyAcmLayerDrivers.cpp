// The audio codec layer's catalogue: the drivers and format tags it offers, the encoders and
// decoders it opens for them, and the wave format header an encoder's output is described by.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "MyAcmLayerCatalogue.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace AcmPart {

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

} // namespace AcmPart
