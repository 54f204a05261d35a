// Key frames of an AVI 2.0 segment that brought no standard index (a recording cut off before
// its writer put the index at the segment's end): told by the stream itself, so that a seek into
// the segment starts at a key frame of its own instead of one segments earlier.
#include <algorithm>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "MyAVIReader.h"
#include "MyBase.h"

namespace {

// A frame's type stands in its first bytes (behind the sequence headers a key frame may
// carry); the rest of a large chunk is not read.
constexpr uint32_t MaxKeyProbeBytes = 4096;

// libavcodec's parser of the stream's codec, asked for one whole chunk at a time.
class TKeyFrameParser {
public:
    TKeyFrameParser(int codecId, const std::vector<uint8_t>& extra) {
        const AVCodec* codec = avcodec_find_decoder(AVCodecID(codecId));
        Parser = av_parser_init(codecId);
        Ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!Parser || !Ctx)
            return;
        Parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        // Sequence headers kept in the stream format (as some writers do) describe the frames.
        if (!extra.empty()) {
            Ctx->extradata =
                static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (Ctx->extradata) {
                std::copy(extra.begin(), extra.end(), Ctx->extradata);
                Ctx->extradata_size = int(extra.size());
            }
        }
    }
    ~TKeyFrameParser() {
        if (Parser)
            av_parser_close(Parser);
        avcodec_free_context(&Ctx);
    }
    TKeyFrameParser(const TKeyFrameParser&) = delete;
    TKeyFrameParser& operator=(const TKeyFrameParser&) = delete;

    bool Usable() const { return Parser && Ctx; }

    // True when the parser finds a frame that decoding can start from. data holds size bytes
    // and the zeroed padding the parser may read past them.
    bool IsKeyFrame(const uint8_t* data, size_t size) {
        uint8_t* out = nullptr;
        int outSize = 0;
        av_parser_parse2(Parser, Ctx, &out, &outSize, data, int(size), AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        // Parsers that know random access points say so (H.264: IDR or recovery point); the
        // others give the picture type only, and an intra picture stands alone.
        if (Parser->key_frame >= 0)
            return Parser->key_frame == 1;
        return Parser->pict_type == AV_PICTURE_TYPE_I;
    }

private:
    AVCodecParserContext* Parser = nullptr;
    AVCodecContext* Ctx = nullptr;
};

} // namespace

void TAviReader::FindKeyFrames(size_t firstChunk) {
    if (firstChunk >= VideoChunks.size())
        return;
    const int codecId =
        VideoCodecIdOfStream(VideoFormat.biCompression, VideoStreamHeader.fccHandler);
    if (IntraOnlyCodec(codecId)) {
        // Raw frames, Motion JPEG and the like: every stored frame stands alone.
        for (size_t k = firstChunk; k < VideoChunks.size(); ++k)
            if (VideoChunks[k].Size != 0)
                VideoChunks[k].Flags |= AVIIF_KEYFRAME;
        return;
    }
    TKeyFrameParser parser(codecId, VideoFormatTail);
    if (!parser.Usable())
        return;
    // A frame the parser cannot read stays a non-key frame: a seek then starts further back,
    // which costs time but shows the right picture.
    std::vector<uint8_t> head(MaxKeyProbeBytes + AV_INPUT_BUFFER_PADDING_SIZE);
    auto probe = [&](const TPictInfo& p) {
        const size_t n = std::min(p.Size, MaxKeyProbeBytes);
        std::fill(head.begin() + long(n), head.end(), 0);
        return Source->ReadExact(ChunkDataPos(p.Offset), head.data(), n) &&
               parser.IsKeyFrame(head.data(), n);
    };
    // The movie's first frame usually carries the sequence headers the later ones rely on.
    const int32_t first = FirstStoredFrame();
    if (first >= 0 && size_t(first) < firstChunk)
        probe(VideoChunks[size_t(first)]);
    for (size_t k = firstChunk; k < VideoChunks.size(); ++k)
        if (VideoChunks[k].Size != 0 && probe(VideoChunks[k]))
            VideoChunks[k].Flags |= AVIIF_KEYFRAME;
}
