// Video codec layer: finds the libavcodec codec for a stream's FOURCC through libavformat's RIFF
// tag table and decodes its frames. Frames go in numbered in stored (decoding) order and pictures
// come out numbered in showing order, so a caller can walk from a key frame to the frame it wants
// also when B-frames reorder them. Motion JPEG is decoded by libjpeg-turbo straight to B, G, R
// pictures. Compressors belong to this layer as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MyDibDraw.h"
#include "MyYuvPicture.h"

struct AVBufferPool;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

// The libavcodec codec (an AVCodecID) that libavformat's RIFF table lists for fourcc, letter case
// ignored; 0 when there is none.
int VideoCodecIdOfFourCC(uint32_t fourcc);
// The codec of a stream: by the format's compression, which names how the bits are coded, or by
// the handler (the stream's choice of driver) when the compression is unknown; 0 when neither.
int VideoCodecIdOfStream(uint32_t compression, uint32_t handler);
// True when every frame of that codec stands alone (Motion JPEG, for one).
bool IntraOnlyCodec(int codecId);
bool IntraOnlyFourCC(uint32_t fourcc);

// How a stream describes its compressed frames.
struct TVideoStreamFormat {
    uint32_t Handler = 0; // the stream header's handler FOURCC
    TDibFormat Format;    // Compression holds the format's FOURCC
    // Bytes behind the 40-byte format: the codec's setup data, or a colour table.
    const uint8_t* Extra = nullptr;
    size_t ExtraSize = 0;
};

// Everything that sits between a codec and a caller: the codec context, its threads and the
// codec's properties. Decompressors (and compressors) derive from it.
class TVideoCodec {
public:
    virtual ~TVideoCodec();
    TVideoCodec(const TVideoCodec&) = delete;
    TVideoCodec& operator=(const TVideoCodec&) = delete;

    // The codec's short name ("mjpeg", "mpeg4").
    std::string CodecName() const;
    // Every frame of this codec stands alone, whatever an index says about key frames.
    bool IntraOnly() const { return FIntraOnly; }

protected:
    TVideoCodec() = default;
    AVCodecContext* Ctx = nullptr;
    bool FIntraOnly = false;
};

class TVideoDecompressor : public TVideoCodec {
public:
    // The largest picture decoded, in pixels.
    static constexpr int64_t MaxPixels = int64_t(7680) * 4320;

    // What Receive found.
    enum class TStep {
        Picture,  // a new picture is current
        NeedData, // the decoder wants more input first
        Finished, // everything sent before Drain has come out
        Failed,   // the decoder refused the data; the picture for it is lost
    };

    // A decoder for the format's compression (or, failing that, the stream's handler).
    // Null, with the reason in why, when no codec fits or it cannot be opened.
    static std::unique_ptr<TVideoDecompressor> Open(const TVideoStreamFormat& format,
                                                    std::string* why = nullptr);
    // A decoder for a stream as libavformat describes it.
    static std::unique_ptr<TVideoDecompressor> Open(const AVCodecParameters& params,
                                                    std::string* why = nullptr);
    ~TVideoDecompressor() override;

    // Drops everything queued inside the decoder and the current picture, before decoding
    // resumes from a key frame elsewhere.
    void Reset();
    // Sends one compressed frame (copied into a reused buffer) tagged with its frame number, the
    // number of its chunk in stored order; numbers rise from one call to the next. An empty frame
    // is not sent. False when the decoder refuses it.
    bool Send(const uint8_t* data, size_t size, int64_t frameNo);
    // Sends a packet as libavformat read it, tagged with frameNo; the packet is left empty.
    // MPEG-4 part 2 in the DivX "packed" form (a B-frame stored behind the frame before it, its
    // own chunk a placeholder, small or empty) is taken apart, so that the B-frame goes in with
    // the placeholder's number; an empty placeholder is noticed by the gap in the numbers.
    bool Send(AVPacket& packet, int64_t frameNo);
    // No more input: the decoder hands out what it still holds, then Finished.
    void Drain();
    bool Drained() const { return FDrained; }

    // Takes the next decoded picture, in showing order. Its number is the frame it shows: the
    // k-th picture after a reset at key frame f shows frame f + k, the frames sent being numbered
    // f, f + 1, ... (a stream without reordering keeps each frame's own number, so a frame
    // stored empty has no picture). B-frames stored right after a key frame are shown before it
    // and need the pictures before that key: after a reset they are passed over, and the key
    // frame's picture takes the number after theirs.
    TStep Receive();
    // The current picture and its frame number; null and -1 when there is none (or when a
    // Motion JPEG frame turns out to be undecodable).
    const AVFrame* Picture() const;
    int64_t PictureNo() const { return FPictureNo; }
    // Draws the current picture over the whole of target. A Motion JPEG picture of the target's
    // size is decoded straight into its rows, or into its planes when it allows them and the
    // picture is 4:2:0 YCbCr. False when there is no picture or it cannot be
    // decoded; a frame that fails half-way may leave target partly drawn.
    bool DrawPicture(TDibDraw& draw, TBitmap& target);

    // Receives and feeds until the picture of frame wanted is current. feed sends the next
    // frame (or drains at the end) and returns False when there is nothing more to give.
    // False when the decoder passed frame wanted without giving its picture, or ran dry. After a
    // reset at a key frame whose leading B-frames hold frame wanted, the first picture is already
    // past it: the caller starts again at the key frame before.
    bool DecodeUntil(int64_t wanted, const std::function<bool()>& feed);

    // How a caller's stored frames are reached.
    struct TFrameSource {
        // The key frame at or before frame n (the first stored frame when none is marked).
        std::function<int64_t(int64_t n)> KeyAtOrBefore;
        // Resets the decoder and has Feed go on from key frame n; False when it cannot.
        std::function<bool(int64_t n)> StartAt;
        // Sends the next stored frame, or drains at the end; False when nothing is left.
        std::function<bool()> Feed;
        // Reads stored frame n into bytes; False when there is none.
        std::function<bool(int64_t n, std::vector<uint8_t>& bytes)> Read;
    };
    // Makes current the picture shown at frame index, whose last stored frame at or before it is
    // stored: straight on from the current picture when that lies no earlier than the frame
    // before the key frame, else from the key frame (the one before it for a frame among its
    // leading B-frames). An empty chunk behind a packed frame is the placeholder of its B-frame.
    // False, the decoder reset, when the picture does not come (False without a reset when the
    // source cannot start at the key frame).
    bool SeekPicture(int64_t index, int64_t stored, const TFrameSource& source);

private:
    TVideoDecompressor() = default;
    bool Finish(std::string* why);
    bool SendPacket(AVPacket& packet, int64_t frameNo);
    bool SendBytes(const uint8_t* data, size_t size, int64_t frameNo);
    // MPEG-4 part 2: a packed frame (its second VOP at second; 0 when there is none) goes in as
    // two, the B-frame behind it waiting for its placeholder's number.
    bool SendUnpacked(const uint8_t* data, size_t size, int64_t frameNo, size_t second);
    bool SendPending(int64_t frameNo);
    // A B-frame of the packed form is still waiting behind stored frame last, so an empty chunk
    // after it is its placeholder and shows a picture of its own.
    bool LeavesPackedFrame(int64_t last, const TFrameSource& source) const;
    // Notes the frame numbers sent since the last reset and which of them lead the key frame.
    void NoteSent(const uint8_t* data, size_t size, int64_t frameNo);
    // The frame that a picture decoded from the frame numbered tag shows; -1 when the picture
    // is to be passed over (a leading B-frame decoded without its references).
    int64_t ShownFrameOf(int64_t tag);
    // A picture the decoder failed to give takes its frame's number with it.
    void LosePicture();
    // Motion JPEG: Send checks a frame's header and keeps its bytes, Receive makes them the
    // current picture, and the picture is decoded only when drawn.
    bool SendJpeg(const uint8_t* data, size_t size, int64_t frameNo);
    TStep ReceiveJpeg();
    // Decodes the current Motion JPEG frame into rows pitch bytes apart.
    bool DecodeJpeg(uint8_t* rows, int pitch) const;
    // Decodes it once into Current, for callers that want the picture itself.
    bool DecodeJpegPicture() const;
    bool DecodeJpegPlanes(TYuvPicture& planes) const;
    // Leaves the current picture in target as its planes.
    bool DrawJpegPlanes(TBitmap& target);

    AVFrame* Current = nullptr;
    AVFrame* Next = nullptr;
    AVPacket* Packet = nullptr;
    AVBufferPool* Pool = nullptr;
    size_t PoolSize = 0;
    int64_t FPictureNo = -1;
    bool FDrained = false;
    // Frame numbers sent since the last reset whose pictures have not come out, in rising order
    // from SentHead on (the vector keeps its capacity from frame to frame).
    std::vector<int64_t> Sent;
    size_t SentHead = 0;
    // The first frame sent after a reset (the key frame), the B-frames right behind it, and
    // whether its picture has come out.
    int64_t KeyNo = -1;
    int64_t LeadingEnd = -1; // the last leading B-frame; -1 when there is none
    int Leading = 0;
    bool CountingLeading = false;
    bool KeyShown = false;
    // The B-frame of a packed frame, waiting for its placeholder (PendingNo is the packed frame's
    // number; -1 when none waits). A not-coded placeholder is at most this long.
    static constexpr size_t MaxNotCodedSize = 19;
    std::vector<uint8_t> PendingVop;
    int64_t PendingNo = -1;
    mutable std::vector<uint8_t> StoredBytes; // frames read by LeavesPackedFrame
    // A colour table from the stream format, handed to the decoder with the first frame sent
    // after opening or a reset (palettised codecs take it from there).
    uint8_t Palette[1024] = {};
    bool HasPalette = false;
    bool PaletteSent = false;
    // libjpeg-turbo's decoder (a tjhandle) when the codec is Motion JPEG. Frames are kept
    // compressed: the one sent and not yet received (numbered JpegNo), and the current one. Both
    // buffers keep their size from frame to frame.
    void* Jpeg = nullptr;
    int64_t JpegNo = -1;
    struct TJpegFrame {
        std::vector<uint8_t> Bytes;
        int Width = 0;
        int Height = 0;
        int Subsampling = -1; // TurboJPEG's TJSAMP_ and TJCS_ values
        int Colorspace = -1;
    };
    TJpegFrame JpegSent, JpegCurrent;
    // Current holds the current frame decoded (Picture asked for it, or it is drawn again).
    mutable bool JpegDecoded = false;
    mutable bool JpegFailed = false;
    // How often the current picture was drawn, and whether the one before was drawn more than
    // once: a movie slower than the project shows each picture several times, and then one
    // decode plus copies beats a decode per draw.
    int JpegDraws = 0;
    bool JpegRepeats = false;
    // The current picture's planes, when it is drawn as planes more than once.
    TYuvPicture JpegPlanes;
    bool JpegPlanesDecoded = false;
};
