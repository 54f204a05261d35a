// The AVI file layer: the first video stream of a movie opened through libavformat and decoded
// through the video codec layer, frame by frame in showing order (frame n is the n-th picture
// shown, whatever order B-frames are stored in). It stands beside our own reader and decodes the
// compressed frames of the movie.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MyByteSource.h"
#include "MyDibDraw.h"
#include "MyGraphics.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
class TVideoDecompressor;

class TAVIMMIOReader {
public:
    TAVIMMIOReader() = default;
    ~TAVIMMIOReader();
    TAVIMMIOReader(const TAVIMMIOReader&) = delete;
    TAVIMMIOReader& operator=(const TAVIMMIOReader&) = delete;

    // Opens the first video stream of the file; an open reader is closed first. A stream whose
    // codec we lack still opens; its frames then fail to draw.
    bool Open(const std::string& fileName);
    // The same over a byte source the caller keeps alive until Close; name is for messages.
    bool Open(IByteSource& source, const std::string& name);
    void Close();

    // Draws frame index stretched over the whole of bitmap: the index-th picture in showing
    // order. An index outside the stream's frame count draws nothing and fails. A frame stored
    // empty (dropped) shows the picture of the frame before it.
    bool DrawFrame(int32_t index, TBitmap& bitmap);

    bool IsOpened() const { return Opened; }
    const std::string& GetFileName() const { return FileName; }
    int32_t GetWidth() const { return Width; }
    int32_t GetHeight() const { return Height; }
    int32_t GetFrameCount() const { return FrameCount; }
    // Whole milliseconds per frame; 0 for an empty stream.
    int32_t GetMsPerFrame() const { return MsPerFrame; }
    int32_t GetLastDrawnFrame() const { return LastDrawnFrame; }
    // The stream has a decoder (its frames can be drawn).
    bool CanDecode() const { return Decoder != nullptr; }

private:
    bool OpenSource(IByteSource& source);
    // Positions the demuxer at the key frame keyNo and empties the decoder.
    bool SeekTo(int64_t keyNo);
    // The key frame at or before frame; the first frame when none is marked.
    int64_t KeyAtOrBefore(int64_t frame) const;
    // Reads the bytes of stored frame frame beside the demuxer; False when it is not stored.
    bool ReadStored(int64_t frame, std::vector<uint8_t>& bytes) const;
    // Sends the next frame of the stream to the decoder, or drains it at the end.
    bool FeedOne();
    static int ReadIo(void* opaque, uint8_t* buffer, int size);
    static int64_t SeekIo(void* opaque, int64_t offset, int whence);

    int32_t Width = 0;
    int32_t Height = 0;
    std::string FileName;
    bool Opened = false;
    int32_t LastDrawnFrame = 0;
    int32_t MsPerFrame = 0;
    int32_t FrameCount = 0;
    TDibDraw DrawDib;

    std::unique_ptr<IByteSource> OwnSource;
    IByteSource* Source = nullptr;
    int64_t IoPos = 0;
    AVFormatContext* Format = nullptr;
    AVIOContext* Io = nullptr;
    AVPacket* Packet = nullptr;
    int StreamIndex = -1;
    std::unique_ptr<TVideoDecompressor> Decoder;
    bool DemuxEnd = false;
};
