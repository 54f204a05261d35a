// The audio codec layer's conversion streams: PCM to PCM, PCM to a codec and a codec to PCM, each
// handing out its output in block-aligned pieces and flushing at the end of the stream.
#include <algorithm>
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

using namespace AcmPart;

namespace {

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
