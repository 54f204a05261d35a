#include "BFrameAvi.h"

#include <algorithm>

#include "EncodedAvi.h"
#include "MyDibDraw.h"
#include "MyGraphics.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
}

namespace {

bool Fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

// Opens the muxer of fileName with one video stream copied from params.
AVFormatContext* OpenMuxer(const std::string& fileName, const AVCodecParameters& params,
                           AVRational timeBase, AVStream** stream) {
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, "avi", fileName.c_str()) < 0 || !oc)
        return nullptr;
    AVStream* st = avformat_new_stream(oc, nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, &params) < 0 ||
        avio_open(&oc->pb, fileName.c_str(), AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(oc);
        return nullptr;
    }
    st->time_base = timeBase;
    if (avformat_write_header(oc, nullptr) < 0) {
        avio_closep(&oc->pb);
        avformat_free_context(oc);
        return nullptr;
    }
    *stream = st;
    return oc;
}

void CloseMuxer(AVFormatContext* oc) {
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
}

bool OpenEncoder(AVCodecContext* c, const AVCodec* codec, const TBFrameAviSpec& spec) {
    c->width = spec.Width;
    c->height = spec.Height;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->gop_size = spec.Gop;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    if (spec.BFrames >= 0)
        c->max_b_frames = spec.BFrames;
    if (spec.Encoder == "libx264") {
        av_opt_set(c->priv_data, "preset", "fast", 0);
        av_opt_set(c->priv_data, "crf", "16", 0);
        if (spec.X264OpenGop)
            av_opt_set(c->priv_data, "x264-params", "open-gop=1:scenecut=0", 0);
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = 2 * FF_QP2LAMBDA;
        // The encoder closes its groups only without key frames at scene changes.
        if (spec.ClosedGop) {
            c->flags |= AV_CODEC_FLAG_CLOSED_GOP;
            av_opt_set_int(c, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
        }
    }
    return avcodec_open2(c, codec, nullptr) >= 0;
}

bool IsBVop(const AVPacket& p) {
    for (int i = 0; i + 4 < p.size; ++i)
        if (p.data[i] == 0 && p.data[i + 1] == 0 && p.data[i + 2] == 1 && p.data[i + 3] == 0xB6)
            return (p.data[i + 4] >> 6) == 2;
    return false;
}

} // namespace

bool WriteBFrameAvi(const std::string& fileName, const TBFrameAviSpec& spec, std::string* why) {
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.Encoder.c_str());
    if (!codec)
        return Fail(why, "no encoder " + spec.Encoder);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    AVFormatContext* oc = nullptr;
    AVStream* st = nullptr;
    SwsContext* sws = nullptr;
    bool ok = false;
    if (OpenEncoder(c, codec, spec)) {
        AVCodecParameters* params = avcodec_parameters_alloc();
        avcodec_parameters_from_context(params, c);
        oc = OpenMuxer(fileName, *params, c->time_base, &st);
        avcodec_parameters_free(&params);
    }
    if (oc) {
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
            const std::vector<uint8_t> bgr = TestPicture(i, c->width, c->height);
            av_frame_make_writable(frame);
            const uint8_t* src[4] = {bgr.data(), nullptr, nullptr, nullptr};
            const int srcStride[4] = {c->width * 3, 0, 0, 0};
            sws_scale(sws, src, srcStride, 0, c->height, frame->data, frame->linesize);
            frame->pts = i;
            avcodec_send_frame(c, frame);
            drain();
        }
        avcodec_send_frame(c, nullptr);
        drain();
        CloseMuxer(oc);
        ok = true;
    }
    sws_freeContext(sws);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return ok ? true : Fail(why, "encoder or muxer refused");
}

bool PackBFrames(const std::string& from, const std::string& to, bool emptyPlaceholders) {
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, from.c_str(), nullptr, nullptr) < 0)
        return false;
    avformat_find_stream_info(ic, nullptr);
    std::vector<AVPacket*> packets;
    AVPacket* p = av_packet_alloc();
    while (av_read_frame(ic, p) >= 0) {
        if (p->stream_index == 0 && p->size > 0)
            packets.push_back(av_packet_clone(p));
        av_packet_unref(p);
    }
    av_packet_free(&p);
    AVStream* st = nullptr;
    AVFormatContext* oc = OpenMuxer(to, *ic->streams[0]->codecpar, AVRational{1, 25}, &st);
    int packed = 0;
    // A placeholder: a not-coded P-VOP, as DivX stores it.
    static const uint8_t NotCoded[] = {0, 0, 1, 0xB6, 0x50, 0x00, 0x00, 0x0F};
    auto write = [&](const uint8_t* data, size_t size, bool key, int64_t no) {
        AVPacket* out = av_packet_alloc();
        av_new_packet(out, int(size));
        if (size)
            std::copy(data, data + size, out->data);
        out->flags = key ? AV_PKT_FLAG_KEY : 0;
        out->pts = out->dts = no;
        out->stream_index = st->index;
        av_write_frame(oc, out);
        av_packet_free(&out);
    };
    for (size_t i = 0; oc && i < packets.size();) {
        const AVPacket& r = *packets[i];
        const bool key = r.flags & AV_PKT_FLAG_KEY;
        if (IsBVop(r) || i + 1 >= packets.size() || !IsBVop(*packets[i + 1])) {
            write(r.data, size_t(r.size), key, int64_t(i));
            ++i;
            continue;
        }
        // The reference frame with the first B-frame behind it, the other B-frames one chunk
        // earlier each, then the placeholder.
        std::vector<uint8_t> both(r.data, r.data + r.size);
        both.insert(both.end(), packets[i + 1]->data, packets[i + 1]->data + packets[i + 1]->size);
        write(both.data(), both.size(), key, int64_t(i));
        size_t j = i + 2;
        for (; j < packets.size() && IsBVop(*packets[j]); ++j)
            write(packets[j]->data, size_t(packets[j]->size), false, int64_t(j - 1));
        if (emptyPlaceholders)
            write(nullptr, 0, false, int64_t(j - 1));
        else
            write(NotCoded, sizeof NotCoded, false, int64_t(j - 1));
        ++packed;
        i = j;
    }
    if (oc)
        CloseMuxer(oc);
    for (AVPacket*& q : packets)
        av_packet_free(&q);
    avformat_close_input(&ic);
    return oc && packed > 0;
}

std::vector<std::vector<uint8_t>> LibraryPictures(const std::string& fileName, bool unpack) {
    std::vector<std::vector<uint8_t>> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, fileName.c_str(), nullptr, nullptr) < 0)
        return out;
    const AVCodecParameters* params = ic->streams[0]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVBSFContext* bsf = nullptr;
    if (unpack && av_bsf_alloc(av_bsf_get_by_name("mpeg4_unpack_bframes"), &bsf) >= 0) {
        avcodec_parameters_copy(bsf->par_in, params);
        av_bsf_init(bsf);
    }
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    TDibDraw draw;
    TBitmap b(params->width, params->height);
    auto take = [&]() {
        while (avcodec_receive_frame(c, f) == 0) {
            draw.DrawPicture(*f, b);
            std::vector<uint8_t> pixels;
            for (int32_t y = 0; y < b.Height(); ++y)
                pixels.insert(pixels.end(), b.ScanLine(y), b.ScanLine(y) + size_t(b.Width()) * 3);
            out.push_back(std::move(pixels));
        }
    };
    auto decode = [&](AVPacket* p) {
        if (!bsf) {
            avcodec_send_packet(c, p);
            take();
            return;
        }
        av_bsf_send_packet(bsf, p);
        AVPacket* q = av_packet_alloc();
        while (av_bsf_receive_packet(bsf, q) == 0) {
            avcodec_send_packet(c, q);
            av_packet_unref(q);
            take();
        }
        av_packet_free(&q);
    };
    if (avcodec_parameters_to_context(c, params) >= 0 && avcodec_open2(c, codec, nullptr) >= 0) {
        while (av_read_frame(ic, pkt) >= 0) {
            if (pkt->stream_index == 0 && pkt->size > 0)
                decode(pkt);
            av_packet_unref(pkt);
        }
        decode(nullptr);
        avcodec_send_packet(c, nullptr);
        take();
    }
    av_bsf_free(&bsf);
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    avformat_close_input(&ic);
    return out;
}

std::vector<TStoredFrame> StoredFrames(const std::string& fileName) {
    std::vector<TStoredFrame> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, fileName.c_str(), nullptr, nullptr) < 0)
        return out;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == 0 && pkt->size > 0)
            out.push_back({std::vector<uint8_t>(pkt->data, pkt->data + pkt->size),
                           (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return out;
}
