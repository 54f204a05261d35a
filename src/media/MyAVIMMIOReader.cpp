#include "MyAVIMMIOReader.h"

#include <climits>
#include <cstdio>

#include "MyVideoCodecLayer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace {
constexpr int IoBufferSize = 64 * 1024;
}

TAVIMMIOReader::~TAVIMMIOReader() {
    Close();
}

bool TAVIMMIOReader::Open(const std::string& fileName) {
    Close();
    std::unique_ptr<TFileByteSource> file = TFileByteSource::Open(fileName);
    if (!file)
        return false;
    IByteSource& source = *file;
    if (!Open(source, fileName))
        return false;
    OwnSource = std::move(file);
    return true;
}

bool TAVIMMIOReader::Open(IByteSource& source, const std::string& name) {
    Close();
    FileName = name;
    if (OpenSource(source))
        return true;
    Close();
    return false;
}

bool TAVIMMIOReader::OpenSource(IByteSource& source) {
    Source = &source;
    IoPos = 0;
    auto* buffer = static_cast<uint8_t*>(av_malloc(IoBufferSize));
    if (!buffer)
        return false;
    Io = avio_alloc_context(buffer, IoBufferSize, 0, this, &ReadIo, nullptr, &SeekIo);
    if (!Io) {
        av_free(buffer);
        return false;
    }
    Format = avformat_alloc_context();
    if (!Format)
        return false;
    Format->pb = Io;
    Format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The caller knows the file is an AVI; naming the demuxer saves the probe.
    if (avformat_open_input(&Format, FileName.c_str(), av_find_input_format("avi"), nullptr) < 0) {
        Format = nullptr; // freed by the failed open
        return false;
    }
    for (unsigned i = 0; i < Format->nb_streams; ++i) {
        AVStream* st = Format->streams[i];
        if (StreamIndex < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            StreamIndex = static_cast<int>(i);
        else
            st->discard = AVDISCARD_ALL; // the demuxer passes over their chunks
    }
    if (StreamIndex < 0)
        return false;
    AVStream* st = Format->streams[StreamIndex];
    Width = st->codecpar->width;
    Height = st->codecpar->height;
    int64_t frames = st->nb_frames;
    if (frames <= 0 && st->duration > 0)
        frames = st->duration;
    FrameCount = frames > 0 && frames <= INT32_MAX ? static_cast<int32_t>(frames) : 0;
    if (FrameCount > 0 && st->time_base.den > 0 && st->time_base.num > 0) {
        const int64_t total =
            av_rescale(FrameCount, int64_t(1000) * st->time_base.num, st->time_base.den);
        MsPerFrame = static_cast<int32_t>(std::min<int64_t>(total / FrameCount, INT32_MAX));
    }
    Packet = av_packet_alloc();
    if (!Packet)
        return false;
    // Without a decoder the movie still opens; its frames fail one by one.
    Decoder = TVideoDecompressor::Open(*st->codecpar);
    Opened = true;
    LastDrawnFrame = 0;
    return true;
}

void TAVIMMIOReader::Close() {
    Decoder.reset();
    avformat_close_input(&Format);
    if (Io) {
        // The buffer may have been replaced inside libavformat; free the one it holds now.
        av_freep(&Io->buffer);
        avio_context_free(&Io);
    }
    av_packet_free(&Packet);
    OwnSource.reset();
    Source = nullptr;
    IoPos = 0;
    StreamIndex = -1;
    DemuxEnd = false;
    Width = Height = 0;
    FrameCount = 0;
    MsPerFrame = 0;
    Opened = false;
    LastDrawnFrame = 0;
    FileName.clear();
}

int TAVIMMIOReader::ReadIo(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<TAVIMMIOReader*>(opaque);
    if (size <= 0)
        return 0;
    const size_t n = self->Source->ReadAt(self->IoPos, buffer, static_cast<size_t>(size));
    if (n == 0)
        return AVERROR_EOF;
    self->IoPos += static_cast<int64_t>(n);
    return static_cast<int>(n);
}

int64_t TAVIMMIOReader::SeekIo(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<TAVIMMIOReader*>(opaque);
    const int64_t size = self->Source->Size();
    int64_t pos;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        pos = offset;
        break;
    case SEEK_CUR:
        pos = self->IoPos + offset;
        break;
    case SEEK_END:
        pos = size + offset;
        break;
    default:
        return -1;
    }
    if (pos < 0)
        return -1;
    self->IoPos = pos;
    return pos;
}

bool TAVIMMIOReader::SeekTo(int64_t keyNo) {
    if (av_seek_frame(Format, StreamIndex, keyNo, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    Decoder->Reset();
    DemuxEnd = false;
    return true;
}

bool TAVIMMIOReader::FeedOne() {
    for (;;) {
        if (DemuxEnd) {
            if (Decoder->Drained())
                return false;
            Decoder->Drain();
            return true;
        }
        if (av_read_frame(Format, Packet) < 0) {
            DemuxEnd = true;
            continue;
        }
        // Empty chunks (dropped frames) carry no picture; the one before them stays shown.
        if (Packet->stream_index != StreamIndex || Packet->size <= 0) {
            av_packet_unref(Packet);
            continue;
        }
        // The decoding time is the chunk's number; the demuxer guesses showing times for some
        // B-frames, which would put the numbers out of stored order.
        const int64_t no = Packet->dts != AV_NOPTS_VALUE ? Packet->dts : Packet->pts;
        if (no == AV_NOPTS_VALUE) {
            av_packet_unref(Packet);
            continue;
        }
        // A refused frame is lost; the walk notices when its picture never comes.
        Decoder->Send(*Packet, no);
        return true;
    }
}

bool TAVIMMIOReader::DrawFrame(int32_t index, TBitmap& bitmap) {
    // Frames past the stream's count have no picture here; painting one would pass a blank for
    // a decoded frame.
    if (!Opened || index < 0 || index >= FrameCount || !Decoder || bitmap.Empty())
        return false;

    // The picture of frame index is that of the last stored frame at or before it, decoded
    // forward from the key frame before that.
    AVStream* st = Format->streams[StreamIndex];
    const AVIndexEntry* shown =
        avformat_index_get_entry_from_timestamp(st, index, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (!shown)
        return false;
    TVideoDecompressor::TFrameSource source;
    source.KeyAtOrBefore = [this](int64_t n) { return KeyAtOrBefore(n); };
    source.StartAt = [this](int64_t n) { return SeekTo(n); };
    source.Feed = [this] { return FeedOne(); };
    source.Read = [this](int64_t n, std::vector<uint8_t>& bytes) { return ReadStored(n, bytes); };
    if (!Decoder->SeekPicture(index, shown->timestamp, source))
        return false;
    if (!Decoder->DrawPicture(DrawDib, bitmap))
        return false;
    LastDrawnFrame = index;
    return true;
}

int64_t TAVIMMIOReader::KeyAtOrBefore(int64_t frame) const {
    AVStream* st = Format->streams[StreamIndex];
    const AVIndexEntry* k =
        avformat_index_get_entry_from_timestamp(st, frame, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* first = avformat_index_get_entry(st, 0);
    return k ? k->timestamp : first ? first->timestamp : 0;
}

bool TAVIMMIOReader::ReadStored(int64_t frame, std::vector<uint8_t>& bytes) const {
    AVStream* st = Format->streams[StreamIndex];
    const AVIndexEntry* e =
        avformat_index_get_entry_from_timestamp(st, frame, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (!e || e->timestamp != frame || e->size <= 0)
        return false;
    // The index points at the chunk's 8-byte header.
    bytes.resize(size_t(e->size));
    return Source->ReadAt(e->pos + 8, bytes.data(), bytes.size()) == bytes.size();
}
