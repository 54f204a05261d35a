#include "MyVideoCompressLayer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include <turbojpeg.h>

#include "MyYuvPicture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr uint32_t Tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

uint32_t UpperTag(uint32_t tag) {
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i)
        r |= uint32_t(std::toupper(int((tag >> (8 * i)) & 0xFF))) << (8 * i);
    return r;
}

// The encoders we offer, in list order. Each writes one packet per frame with no extradata,
// which is all an AVI 1.0 stream can carry.
struct TEncoderRow {
    uint32_t Handler;    // how the list names it
    uint32_t Tag;        // biCompression of its frames
    const char* Encoder; // libavcodec encoder name
    const char* Name;
    const char* Description;
    bool Quantised;    // takes a fixed quantiser instead of a bit rate
    bool SliceThreads; // may split a frame into slices coded on threads of their own
    bool TurboJpeg;    // coded by libjpeg-turbo straight from the B, G, R rows
};

const TEncoderRow EncoderRows[] = {
    {Tag("mjpg"), Tag("MJPG"), "mjpeg", "MJPEG", "Motion JPEG", true, false, true},
    {Tag("xvid"), Tag("XVID"), "mpeg4", "Xvid", "MPEG-4 part 2 (Xvid compatible)", true, true,
     false},
    {Tag("divx"), Tag("DIVX"), "mpeg4", "DivX", "MPEG-4 part 2 (DivX compatible)", true, true,
     false},
    {Tag("mp42"), Tag("MP42"), "msmpeg4v2", "MS-MPEG4 v2", "MS-MPEG4 version 2", true, false,
     false},
    {Tag("mp43"), Tag("MP43"), "msmpeg4", "MS-MPEG4 v3", "MS-MPEG4 version 3", true, false, false},
    {Tag("wmv1"), Tag("WMV1"), "wmv1", "WMV1", "Windows Media Video 7 (WMV1)", true, false, false},
    {Tag("cvid"), Tag("cvid"), "cinepak", "Cinepak", "Cinepak", false, false, false},
    {Tag("msvc"), Tag("MSVC"), "msvideo1", "Video-1", "Video-1 (15 bits per pixel)", false, false,
     false},
    {Tag("zmbv"), Tag("ZMBV"), "zmbv", "ZMBV", "Zip Motion Blocks Video (lossless)", false, false,
     false},
};

// Threads (and so slices) of an encoder that splits frames. The slices shape the bytes, so their
// number is fixed: one core or many, an export writes the same file.
constexpr int EncoderSliceThreads = 4;

// Quantiser of the quantised encoders: good quality at a moderate size.
constexpr int FixedQuantiser = 3;
// The JPEG quality whose luminance table is closest to that quantiser's: libavcodec scales the
// MPEG-1 intra matrix by 3/8 (mean step 12.1), the standard table at quality 90 has mean 11.5.
constexpr int MjpegQuality = 90;

const AVCodec* EncoderOf(const TEncoderRow& row) {
    const AVCodec* codec = avcodec_find_encoder_by_name(row.Encoder);
    // The tag must name the same codec in RIFF files, or readers would decode it as another.
    if (!codec || RiffVideoCodecOfTag(row.Tag) != int(codec->id))
        return nullptr;
    return codec;
}

// The rows that can be offered: libjpeg-turbo is linked in, and the tag must name the codec
// RIFF readers decode it with.
bool Installed(const TEncoderRow& row) {
    if (row.TurboJpeg)
        return RiffVideoCodecOfTag(row.Tag) == int(AV_CODEC_ID_MJPEG);
    return EncoderOf(row) != nullptr;
}

// The installed encoders that we offer, in list order.
std::vector<const TEncoderRow*> InstalledRows() {
    std::vector<const TEncoderRow*> rows;
    for (const TEncoderRow& row : EncoderRows)
        if (Installed(row))
            rows.push_back(&row);
    return rows;
}

// Motion JPEG through libjpeg-turbo: B, G, R rows go straight into full-range 4:2:0 JPEG with
// the library's SIMD colour conversion. Every frame is a key frame.
class TTurboJpegCompressor : public IVideoCompressor {
public:
    explicit TTurboJpegCompressor(const TEncoderRow& row) : Row(row) {}
    ~TTurboJpegCompressor() override {
        End();
        if (Handle)
            tjDestroy(Handle);
    }

    void GetInfo(TVideoCompressorInfo& info) override {
        info.Type = VideoCompressorType;
        info.Handler = Row.Handler;
        info.Name = Row.Name;
        info.Description = Row.Description;
        info.Driver = "libjpeg-turbo";
    }

    std::string GetAboutText() override {
        return std::string(Row.Description) + "\n\nEncoder: libjpeg-turbo (TurboJPEG), quality " +
               std::to_string(MjpegQuality) + ", 4:2:0, full-range YCbCr";
    }

    bool Begin(const TVideoCompressFormat& format, TVideoOutputFormat& outFormat) override {
        End();
        if (format.Width <= 0 || format.Height <= 0 || !(format.FrameRate > 0) ||
            !std::isfinite(double(format.FrameRate)) || format.Width > 65535 ||
            format.Height > 65535)
            return false;
        if (!Handle)
            Handle = tjInitCompress();
        if (!Handle)
            return false;
        // The worst case of any picture at this size, so coding never reallocates.
        const unsigned long worst = tjBufSize(format.Width, format.Height, TJSAMP_420);
        if (worst == static_cast<unsigned long>(-1) || worst > INT32_MAX)
            return false;
        Output.assign(worst, 0);
        Width = format.Width;
        Height = format.Height;
        outFormat.Width = format.Width;
        outFormat.Height = format.Height;
        outFormat.BitCount = 24;
        outFormat.Compression = Row.Tag;
        outFormat.ImageSize = uint32_t(int64_t(format.Width) * format.Height * 3);
        Begun = true;
        return true;
    }

    int32_t Compress(const uint8_t* bits, ptrdiff_t stride, bool keyFrame,
                     TCompressedFrame& out) override {
        (void)keyFrame; // every frame is one
        if (!Begun)
            return CompressNotBegun;
        int flags = TJFLAG_NOREALLOC;
        const uint8_t* first = bits;
        if (stride < 0) {
            // The library walks a bottom-up picture from its first stored row.
            first = bits + stride * (Height - 1);
            stride = -stride;
            flags |= TJFLAG_BOTTOMUP;
        }
        unsigned char* dst = Output.data();
        unsigned long size = Output.size();
        if (tjCompress2(Handle, first, Width, int(stride), Height, TJPF_BGR, &dst, &size,
                        TJSAMP_420, MjpegQuality, flags) != 0)
            return AVERROR_EXTERNAL;
        return Coded(size, out);
    }

    bool TakesPlanes() const override { return true; }

    int32_t CompressPlanes(const TYuvPicture& planes, bool keyFrame,
                           TCompressedFrame& out) override {
        (void)keyFrame;
        if (!Begun)
            return CompressNotBegun;
        if (planes.Width() != Width || planes.Height() != Height)
            return AVERROR(EINVAL);
        unsigned char* dst = Output.data();
        unsigned long size = Output.size();
        auto from = planes.Planes();
        if (tjCompressFromYUVPlanes(Handle, from.data(), Width, planes.Strides(), Height,
                                    TJSAMP_420, &dst, &size, MjpegQuality, TJFLAG_NOREALLOC) != 0)
            return AVERROR_EXTERNAL;
        return Coded(size, out);
    }

    bool End() override {
        const bool was = Begun;
        Begun = false;
        return was;
    }

    bool IndependentFrames() const override { return true; }

private:
    int32_t Coded(unsigned long size, TCompressedFrame& out) const {
        out.Data = Output.data();
        out.Size = uint32_t(size);
        out.Flags = AVIIF_KEYFRAME;
        return 0;
    }

    const TEncoderRow& Row;
    tjhandle Handle = nullptr;
    std::vector<uint8_t> Output;
    int Width = 0;
    int Height = 0;
    bool Begun = false;
};

class TLibavVideoCompressor : public IVideoCompressor {
public:
    TLibavVideoCompressor(const TEncoderRow& row, const AVCodec* codec) : Row(row), Codec(codec) {}
    ~TLibavVideoCompressor() override { End(); }

    void GetInfo(TVideoCompressorInfo& info) override {
        info.Type = VideoCompressorType;
        info.Handler = Row.Handler;
        info.Name = Row.Name;
        info.Description = Row.Description;
        info.Driver = std::string("libavcodec ") + Row.Encoder;
    }

    std::string GetAboutText() override {
        const unsigned v = avcodec_version();
        return std::string(Row.Description) + "\n\nEncoder: " + Codec->name + " (" +
               (Codec->long_name ? Codec->long_name : Codec->name) + ")\nlibavcodec " +
               std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
               std::to_string(v & 0xFF) + "\n" + avcodec_license();
    }

    bool Begin(const TVideoCompressFormat& format, TVideoOutputFormat& outFormat) override {
        End();
        Format = format;
        if (format.Width <= 0 || format.Height <= 0 || !(format.FrameRate > 0) ||
            !std::isfinite(double(format.FrameRate)))
            return false;
        if (!OpenEncoder())
            return false;
        if (!OpenScaler()) {
            End();
            return false;
        }
        Frame = av_frame_alloc();
        Packet = av_packet_alloc();
        if (!Frame || !Packet) {
            End();
            return false;
        }
        Frame->format = Ctx->pix_fmt;
        Frame->width = format.Width;
        Frame->height = format.Height;
        if (av_frame_get_buffer(Frame, 0) < 0) {
            End();
            return false;
        }
        outFormat.Width = format.Width;
        outFormat.Height = format.Height;
        outFormat.BitCount =
            uint16_t(Ctx->bits_per_coded_sample > 0 ? Ctx->bits_per_coded_sample : 24);
        outFormat.Compression = Row.Tag;
        outFormat.ImageSize =
            uint32_t((int64_t(format.Width) * format.Height * outFormat.BitCount + 7) / 8);
        NextPts = 0;
        Begun = true;
        return true;
    }

    int32_t Compress(const uint8_t* bits, ptrdiff_t stride, bool keyFrame,
                     TCompressedFrame& out) override {
        if (!Begun)
            return CompressNotBegun;
        int32_t r = EncodeOnce(bits, stride, keyFrame);
        // Some encoders place key frames only by their own count; a fresh start gives one.
        if (r == 0 && keyFrame && !(Packet->flags & AV_PKT_FLAG_KEY)) {
            avcodec_free_context(&Ctx);
            if (!OpenEncoder()) {
                End();
                return AVERROR_EXTERNAL;
            }
            r = EncodeOnce(bits, stride, keyFrame);
            if (r == 0 && !(Packet->flags & AV_PKT_FLAG_KEY))
                r = CompressNotKeyFrame;
        }
        if (r != 0)
            return r;
        out.Data = Packet->data;
        out.Size = uint32_t(Packet->size);
        out.Flags = (Packet->flags & AV_PKT_FLAG_KEY) ? AVIIF_KEYFRAME : 0;
        return 0;
    }

    bool End() override {
        const bool was = Begun;
        Begun = false;
        avcodec_free_context(&Ctx);
        sws_freeContext(Scaler);
        Scaler = nullptr;
        av_frame_free(&Frame);
        av_packet_free(&Packet);
        return was;
    }

private:
    // B, G, R to the encoder's format with exact rounding; YUV comes out in the limited range
    // with BT.601 coefficients, as decoders read it, so black, white and grey keep their levels.
    bool OpenScaler() {
        Scaler = sws_getContext(Format.Width, Format.Height, AV_PIX_FMT_BGR24, Format.Width,
                                Format.Height, ScaleFormat, SWS_BILINEAR | SWS_ACCURATE_RND,
                                nullptr, nullptr, nullptr);
        if (!Scaler)
            return false;
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(ScaleFormat);
        if (desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))) {
            const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(Scaler, bt601, 1, bt601, 0, 0, 1 << 16, 1 << 16);
        }
        return true;
    }

    bool OpenEncoder() {
        Ctx = avcodec_alloc_context3(Codec);
        if (!Ctx)
            return false;
        Ctx->width = Format.Width;
        Ctx->height = Format.Height;
        const AVRational rate = av_d2q(double(Format.FrameRate), 65535);
        if (rate.num <= 0 || rate.den <= 0)
            return false;
        Ctx->time_base = av_inv_q(rate);
        Ctx->framerate = rate;
        Ctx->codec_tag = Row.Tag;
        // One packet out for every frame in: no reordering, no look-ahead, no frame threads.
        Ctx->max_b_frames = 0;
        Ctx->gop_size = Format.KeyRate > 0 ? Format.KeyRate : 250;
        Ctx->thread_type = FF_THREAD_SLICE;
        Ctx->thread_count = Row.SliceThreads ? EncoderSliceThreads : 1;
        if (Row.Quantised) {
            Ctx->flags |= AV_CODEC_FLAG_QSCALE;
            Ctx->global_quality = FF_QP2LAMBDA * FixedQuantiser;
        }
        const AVPixelFormat* formats = Codec->pix_fmts;
        if (!formats)
            return false;
        AVPixelFormat pf = formats[0];
        // A palette would need one chosen per frame; take the closest direct format instead.
        if (av_pix_fmt_desc_get(pf)->flags & AV_PIX_FMT_FLAG_PAL) {
            std::vector<AVPixelFormat> direct;
            for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
                if (!(av_pix_fmt_desc_get(*f)->flags & AV_PIX_FMT_FLAG_PAL))
                    direct.push_back(*f);
            direct.push_back(AV_PIX_FMT_NONE);
            pf = avcodec_find_best_pix_fmt_of_list(direct.data(), AV_PIX_FMT_BGR24, 0, nullptr);
            if (pf == AV_PIX_FMT_NONE)
                return false;
        }
        Ctx->pix_fmt = pf;
        ScaleFormat = pf;
        // Codec data beyond the bitmap header has no place in the stream format.
        if (avcodec_open2(Ctx, Codec, nullptr) < 0 || Ctx->extradata_size > 0 ||
            Ctx->max_b_frames > 0) {
            avcodec_free_context(&Ctx);
            return false;
        }
        return true;
    }

    int32_t EncodeOnce(const uint8_t* bits, ptrdiff_t stride, bool keyFrame) {
        int r = av_frame_make_writable(Frame);
        if (r < 0)
            return r;
        const uint8_t* src[4] = {bits, nullptr, nullptr, nullptr};
        const int srcStride[4] = {int(stride), 0, 0, 0};
        sws_scale(Scaler, src, srcStride, 0, Format.Height, Frame->data, Frame->linesize);
        Frame->pts = NextPts++;
        Frame->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (Row.Quantised)
            Frame->quality = Ctx->global_quality;
        av_packet_unref(Packet);
        r = avcodec_send_frame(Ctx, Frame);
        if (r < 0)
            return r;
        r = avcodec_receive_packet(Ctx, Packet);
        if (r == AVERROR(EAGAIN))
            return CompressNoPacket;
        return r;
    }

    const TEncoderRow& Row;
    const AVCodec* Codec;
    TVideoCompressFormat Format;
    AVCodecContext* Ctx = nullptr;
    SwsContext* Scaler = nullptr;
    AVFrame* Frame = nullptr;
    AVPacket* Packet = nullptr;
    AVPixelFormat ScaleFormat = AV_PIX_FMT_NONE;
    int64_t NextPts = 0;
    bool Begun = false;
};

class TLibavVideoCompressorList : public IVideoCompressorList {
public:
    bool GetInfo(uint32_t type, int32_t index, TVideoCompressorInfo& info) override {
        if (type != 0 && type != VideoCompressorType)
            return false;
        const auto rows = InstalledRows();
        if (index < 0 || size_t(index) >= rows.size())
            return false;
        info = TVideoCompressorInfo{};
        info.Type = VideoCompressorType;
        info.Handler = rows[size_t(index)]->Handler;
        info.Driver = rows[size_t(index)]->TurboJpeg
                          ? std::string("libjpeg-turbo")
                          : std::string("libavcodec ") + rows[size_t(index)]->Encoder;
        return true;
    }

    std::unique_ptr<IVideoCompressor> Open(uint32_t type, uint32_t handler,
                                           TVideoCompressorMode mode) override {
        (void)mode; // opening costs nothing until Begin
        if (type != 0 && type != VideoCompressorType)
            return nullptr;
        for (const TEncoderRow& row : EncoderRows) {
            if (UpperTag(row.Handler) != UpperTag(handler) || !Installed(row))
                continue;
            if (row.TurboJpeg)
                return std::make_unique<TTurboJpegCompressor>(row);
            return std::make_unique<TLibavVideoCompressor>(row, EncoderOf(row));
        }
        return nullptr;
    }
};

} // namespace

IVideoCompressorList& LibavVideoCompressors() {
    static TLibavVideoCompressorList list;
    return list;
}

uint32_t RiffVideoTagOfCodec(int codecId) {
    const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, AVCodecID(codecId));
}

int RiffVideoCodecOfTag(uint32_t fourCC) {
    const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
    AVCodecID id = av_codec_get_id(tables, fourCC);
    if (id == AV_CODEC_ID_NONE)
        id = av_codec_get_id(tables, UpperTag(fourCC));
    return int(id);
}
