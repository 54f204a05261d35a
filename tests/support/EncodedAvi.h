// Compressed AVI fixtures written with libavformat and libavcodec (MJPEG, MPEG-4 part 2 and
// whatever other encoder is present), showing a moving test picture that differs from frame to
// frame, plus a plain sequential reference decode. Header-only so the benchmarks can use it too.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

struct TEncodedAviSpec {
    std::string Encoder = "mjpeg"; // libavcodec encoder name
    int Width = 64;
    int Height = 48;
    int Frames = 30;
    int Fps = 15;
    int Gop = 12;          // key frame distance of inter-frame codecs
    std::set<int> Dropped; // frames written as empty chunks
    std::string Tag;       // FOURCC to store instead of the muxer's choice
    // A PCM sound track of silence at 22050 Hz beside the pictures when SoundBits is not 0 (16,
    // 24 or 32). The muxer stores more than 16 bits or 2 channels with the extensible tag.
    int SoundBits = 0;
    int SoundChannels = 2;
};

// Adds the PCM track of spec to oc; null when spec asks for none.
inline AVStream* AddPcmSoundStream(AVFormatContext* oc, const TEncodedAviSpec& spec) {
    if (spec.SoundBits == 0)
        return nullptr;
    AVStream* a = avformat_new_stream(oc, nullptr);
    AVCodecParameters* p = a->codecpar;
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = spec.SoundBits == 16   ? AV_CODEC_ID_PCM_S16LE
                  : spec.SoundBits == 24 ? AV_CODEC_ID_PCM_S24LE
                                         : AV_CODEC_ID_PCM_S32LE;
    p->sample_rate = 22050;
    av_channel_layout_default(&p->ch_layout, spec.SoundChannels);
    p->bits_per_coded_sample = spec.SoundBits;
    p->block_align = spec.SoundChannels * spec.SoundBits / 8;
    p->bit_rate = int64_t(p->block_align) * 8 * p->sample_rate;
    a->time_base = AVRational{1, p->sample_rate};
    return a;
}

// Frame i of the test picture as B, G, R rows top-down (3 * width bytes each): a gradient, a bar
// that moves 3 pixels a frame and the frame number in bit blocks, so neighbours differ clearly.
inline std::vector<uint8_t> TestPicture(int i, int width, int height) {
    std::vector<uint8_t> p(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* q = &p[(size_t(y) * width + x) * 3];
            q[0] = uint8_t(x * 255 / std::max(1, width - 1));
            q[1] = uint8_t(y * 255 / std::max(1, height - 1));
            q[2] = uint8_t(64 + (i * 37) % 128);
            const int bar = (i * 3) % width;
            if (x >= bar && x < bar + width / 8)
                q[0] = q[1] = q[2] = 240;
            const int bit = x / std::max(1, width / 8);
            if (y < height / 6 && bit < 8)
                q[0] = q[1] = q[2] = ((i >> bit) & 1) ? 230 : 20;
        }
    return p;
}

// Writes the movie; false with the reason in why when the encoder or muxer refuses.
inline bool WriteEncodedAvi(const std::string& fileName, const TEncodedAviSpec& spec,
                            std::string* why = nullptr) {
    auto fail = [&](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.Encoder.c_str());
    if (!codec)
        return fail("no encoder " + spec.Encoder);
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "avi", fileName.c_str()) < 0 || !oc)
        return fail("no avi muxer");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVStream* st = avformat_new_stream(oc, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    SwsContext* sws = nullptr;
    bool ok = false;
    std::string error;
    do {
        c->width = spec.Width;
        c->height = spec.Height;
        c->time_base = AVRational{1, spec.Fps};
        c->framerate = AVRational{spec.Fps, 1};
        c->gop_size = spec.Gop;
        c->max_b_frames = 0;
        c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
        if (c->pix_fmt == AV_PIX_FMT_YUVJ420P)
            c->color_range = AVCOL_RANGE_JPEG;
        c->qmin = 2;
        c->qmax = 4;
        c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        if (avcodec_open2(c, codec, nullptr) < 0) {
            error = "encoder refused";
            break;
        }
        avcodec_parameters_from_context(st->codecpar, c);
        if (!spec.Tag.empty())
            st->codecpar->codec_tag = MKTAG(spec.Tag[0], spec.Tag[1], spec.Tag[2], spec.Tag[3]);
        st->time_base = c->time_base;
        AVStream* sound = AddPcmSoundStream(oc, spec);
        if (avio_open(&oc->pb, fileName.c_str(), AVIO_FLAG_WRITE) < 0) {
            error = "cannot write " + fileName;
            break;
        }
        if (avformat_write_header(oc, nullptr) < 0) {
            error = "muxer refused";
            break;
        }
        frame->format = c->pix_fmt;
        frame->width = c->width;
        frame->height = c->height;
        av_frame_get_buffer(frame, 0);
        sws = sws_getContext(c->width, c->height, AV_PIX_FMT_BGR24, c->width, c->height, c->pix_fmt,
                             SWS_BILINEAR, nullptr, nullptr, nullptr);
        auto drain = [&]() {
            while (avcodec_receive_packet(c, pkt) == 0) {
                av_packet_rescale_ts(pkt, c->time_base, st->time_base);
                pkt->stream_index = st->index;
                av_interleaved_write_frame(oc, pkt);
            }
        };
        for (int i = 0; i < spec.Frames; ++i) {
            // The muxer writes an empty chunk for every frame number that gets no packet.
            if (spec.Dropped.count(i))
                continue;
            std::vector<uint8_t> bgr = TestPicture(i, c->width, c->height);
            av_frame_make_writable(frame);
            const uint8_t* src[4] = {bgr.data(), nullptr, nullptr, nullptr};
            const int srcStride[4] = {c->width * 3, 0, 0, 0};
            sws_scale(sws, src, srcStride, 0, c->height, frame->data, frame->linesize);
            frame->pts = i;
            avcodec_send_frame(c, frame);
            drain();
            if (sound) {
                // One frame's silence, timed on the sound's own sample line.
                const int samples = 22050 / spec.Fps;
                AVPacket* a = av_packet_alloc();
                av_new_packet(a, samples * sound->codecpar->block_align);
                std::memset(a->data, 0, size_t(a->size));
                a->pts = a->dts =
                    av_rescale_q(int64_t(i) * samples, AVRational{1, 22050}, sound->time_base);
                a->duration = av_rescale_q(samples, AVRational{1, 22050}, sound->time_base);
                a->stream_index = sound->index;
                av_interleaved_write_frame(oc, a);
                av_packet_free(&a);
            }
        }
        avcodec_send_frame(c, nullptr);
        drain();
        av_write_trailer(oc);
        ok = true;
    } while (false);
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    if (oc->pb)
        avio_closep(&oc->pb);
    avformat_free_context(oc);
    return ok ? true : fail(error);
}

// Every picture of the file decoded in a plain sequential pass, by frame number, converted to
// B, G, R rows (3 * width bytes each) with a bilinear libswscale conversion.
inline std::map<int64_t, std::vector<uint8_t>> ReferenceDecode(const std::string& fileName) {
    std::map<int64_t, std::vector<uint8_t>> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, fileName.c_str(), nullptr, nullptr) < 0)
        return out;
    const int si = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec =
        si >= 0 ? avcodec_find_decoder(ic->streams[si]->codecpar->codec_id) : nullptr;
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    if (c && avcodec_parameters_to_context(c, ic->streams[si]->codecpar) >= 0 &&
        avcodec_open2(c, codec, nullptr) >= 0) {
        auto take = [&]() {
            while (avcodec_receive_frame(c, f) == 0) {
                std::vector<uint8_t> bgr(size_t(f->width) * f->height * 3);
                SwsContext* s = sws_getContext(f->width, f->height, AVPixelFormat(f->format),
                                               f->width, f->height, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                                               nullptr, nullptr, nullptr);
                uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
                const int dstStride[4] = {f->width * 3, 0, 0, 0};
                sws_scale(s, f->data, f->linesize, 0, f->height, dst, dstStride);
                sws_freeContext(s);
                out[f->best_effort_timestamp] = std::move(bgr);
            }
        };
        while (av_read_frame(ic, pkt) >= 0) {
            if (pkt->stream_index == si && pkt->size > 0)
                avcodec_send_packet(c, pkt);
            av_packet_unref(pkt);
            take();
        }
        avcodec_send_packet(c, nullptr);
        take();
    }
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    avformat_close_input(&ic);
    return out;
}

// Peak signal-to-noise ratio of two pictures of equal size, in dB; 99 when they are equal.
inline double Psnr(const uint8_t* a, const uint8_t* b, size_t bytes) {
    double sum = 0;
    for (size_t i = 0; i < bytes; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * double(bytes) / sum);
}
