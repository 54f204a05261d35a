#include "MediaProbe.h"

#include <cstdarg>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

const TProbedStream* TProbedFile::FirstOf(bool video) const {
    for (const auto& s : Streams)
        if (s.Video == video)
            return &s;
    return nullptr;
}

namespace {

void TakePicture(const AVFrame* f, TProbedStream& s) {
    SwsContext* sws =
        sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                       AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) {
        ++s.DecodeErrors;
        return;
    }
    std::vector<uint8_t> bgr(size_t(f->width) * size_t(f->height) * 3);
    uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {f->width * 3, 0, 0, 0};
    sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride);
    sws_freeContext(sws);
    s.Pictures.push_back(std::move(bgr));
}

void Receive(AVCodecContext* c, AVFrame* frame, TProbedStream& s) {
    while (avcodec_receive_frame(c, frame) >= 0) {
        ++s.DecodedFrames;
        if (s.Video)
            TakePicture(frame, s);
        else
            s.DecodedSamples += frame->nb_samples;
        av_frame_unref(frame);
    }
}

// Messages of warning level and worse, collected while one file is read.
std::vector<std::string>* CollectedWarnings = nullptr;

void CollectWarning(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING || !CollectedWarnings)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &prefix);
    CollectedWarnings->push_back(line);
}

struct TWarningCollector {
    explicit TWarningCollector(std::vector<std::string>& to) {
        CollectedWarnings = &to;
        av_log_set_callback(CollectWarning);
    }
    ~TWarningCollector() {
        av_log_set_callback(av_log_default_callback);
        CollectedWarnings = nullptr;
    }
};

} // namespace

TProbedFile ProbeMedia(const std::string& fileName, bool decode) {
    TProbedFile result;
    TWarningCollector collector(result.Warnings);
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, fileName.c_str(), nullptr, nullptr) < 0)
        return result;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return result;
    }
    result.Opened = true;
    result.FormatName = fmt->iformat->name;
    result.Duration = fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE : 0;
    std::vector<AVCodecContext*> decoders(fmt->nb_streams, nullptr);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        const AVCodecParameters* par = st->codecpar;
        TProbedStream s;
        s.Video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        s.CodecId = int(par->codec_id);
        s.CodecName = avcodec_get_name(par->codec_id);
        s.CodecTag = par->codec_tag;
        s.Width = par->width;
        s.Height = par->height;
        if (s.Video && st->r_frame_rate.den > 0)
            s.FrameRate = av_q2d(st->r_frame_rate);
        s.SampleRate = par->sample_rate;
        s.Channels = par->ch_layout.nb_channels;
        s.BitRate = par->bit_rate;
        if (st->duration > 0)
            s.Duration = double(st->duration) * av_q2d(st->time_base);
        result.Streams.push_back(s);
        if (decode) {
            const AVCodec* codec = avcodec_find_decoder(par->codec_id);
            AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
            if (c && avcodec_parameters_to_context(c, par) >= 0 &&
                avcodec_open2(c, codec, nullptr) >= 0)
                decoders[i] = c;
            else
                avcodec_free_context(&c);
        }
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<int64_t> lastDts(fmt->nb_streams, AV_NOPTS_VALUE);
    while (av_read_frame(fmt, pkt) >= 0) {
        const unsigned i = unsigned(pkt->stream_index);
        TProbedStream& s = result.Streams[i];
        if (pkt->dts != AV_NOPTS_VALUE) {
            if (lastDts[i] != AV_NOPTS_VALUE && pkt->dts <= lastDts[i])
                ++s.DtsNotIncreasing;
            lastDts[i] = pkt->dts;
        }
        s.KeyFlags.push_back((pkt->flags & AV_PKT_FLAG_KEY) != 0);
        const int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        s.PacketTimes.push_back(
            t == AV_NOPTS_VALUE ? -1 : double(t) * av_q2d(fmt->streams[i]->time_base));
        if (decoders[i]) {
            if (avcodec_send_packet(decoders[i], pkt) < 0)
                ++s.DecodeErrors;
            Receive(decoders[i], frame, s);
        }
        av_packet_unref(pkt);
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (decoders[i]) {
            avcodec_send_packet(decoders[i], nullptr);
            Receive(decoders[i], frame, result.Streams[i]);
            avcodec_free_context(&decoders[i]);
        }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return result;
}
