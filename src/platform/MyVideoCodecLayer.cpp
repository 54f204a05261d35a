#include "MyVideoCodecLayer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include <turbojpeg.h>

#include "MyYuvPicture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace {

void SetWhy(std::string* why, const std::string& text) {
    if (why)
        *why = text;
}

std::string FourCCText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

// Hands the codec the bytes behind the format, padded as it needs them. Plain RGB rows with a
// positive height are stored bottom row first; the raw decoder learns that from a marker
// behind those bytes, the same one libavformat gives it.
bool SetExtraData(AVCodecContext& c, const TVideoStreamFormat& format, bool bottomUp) {
    static constexpr char BottomUp[] = "BottomUp";
    const size_t given = format.Extra ? format.ExtraSize : 0;
    const size_t size = given + (bottomUp ? sizeof BottomUp : 0);
    if (size == 0)
        return true;
    c.extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!c.extradata)
        return false;
    if (given > 0)
        std::memcpy(c.extradata, format.Extra, given);
    if (bottomUp)
        std::memcpy(c.extradata + given, BottomUp, sizeof BottomUp);
    c.extradata_size = static_cast<int>(size);
    return true;
}

// Reads the Exp-Golomb numbers at the start of an H.264 slice header.
class TGolombReader {
public:
    TGolombReader(const uint8_t* data, size_t size) : Data(data), Bits(size * 8) {}
    // False when the number runs past the data.
    bool Read(uint32_t& value) {
        int zeros = 0;
        while (Pos < Bits && !Bit()) {
            if (++zeros > 31)
                return false;
        }
        if (Pos > Bits)
            return false;
        uint32_t rest = 0;
        for (int i = 0; i < zeros; ++i) {
            if (Pos >= Bits)
                return false;
            rest = rest << 1 | Bit();
        }
        value = (uint32_t(1) << zeros) - 1 + rest;
        return true;
    }

private:
    uint32_t Bit() {
        const uint32_t b = (Data[Pos / 8] >> (7 - Pos % 8)) & 1;
        ++Pos;
        return b;
    }
    const uint8_t* Data;
    size_t Bits;
    size_t Pos = 0;
};

// The slice type of the first coded slice of an H.264 access unit, as start-code separated NAL
// units or as units behind 4-byte lengths: the low bits of slice_type, 1 for a B slice; -1 when
// there is none.
int H264SliceType(const uint8_t* data, size_t size) {
    const bool startCodes = size >= 3 && data[0] == 0 && data[1] == 0 &&
                            (data[2] == 1 || (size >= 4 && data[2] == 0 && data[3] == 1));
    size_t at = 0;
    while (at < size) {
        size_t unit = 0, end = size;
        if (startCodes) {
            const uint8_t* p = static_cast<const uint8_t*>(std::memchr(data + at, 1, size - at));
            if (!p)
                return -1;
            const size_t one = size_t(p - data);
            at = one + 1;
            if (one < 2 || data[one - 1] != 0 || data[one - 2] != 0)
                continue;
            unit = at;
        } else {
            if (size - at < 4)
                return -1;
            const size_t length = size_t(data[at]) << 24 | size_t(data[at + 1]) << 16 |
                                  size_t(data[at + 2]) << 8 | data[at + 3];
            unit = at + 4;
            if (length > size - unit)
                return -1;
            end = unit + length;
            at = end;
        }
        if (unit >= end)
            continue;
        const int type = data[unit] & 0x1F;
        if (type != 1 && type != 5)
            continue;
        // first_mb_in_slice, then slice_type; a few bytes hold both.
        TGolombReader bits(data + unit + 1, std::min<size_t>(end - unit - 1, 8));
        uint32_t firstMb = 0, sliceType = 0;
        if (!bits.Read(firstMb) || !bits.Read(sliceType))
            return -1;
        return int(sliceType % 5);
    }
    return -1;
}

// The next MPEG-4 part 2 VOP start code at or after from; end when there is none.
const uint8_t* FindVop(const uint8_t* from, const uint8_t* end) {
    static constexpr uint8_t Vop[] = {0, 0, 1, 0xB6};
    return std::search(from, end, std::begin(Vop), std::end(Vop));
}

// Where the second VOP of an MPEG-4 part 2 frame starts (the DivX "packed" form stores a B-frame
// behind the frame before it); 0 when there is none.
size_t SecondVop(const uint8_t* data, size_t size) {
    const uint8_t* end = data + size;
    const uint8_t* first = FindVop(data, end);
    if (end - first < 4)
        return 0;
    const uint8_t* second = FindVop(first + 4, end);
    return second == end ? 0 : size_t(second - data);
}

// True when the frame is a B-frame, read from its headers without decoding it: the VOP type of
// MPEG-4 part 2, the slice type of H.264. Other codecs have none that matter here.
bool IsBFrame(int codecId, const uint8_t* data, size_t size) {
    if (codecId == AV_CODEC_ID_H264)
        return H264SliceType(data, size) == 1;
    if (codecId != AV_CODEC_ID_MPEG4)
        return false;
    const uint8_t* end = data + size;
    const uint8_t* p = FindVop(data, end);
    return end - p > 4 && (p[4] >> 6) == 2;
}

} // namespace

int VideoCodecIdOfFourCC(uint32_t fourcc) {
    // libavformat's lookup tries the exact tag first, then the tag in upper case.
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tables, fourcc);
}

int VideoCodecIdOfStream(uint32_t compression, uint32_t handler) {
    const int id = VideoCodecIdOfFourCC(compression);
    return id != AV_CODEC_ID_NONE ? id : VideoCodecIdOfFourCC(handler);
}

bool IntraOnlyCodec(int codecId) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(AVCodecID(codecId));
    return desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
}

bool IntraOnlyFourCC(uint32_t fourcc) {
    return IntraOnlyCodec(VideoCodecIdOfFourCC(fourcc));
}

// ---- TVideoCodec --------------------------------------------------------------------------------

TVideoCodec::~TVideoCodec() {
    avcodec_free_context(&Ctx);
}

std::string TVideoCodec::CodecName() const {
    return Ctx && Ctx->codec ? Ctx->codec->name : "";
}

// ---- TVideoDecompressor -------------------------------------------------------------------------

TVideoDecompressor::~TVideoDecompressor() {
    av_frame_free(&Current);
    av_frame_free(&Next);
    av_packet_free(&Packet);
    if (Jpeg)
        tjDestroy(Jpeg);
    // Buffers still held by decoder threads go back to the freed pool and are released there.
    av_buffer_pool_uninit(&Pool);
}

std::unique_ptr<TVideoDecompressor> TVideoDecompressor::Open(const TVideoStreamFormat& format,
                                                             std::string* why) {
    const int id = VideoCodecIdOfStream(format.Format.Compression, format.Handler);
    const AVCodec* codec =
        id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(static_cast<AVCodecID>(id));
    if (!codec) {
        SetWhy(why, "No decompressor for \"" + FourCCText(format.Handler) + "\" / \"" +
                        FourCCText(format.Format.Compression) + "\"");
        return nullptr;
    }
    if (format.Format.Width <= 0 || format.Format.Height == 0 || format.Format.Height == INT_MIN ||
        format.ExtraSize > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) {
        SetWhy(why, "Video format with an impossible size");
        return nullptr;
    }

    std::unique_ptr<TVideoDecompressor> d(new TVideoDecompressor);
    d->Ctx = avcodec_alloc_context3(codec);
    if (!d->Ctx) {
        SetWhy(why, "Out of memory");
        return nullptr;
    }
    AVCodecContext* c = d->Ctx;
    c->codec_tag = format.Format.Compression;
    c->width = format.Format.Width;
    c->height = format.Format.Height < 0 ? -format.Format.Height : format.Format.Height;
    c->coded_width = c->width;
    c->coded_height = c->height;
    c->bits_per_coded_sample = format.Format.BitCount;
    const bool bottomUp =
        id == AV_CODEC_ID_RAWVIDEO && format.Format.Compression == 0 && format.Format.Height > 0;
    if (!SetExtraData(*c, format, bottomUp)) {
        SetWhy(why, "Out of memory");
        return nullptr;
    }
    if (format.Extra && format.ExtraSize > 0) {
        // Palettised codecs find their colour table at the end of the bytes behind the header,
        // as libavformat reads it too.
        if (format.Format.BitCount > 0 && format.Format.BitCount <= 8) {
            const size_t size =
                std::min<size_t>((size_t(1) << format.Format.BitCount) * 4, format.ExtraSize);
            const uint8_t* src = format.Extra + format.ExtraSize - size;
            for (size_t i = 0; i + 4 <= size; i += 4) {
                // Blue, green, red as stored; the table the decoder takes wants alpha opaque.
                std::memcpy(d->Palette + i, src + i, 3);
                d->Palette[i + 3] = 0xFF;
            }
            d->HasPalette = true;
        }
    }
    if (!d->Finish(why))
        return nullptr;
    return d;
}

std::unique_ptr<TVideoDecompressor> TVideoDecompressor::Open(const AVCodecParameters& params,
                                                             std::string* why) {
    const AVCodec* codec = avcodec_find_decoder(params.codec_id);
    if (!codec) {
        SetWhy(why, "No decompressor for \"" + FourCCText(params.codec_tag) + "\"");
        return nullptr;
    }
    std::unique_ptr<TVideoDecompressor> d(new TVideoDecompressor);
    d->Ctx = avcodec_alloc_context3(codec);
    if (!d->Ctx || avcodec_parameters_to_context(d->Ctx, &params) < 0) {
        SetWhy(why, "Out of memory");
        return nullptr;
    }
    if (!d->Finish(why))
        return nullptr;
    return d;
}

bool TVideoDecompressor::Finish(std::string* why) {
    Current = av_frame_alloc();
    Next = av_frame_alloc();
    Packet = av_packet_alloc();
    if (!Current || !Next || !Packet) {
        SetWhy(why, "Out of memory");
        return false;
    }
    if (Ctx->codec_id == AV_CODEC_ID_MJPEG) {
        // libjpeg-turbo converts to B, G, R with its own SIMD code, takes the standard Huffman
        // tables for frames that leave them out (as many cameras do), and keeps JPEG's full
        // range; libavcodec stays as the fallback when it cannot start.
        Jpeg = tjInitDecompress();
        if (Jpeg) {
            FIntraOnly = true;
            return true;
        }
    }
    // Frame sizes come from the file; nothing larger than 8K UHD is decoded, so a damaged header
    // cannot ask for gigabytes of picture buffers.
    Ctx->max_pixels = MaxPixels;
    // Slice threads only: frame threads hold back several frames, which every jump to a key
    // frame has to fill again (random access took four times as long with them at 640 x 480),
    // and in a row they gained nothing, the picture conversion being the larger cost.
    Ctx->thread_count = 0;
    Ctx->thread_type = FF_THREAD_SLICE;
    // A failed open forgets the codec, so its name is taken first.
    const AVCodec* codec = Ctx->codec;
    if (avcodec_open2(Ctx, codec, nullptr) < 0) {
        SetWhy(why, std::string("The ") + codec->name + " decoder refused the format");
        return false;
    }
    const AVCodecDescriptor* desc = avcodec_descriptor_get(Ctx->codec_id);
    FIntraOnly = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    return true;
}

void TVideoDecompressor::Reset() {
    if (Jpeg) {
        // The buffers are kept for the frames to come.
        JpegNo = -1;
        JpegDecoded = false;
        JpegPlanesDecoded = false;
    } else {
        avcodec_flush_buffers(Ctx);
        av_frame_unref(Current);
        av_frame_unref(Next);
    }
    FPictureNo = -1;
    FDrained = false;
    PaletteSent = false;
    Sent.clear();
    SentHead = 0;
    KeyNo = -1;
    LeadingEnd = -1;
    Leading = 0;
    CountingLeading = false;
    KeyShown = false;
    PendingNo = -1;
}

void TVideoDecompressor::NoteSent(const uint8_t* data, size_t size, int64_t frameNo) {
    if (KeyNo < 0) {
        KeyNo = frameNo;
        CountingLeading = Ctx->codec_id == AV_CODEC_ID_MPEG4 || Ctx->codec_id == AV_CODEC_ID_H264;
    } else if (CountingLeading) {
        CountingLeading = IsBFrame(Ctx->codec_id, data, size);
        if (CountingLeading) {
            ++Leading;
            LeadingEnd = frameNo;
        }
    }
    if (SentHead > 0 && SentHead * 2 >= Sent.size()) {
        Sent.erase(Sent.begin(), Sent.begin() + std::ptrdiff_t(SentHead));
        SentHead = 0;
    }
    Sent.push_back(frameNo);
}

int64_t TVideoDecompressor::ShownFrameOf(int64_t tag) {
    if (!KeyShown) {
        // Leading B-frames before the key frame's picture come out (H.264) or not (MPEG-4
        // part 2) but lack the pictures they refer to; the frames they show are not numbered
        // here.
        if (tag > KeyNo && tag <= LeadingEnd)
            return -1;
        KeyShown = true;
        SentHead = std::min(SentHead + size_t(Leading), Sent.size());
    }
    if (Ctx->has_b_frames == 0) {
        // Pictures come out as their frames went in: each keeps its own number, which stays
        // right when the decoder loses a picture.
        while (SentHead < Sent.size() && Sent[SentHead] <= tag)
            ++SentHead;
        return tag;
    }
    if (SentHead == Sent.size())
        return tag;
    return Sent[SentHead++];
}

bool TVideoDecompressor::SendPacket(AVPacket& packet, int64_t frameNo) {
    packet.pts = frameNo;
    packet.dts = frameNo;
    if (HasPalette && !PaletteSent) {
        uint8_t* side = av_packet_new_side_data(&packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (side) {
            std::memcpy(side, Palette, AVPALETTE_SIZE);
            PaletteSent = true;
        }
    }
    const int r = avcodec_send_packet(Ctx, &packet);
    // A refused frame gives no picture and takes no number.
    if (r >= 0)
        NoteSent(packet.data, size_t(packet.size), frameNo);
    av_packet_unref(&packet);
    return r >= 0;
}

bool TVideoDecompressor::Send(const uint8_t* data, size_t size, int64_t frameNo) {
    if (size == 0)
        return true;
    if (FDrained || !data || size > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return false;
    if (Jpeg)
        return SendJpeg(data, size, frameNo);
    if (Ctx->codec_id == AV_CODEC_ID_MPEG4)
        return SendUnpacked(data, size, frameNo, SecondVop(data, size));
    return SendBytes(data, size, frameNo);
}

bool TVideoDecompressor::SendBytes(const uint8_t* data, size_t size, int64_t frameNo) {
    const size_t need = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!Pool || PoolSize < need) {
        // The pool only grows, to the largest frame seen, so a stream settles on one size.
        av_buffer_pool_uninit(&Pool);
        PoolSize = std::max(need, PoolSize * 2);
        Pool = av_buffer_pool_init(PoolSize, av_buffer_alloc);
        if (!Pool) {
            PoolSize = 0;
            return false;
        }
    }
    AVBufferRef* buf = av_buffer_pool_get(Pool);
    if (!buf)
        return false;
    std::memcpy(buf->data, data, size);
    // Decoders may read a little past the end; what they find there must be zeros.
    std::memset(buf->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(Packet);
    Packet->buf = buf;
    Packet->data = buf->data;
    Packet->size = static_cast<int>(size);
    return SendPacket(*Packet, frameNo);
}

bool TVideoDecompressor::Send(AVPacket& packet, int64_t frameNo) {
    if (packet.size <= 0) {
        av_packet_unref(&packet);
        return true;
    }
    if (FDrained) {
        av_packet_unref(&packet);
        return false;
    }
    if (Jpeg) {
        const bool ok = SendJpeg(packet.data, size_t(packet.size), frameNo);
        av_packet_unref(&packet);
        return ok;
    }
    if (Ctx->codec_id == AV_CODEC_ID_MPEG4) {
        const size_t second = SecondVop(packet.data, size_t(packet.size));
        if (PendingNo >= 0 || second > 0) {
            const bool ok = SendUnpacked(packet.data, size_t(packet.size), frameNo, second);
            av_packet_unref(&packet);
            return ok;
        }
    }
    return SendPacket(packet, frameNo);
}

bool TVideoDecompressor::LeavesPackedFrame(int64_t last, const TFrameSource& source) const {
    if (!Ctx || Ctx->codec_id != AV_CODEC_ID_MPEG4)
        return false;
    // The B-frames of a run after a packed frame each hand the wait on to the next; runs are
    // short, and a longer walk back would read far for nothing.
    constexpr int MaxRun = 16;
    std::vector<uint8_t>& bytes = StoredBytes;
    for (int64_t n = last; n >= 0 && n > last - MaxRun; --n) {
        if (!source.Read(n, bytes))
            return false;
        if (SecondVop(bytes.data(), bytes.size()) > 0)
            return true;
        if (!IsBFrame(AV_CODEC_ID_MPEG4, bytes.data(), bytes.size()))
            return false;
    }
    return false;
}

bool TVideoDecompressor::SendUnpacked(const uint8_t* data, size_t size, int64_t frameNo,
                                      size_t second) {
    if (PendingNo >= 0) {
        const int64_t slot = PendingNo + 1;
        const bool bFrame = IsBFrame(AV_CODEC_ID_MPEG4, data, size);
        if (frameNo > slot) {
            // The placeholder was stored empty (and left out): the B-frame takes its number.
            SendPending(slot);
        } else if (size <= MaxNotCodedSize && !bFrame) {
            return SendPending(frameNo); // the placeholder
        } else if (second == 0 && bFrame) {
            // Further B-frames of the run come one chunk early; each waits for the next.
            const bool ok = SendPending(frameNo);
            PendingVop.assign(data, data + size);
            PendingNo = frameNo;
            return ok;
        } else {
            PendingNo = -1; // its placeholder is missing: the B-frame is lost
        }
    }
    if (second == 0)
        return SendBytes(data, size, frameNo);
    PendingVop.assign(data + second, data + size);
    PendingNo = frameNo;
    return SendBytes(data, second, frameNo);
}

bool TVideoDecompressor::SendPending(int64_t frameNo) {
    PendingNo = -1;
    return SendBytes(PendingVop.data(), PendingVop.size(), frameNo);
}

bool TVideoDecompressor::SendJpeg(const uint8_t* data, size_t size, int64_t frameNo) {
    // A picture sent and not received is dropped for the newer one, as a decoder would queue it.
    JpegNo = -1;
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(Jpeg, data, static_cast<unsigned long>(size), &width, &height, &subsamp,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0 || int64_t(width) * height > MaxPixels)
        return false;
    JpegSent.Bytes.assign(data, data + size);
    JpegSent.Width = width;
    JpegSent.Height = height;
    JpegSent.Subsampling = subsamp;
    JpegSent.Colorspace = colorspace;
    JpegNo = frameNo;
    return true;
}

TVideoDecompressor::TStep TVideoDecompressor::ReceiveJpeg() {
    if (JpegNo < 0)
        return FDrained ? TStep::Finished : TStep::NeedData;
    std::swap(JpegCurrent, JpegSent);
    FPictureNo = JpegNo;
    JpegNo = -1;
    JpegDecoded = false;
    JpegFailed = false;
    JpegPlanesDecoded = false;
    JpegRepeats = JpegDraws > 1;
    JpegDraws = 0;
    return TStep::Picture;
}

bool TVideoDecompressor::DecodeJpeg(uint8_t* rows, int pitch) const {
    // A warning (damaged data) still leaves a whole picture, as libavcodec shows it.
    const TJpegFrame& f = JpegCurrent;
    return tjDecompress2(Jpeg, f.Bytes.data(), static_cast<unsigned long>(f.Bytes.size()), rows,
                         f.Width, pitch, f.Height, TJPF_BGR, JpegRowsDecodeFlags()) == 0 ||
           tjGetErrorCode(Jpeg) == TJERR_WARNING;
}

bool TVideoDecompressor::DecodeJpegPlanes(TYuvPicture& planes) const {
    const TJpegFrame& f = JpegCurrent;
    auto to = planes.Planes();
    return tjDecompressToYUVPlanes(Jpeg, f.Bytes.data(), static_cast<unsigned long>(f.Bytes.size()),
                                   to.data(), f.Width, planes.Strides(), f.Height, 0) == 0 ||
           tjGetErrorCode(Jpeg) == TJERR_WARNING;
}

bool TVideoDecompressor::DrawJpegPlanes(TBitmap& target) {
    TYuvPicture& planes = target.PlanesToFill();
    bool ok;
    if (JpegRepeats || JpegDraws > 1) {
        // A picture shown several times is decoded once and its planes copied.
        if (!JpegPlanesDecoded)
            JpegPlanesDecoded = JpegPlanes.SetSize(JpegCurrent.Width, JpegCurrent.Height) &&
                                DecodeJpegPlanes(JpegPlanes);
        ok = JpegPlanesDecoded;
        if (ok)
            planes.Assign(JpegPlanes);
    } else {
        ok = DecodeJpegPlanes(planes);
    }
    if (ok) {
        target.HoldPlanes();
        return true;
    }
    // A picture that cannot be decoded is left as a decode to rows leaves it.
    return DecodeJpeg(target.Bits(), target.RowBytes());
}

bool TVideoDecompressor::DecodeJpegPicture() const {
    if (JpegDecoded || JpegFailed)
        return JpegDecoded;
    const TJpegFrame& f = JpegCurrent;
    if (Current->width != f.Width || Current->height != f.Height || !Current->data[0]) {
        av_frame_unref(Current);
        Current->format = AV_PIX_FMT_BGR24;
        Current->width = f.Width;
        Current->height = f.Height;
        if (av_frame_get_buffer(Current, 0) < 0) {
            av_frame_unref(Current);
            return false;
        }
    }
    JpegDecoded = DecodeJpeg(Current->data[0], Current->linesize[0]);
    JpegFailed = !JpegDecoded;
    return JpegDecoded;
}

bool TVideoDecompressor::DrawPicture(TDibDraw& draw, TBitmap& target) {
    if (FPictureNo < 0 || target.Empty())
        return false;
    if (Jpeg) {
        ++JpegDraws;
        const TJpegFrame& f = JpegCurrent;
        const bool sameSize = target.Width() == f.Width && target.Height() == f.Height;
        // Whether a picture is kept as planes depends on the target and the picture only, never
        // on what was decoded before, so a frame comes out the same whichever reader decodes it.
        if (sameSize && target.PlanesAllowed() && f.Subsampling == TJSAMP_420 &&
            f.Colorspace == TJCS_YCbCr)
            return DrawJpegPlanes(target);
        // Straight into the target's rows saves copying the whole picture, unless it will be
        // drawn again.
        const bool straight = !JpegDecoded && !JpegRepeats && JpegDraws == 1 && sameSize;
        if (straight)
            return DecodeJpeg(target.Bits(), target.RowBytes());
        if (!DecodeJpegPicture())
            return false;
    }
    return draw.DrawPicture(*Current, target);
}

void TVideoDecompressor::Drain() {
    if (FDrained)
        return;
    // A packed B-frame whose placeholder ends the movie empty.
    if (PendingNo >= 0)
        SendPending(PendingNo + 1);
    if (!Jpeg)
        avcodec_send_packet(Ctx, nullptr);
    FDrained = true;
}

TVideoDecompressor::TStep TVideoDecompressor::Receive() {
    if (Jpeg)
        return ReceiveJpeg();
    for (;;) {
        const int r = avcodec_receive_frame(Ctx, Next);
        if (r == AVERROR(EAGAIN))
            return TStep::NeedData;
        if (r == AVERROR_EOF)
            return TStep::Finished;
        if (r < 0) {
            LosePicture();
            return TStep::Failed;
        }
        int64_t tag = Next->pts;
        if (tag == AV_NOPTS_VALUE)
            tag = Next->best_effort_timestamp;
        if (tag == AV_NOPTS_VALUE || tag < 0) {
            // A picture that cannot be placed is as good as lost.
            av_frame_unref(Next);
            LosePicture();
            return TStep::Failed;
        }
        const int64_t no = ShownFrameOf(tag);
        if (no < 0) {
            // Drawn without the pictures it refers to: passed over.
            av_frame_unref(Next);
            continue;
        }
        av_frame_unref(Current);
        std::swap(Current, Next);
        FPictureNo = no;
        return TStep::Picture;
    }
}

void TVideoDecompressor::LosePicture() {
    // Which frame the lost picture was to show is unknown when the decoder reorders; the next
    // one in showing order is the likeliest.
    if (Ctx->has_b_frames > 0 && SentHead < Sent.size())
        ++SentHead;
}

const AVFrame* TVideoDecompressor::Picture() const {
    if (FPictureNo < 0 || (Jpeg && !DecodeJpegPicture()))
        return nullptr;
    return Current;
}

bool TVideoDecompressor::SeekPicture(int64_t index, int64_t stored, const TFrameSource& source) {
    int64_t wanted = stored;
    if (wanted < index && LeavesPackedFrame(wanted, source))
        ++wanted;
    const int64_t at = FPictureNo;
    if (at == wanted)
        return true;
    int64_t key = IntraOnly() ? wanted : source.KeyAtOrBefore(wanted);
    // Going on from the current picture costs no more than starting again at the key frame, as
    // long as it lies no earlier than the frame before that key.
    const bool goOn = at >= 0 && at < wanted && at >= key - 1 && !FDrained;
    if (!goOn && !source.StartAt(key))
        return false;
    bool ok = DecodeUntil(wanted, source.Feed);
    // The B-frames stored right behind a key frame show frames before it, which decode only
    // from the key frame before.
    if (!ok && !goOn && key > 0 && FPictureNo > wanted) {
        key = source.KeyAtOrBefore(key - 1);
        ok = source.StartAt(key) && DecodeUntil(wanted, source.Feed);
    }
    if (!ok)
        Reset();
    return ok;
}

bool TVideoDecompressor::DecodeUntil(int64_t wanted, const std::function<bool()>& feed) {
    for (;;) {
        if (FPictureNo == wanted)
            return true;
        if (FPictureNo > wanted)
            return false;
        switch (Receive()) {
        case TStep::Picture:
            break;
        case TStep::NeedData:
        case TStep::Failed:
            // Each round takes one more frame of input, so this ends with the data.
            if (!feed())
                return false;
            break;
        case TStep::Finished:
            return false;
        }
    }
}
