// An opened AVI movie: our own walk over its RIFF structure (main header, the video and audio
// stream lists, "movi" and "idx1", then the "AVIX" segments of an AVI 2.0 file), the video and
// audio chunk indexes built from "idx1" and the segments' "movi" lists, the mapping of PCM sound
// onto video frames with its initial skew, and the plain accessors.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IUiServices.h"
#include "MyAVIMMIOReader.h"
#include "MyBase.h"
#include "MyByteSource.h"
#include "MyCommonParams.h"
#include "MyDibDraw.h"
#include "MyGraphics.h"
#include "MyVideoCodecLayer.h"
#include "MyWorkerThread.h"

// Sound delivery
#include <atomic>

#include "MyAudioCodec.h"
#include "MyCompAudBuffer.h"
#include "MyPCMTrans.h"

#pragma pack(push, 1)
// "avih": the main header (56 bytes).
struct TAviMainHeader {
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames;
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
};

// The first 48 bytes of "strh"; the frame rectangle behind them is not read.
struct TAviStreamHeader {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
};
#pragma pack(pop)
static_assert(sizeof(TAviMainHeader) == 56);
static_assert(sizeof(TAviStreamHeader) == 48);

// Switches of the frame decoding, toggled from hidden items of the main window's menu.
enum TDecoderOption {
    doUnused = 0,
    doShowDeltaPart = 1,   // kept for the menu; every frame is decoded whole
    doUseDecompressEx = 2, // kept for the menu; there is one decompress call
    doUseMMIOReader = 3,   // compressed video through the AVI file layer (on at start)
    doMiddleTracking = 4,  // read by the main window, not by the reader
};
extern std::array<bool, 5> DecoderOptions;

// One video chunk listed in "idx1" or found in a later segment's "movi" list. Offsets of the
// later chunks are taken from the same origin as those of "idx1" (the file start or the "movi"
// type), in 64 bits. A file may list a chunk for every 8 of its bytes, so the record holds only
// what frame access needs: 16 bytes.
struct TPictInfo {
    int64_t Offset = 0; // as stored: points at the chunk's 8-byte header
    uint32_t Size = 0;  // data bytes; 0 is a dropped frame
    uint32_t Flags = 0; // the index flags; AVIIF_KEYFRAME marks a key frame
};

// One audio chunk that holds sound, listed as a video chunk is; empty ones are left out.
struct TAudioInfo {
    int64_t Offset = 0;
    uint32_t Size = 0;
    int32_t FirstFrame = 0; // video chunks listed before this chunk (plus the skew after the first)
    int32_t LastFrame = 0;  // last video frame this chunk covers
};

// The chunks of one stream in file order, kept in blocks so that a long index grows without
// being copied (the list is never held twice while it grows). Copies share one list: the
// read-ahead lanes of a reader decode from the index it parsed. clear gives this copy a new,
// empty list and leaves the others theirs.
template <class T> class TChunkList {
public:
    TChunkList() : Items(std::make_shared<std::deque<T>>()) {}
    size_t size() const { return Items->size(); }
    bool empty() const { return Items->empty(); }
    const T& operator[](size_t i) const { return (*Items)[i]; }
    T& operator[](size_t i) { return (*Items)[i]; }
    const T& front() const { return Items->front(); }
    const T& back() const { return Items->back(); }
    T& back() { return Items->back(); }
    void push_back(const T& item) { Items->push_back(item); }
    void clear() { Items = std::make_shared<std::deque<T>>(); }
    typename std::deque<T>::const_iterator begin() const { return Items->cbegin(); }
    typename std::deque<T>::const_iterator end() const { return Items->cend(); }
    typename std::deque<T>::iterator begin() { return Items->begin(); }
    typename std::deque<T>::iterator end() { return Items->end(); }

private:
    std::shared_ptr<std::deque<T>> Items;
};

// What a reader is opened for. A sound-only use (an audio or music object) never looks at the
// pictures, so nothing about them keeps it from the sound.
enum class TAviUse { Pictures, SoundOnly };

class TAviReader {
public:
    // Caps on what a file may ask of us before it is refused.
    static constexpr uint32_t MaxVideoFormatTail = 64 * 1024; // palette or codec bytes behind
                                                              // the 40-byte video format
    static constexpr int MaxStreams = 100;                    // stream numbers are two digits
    static constexpr int32_t MaxPictureSide = 16384; // pixels across or down a video format

    // ui receives the failure message of Open; it may be null (nothing is shown).
    explicit TAviReader(IUiServices* ui = nullptr);
    ~TAviReader();
    TAviReader(const TAviReader&) = delete;
    TAviReader& operator=(const TAviReader&) = delete;

    // Opens the movie in fileName. A missing file gives False without a message; a file that
    // cannot be read or parsed gives False and "Can not open <name>" with the reason on a second
    // line. A movie whose sound track cannot be decoded opens silent, with a warning that says so.
    // A sound-only open checks no picture and opens no decoder for them.
    bool Open(const std::string& fileName, TAviUse use = TAviUse::Pictures);
    // The same over any byte source (a file already opened, or memory); name is used in
    // messages only.
    bool Open(std::unique_ptr<IByteSource> source, const std::string& name,
              TAviUse use = TAviUse::Pictures);
    void Close();

    bool IsLoaded() const { return Loaded; }
    int32_t GetWidth() const { return static_cast<int32_t>(MainHeader.dwWidth); }
    int32_t GetHeight() const { return static_cast<int32_t>(MainHeader.dwHeight); }
    // Frames of the movie: the main header's count, held to the frames the index lists.
    int32_t GetFrameCount() const { return static_cast<int32_t>(MainHeader.dwTotalFrames); }
    // The main header's count as stored.
    uint32_t GetClaimedFrameCount() const { return ClaimedFrames; }
    // Frames per second from the main header; 0 when it stores 0 microseconds per frame.
    Extended GetFrameRate() const;
    // Seconds: total frames times the frame time.
    Extended GetDuration() const;
    // An audio stream is present and can be decoded.
    bool HasAudio() const { return HasAudioStream && AudioDecodable; }
    // An audio stream is present, whether or not it can be decoded.
    bool HasAudioTrack() const { return HasAudioStream; }
    bool IsAudioPCM() const { return SourceAudioFormat.Wfx.wFormatTag == WAVE_FORMAT_PCM; }
    // The video stream's handler is exactly "DIB ".
    bool IsDIB() const;
    // The video format stores uncompressed pixels (plain RGB or bit fields), whatever the
    // handler says ("DIB ", "RGB ", or 0 as many writers leave it): such frames are drawn
    // straight from the file.
    bool IsRawVideo() const;

    // Why no picture of the compressed stream can be decoded (no decoder on either path); empty
    // when one is found.
    const std::string& GetUndecodableVideo() const { return UndecodableVideo; }
    // Why the last Open failed (with the file offset where the walk stopped; -1 when none).
    const std::string& GetOpenError() const { return OpenError; }
    int64_t GetOpenErrorOffset() const { return OpenErrorOffset; }

    const std::string& GetFileName() const { return FileName; }
    const TAviMainHeader& GetMainHeader() const { return MainHeader; }
    const TAviStreamHeader& GetVideoStreamHeader() const { return VideoStreamHeader; }
    const TBitmapInfoHeader& GetVideoFormat() const { return VideoFormat; }
    // Bytes of the video "strf" behind the 40-byte header: palette or codec data.
    const std::vector<uint8_t>& GetVideoFormatTail() const { return VideoFormatTail; }
    const TAviStreamHeader& GetAudioStreamHeader() const { return AudioStreamHeader; }
    // The audio "strf" as stored, in a zeroed 128-byte block.
    const TAudioFormat& GetSourceAudioFormat() const { return SourceAudioFormat; }
    // The PCM format in which the track is read or decoded.
    const TAudioFormat& GetDecodedPcmFormat() const { return DecodedPcmFormat; }
    // Stream numbers of the taken streams (as in chunk ids "00dc", "01wb"); -1 when none.
    int GetVideoStreamNo() const { return VideoStreamNo; }
    int GetAudioStreamNo() const { return AudioStreamNo; }

    const TChunkList<TPictInfo>& GetVideoChunks() const { return VideoChunks; }
    const TChunkList<TAudioInfo>& GetAudioChunks() const { return AudioChunks; }
    // Seconds of sound in an audio chunk (0 when the decoded format's byte rate is unknown), and
    // its sample frames (0 when its block size is).
    Extended GetAudioChunkSeconds(const TAudioInfo& a) const;
    uint32_t GetAudioChunkSamples(const TAudioInfo& a) const;
    // PCM tracks: where the sound of video frame frame lies (the stored offset of the audio chunk
    // that plays with it plus the bytes of that chunk played before it) and the bytes per frame.
    // Both 0 for a frame no chunk covers and for any other track.
    struct TFrameAudio {
        int64_t Pos = 0;
        uint32_t Bytes = 0;
    };
    TFrameAudio GetFrameAudio(int32_t frame) const;
    uint32_t GetRiffSize() const { return RiffSize; }
    // File position of the four characters "movi".
    int64_t GetMoviPos() const { return MoviPos; }
    bool HasRelativeOffsets() const { return RelativeOffsets; }
    // "AVIX" segments read behind the first RIFF form (AVI 2.0 files).
    int GetSegmentCount() const { return Segments; }
    // Where the walk over the segments met a chunk that is damaged or cut off, and the movie
    // ends; -1 when every segment was whole.
    int64_t GetDamagedAt() const { return DamagedAt; }
    Extended GetAudioSkewSeconds() const { return AudioSkewSeconds; }
    int32_t GetAudioSkewFrames() const { return AudioSkewFrames; }

    // Where the data of a chunk whose "idx1" offset is offset begins.
    int64_t ChunkDataPos(int64_t offset) const;
    // Reads the size data bytes of the chunk at idx1 offset into buffer, followed by padding
    // zero bytes. False (buffer empty) when no movie is open or the bytes are not all there.
    bool ReadChunkData(int64_t offset, uint32_t size, std::vector<uint8_t>& buffer,
                       size_t padding = 0);
    // The data of video chunk index / audio chunk index; False when out of range or short.
    bool ReadVideoChunk(int32_t index, std::vector<uint8_t>& buffer, size_t padding = 0);
    bool ReadAudioChunk(int32_t index, std::vector<uint8_t>& buffer, size_t padding = 0);

    // ---- Frame decoding ----
    // Draws frame index stretched over the whole of bitmap: raw frames straight from the file,
    // compressed ones through the AVI file layer (doUseMMIOReader) or our own decompressor. A
    // frame stored empty (dropped) shows the picture of the frame before it. False for an
    // index out of range, a short or damaged frame, or a codec we lack.
    bool GetFrame(int32_t index, TBitmap& bitmap);
    // The raw path: the chunk's bits drawn as a DIB in the stream's video format.
    bool ReadRawFrame(int32_t index, TBitmap& bitmap);
    // Our own decompression path: chunks of the index decoded forward from the key frame at or
    // before the frame (or the one before that, for B-frames shown before their key frame), or
    // straight on from the frame decoded last; frame n is the n-th picture in showing order.
    bool DecompressFrame(int32_t index, TBitmap& bitmap);
    // The frame the last successful GetFrame drew; -1 after Open and Close.
    int32_t GetLastDecodedFrame() const { return LastDecodedFrame; }
    // The AVI file layer opened beside this reader for compressed streams; null for raw streams
    // and for files it refuses (their frames then go through our own decompressor).
    const TAVIMMIOReader* GetFrameReader() const { return FrameReader.get(); }

    // Decoding ahead for a run of renders (an export, a playback): after each GetFrame of a
    // compressed stream a worker decodes the frame that the steps so far point to next, at the
    // same size, and the next GetFrame takes it when it asks for that frame. The pictures are
    // those GetFrame draws without it. A file whose frames stand alone (Motion JPEG) decodes up
    // to lanes frames ahead at once, each lane with a file handle and a decompressor of its own
    // over this reader's parsed index. EndReadAhead (also Close) joins the workers.
    void BeginReadAhead(int lanes = 1);
    void EndReadAhead();
    bool IsReadingAhead() const { return Ahead != nullptr; }

private:
    class TCursor;
    struct TCursorHead;

    // Frame decoding state (MyAVIReaderFrames.cpp).
    // Throws EReadError when no stored frame of a raw stream holds a whole picture.
    void CheckRawFrames() const;
    // Opens the file layer for a compressed stream when it counts every frame of our index and
    // draws the first stored picture (or our own decompressor does not either); else the
    // pictures come through our decompressor.
    void OpenFrameReader();
    // The first stored (not dropped) frame; -1 when there is none.
    int32_t FirstStoredFrame() const;
    void CloseFrameDecoding();
    bool PrepareDecompressor();
    // The last chunk at or before index that holds data; -1 when there is none.
    int32_t StoredFrameAtOrBefore(int32_t index) const;
    bool FeedDecompressor();
    // The last key frame at or before chunk index; 0 when none is marked.
    int32_t KeyChunkAtOrBefore(int32_t index) const;
    TDibFormat GetDibFormat() const;
    // Draws a compressed frame by the path chosen (the file layer or our own decompressor);
    // touches nothing that the GUI thread reads while a read-ahead runs.
    bool DrawCompressed(int32_t index, TBitmap& bitmap, bool viaFileLayer);
    // Hands the frame after index to the read-ahead worker.
    void ReadAheadAfter(int32_t index, const TBitmap& target, bool viaFileLayer);
    // The picture the read-ahead made for index at target's size; False when it has none.
    bool TakeReadAhead(int32_t index, TBitmap& target, bool viaFileLayer, bool& ok);

    // Walks the file; throws EReadError (with file and offset) on any structural fault.
    void ParseFile();
    void ParseHeaderList(TCursor& c, int64_t riffEnd);
    void ParseStreamList(TCursor& c, int streamNo, int64_t listEnd);
    void SetupAudioFormats();
    // Finds the "movi" list of the first RIFF form and the "idx1" index that must follow it.
    TCursorHead FindIndex(TCursor& c, int64_t riffEnd);
    void ReadIndex(TCursor& c, uint32_t idx1Size);
    // The frame count held to the frames found, the sound mapped, the damage said.
    void FinishIndex();
    // Adds a chunk of the taken video or audio stream to its list; other chunks, and audio
    // chunks without sound, are left out.
    void AppendChunk(uint32_t chunkId, uint32_t flags, int64_t offset, uint32_t size);
    void ReadSegments(TCursor& c, int64_t pos);
    int64_t ReadSegment(TCursor& c, int64_t pos, int64_t limit);
    int64_t WalkMovi(TCursor& c, int64_t pos, int64_t end, int64_t limit,
                     std::vector<int64_t>& videoIndexes, bool nested);
    // True when the standard index at ixPos is one of the video stream's chunks and was applied.
    bool MarkKeyFrames(TCursor& c, int64_t ixPos, size_t firstChunk);
    // Marks the key frames among the video chunks from firstChunk on from the stream itself, for
    // a segment that brought no standard index (MyAVIReaderKeys.cpp).
    void FindKeyFrames(size_t firstChunk);
    std::string DamagedSegmentText() const;
    void MapPcmAudio();
    // Notes where every AudioMarkStep-th audio chunk starts in the track.
    void MarkAudioBytes();
    // The audio chunk that holds byte at of the track (the chunks' bytes one after another) and
    // where it starts; the chunk count (start: the track's length) past the end.
    size_t AudioChunkAtByte(int64_t at, int64_t& start) const;
    std::string UndecodableAudioText() const;
    bool OpenSource(std::unique_ptr<IByteSource> source);

    IUiServices* Ui;
    std::unique_ptr<IByteSource> Source;
    std::string FileName;
    TAviUse Use = TAviUse::Pictures;
    bool Loaded = false;
    std::string OpenError;
    int64_t OpenErrorOffset = -1;

    bool HasAudioStream = false;
    bool AudioDecodable = false;
    TChunkList<TAudioInfo> AudioChunks;
    TChunkList<TPictInfo> VideoChunks;

    uint32_t RiffSize = 0;
    int64_t MoviPos = 0;
    int Segments = 0;
    int64_t DamagedAt = -1;
    TAviMainHeader MainHeader{};
    uint32_t ClaimedFrames = 0;
    TAviStreamHeader VideoStreamHeader{};
    TBitmapInfoHeader VideoFormat{};
    std::vector<uint8_t> VideoFormatTail;
    TAviStreamHeader AudioStreamHeader{};
    int VideoStreamNo = -1;
    int AudioStreamNo = -1;
    bool RelativeOffsets = false;
    Extended AudioSkewSeconds = 0;
    int32_t AudioSkewFrames = 0;
    int64_t PcmFrameBytes = 0; // PCM bytes per video frame; 0 when the track is not mapped
    // Where chunks 0, AudioMarkStep, 2 * AudioMarkStep, ... start in the track, and its length:
    // a position is found by a binary search and a short walk, whatever the track's length.
    static constexpr size_t AudioMarkStep = 64;
    std::vector<int64_t> AudioMarks;
    int64_t AudioTrackBytes = 0;

    TAudioFormat DecodedPcmFormat{};
    TAudioFormat SourceAudioFormat{};
    uint32_t AudioFormatBytes = 0; // as stored in the sound stream's "strf"

    std::unique_ptr<TAVIMMIOReader> FrameReader;
    std::unique_ptr<TVideoDecompressor> Decompressor;
    std::string DecompressorError; // why the decompressor could not be opened
    std::string UndecodableVideo;  // why no path decodes the stream; empty when one does
    TDibDraw DrawDib;
    std::vector<uint8_t> FrameData; // chunk bytes, reused from frame to frame
    int32_t NextChunk = 0;          // the chunk the decompressor takes next
    int32_t LastDecodedFrame = -1;
    // One frame decoding ahead: its worker's inputs and result, written by the GUI thread only
    // while no run is pending. A lane decodes with this reader's own state (which the worker
    // alone uses while a run is pending) or, when frames are decoded several at once, with a
    // lane reader of its own.
    struct TReadAheadLane {
        TAviReader* Decoder = nullptr;
        std::unique_ptr<TAviReader> Own;
        int32_t Index = -1; // the frame decoded ahead; -1 when none
        bool ViaFileLayer = false;
        bool Ok = false;
        TBitmap Picture;
        std::unique_ptr<TWorkerThread> Worker;
    };
    struct TReadAhead {
        std::vector<std::unique_ptr<TReadAheadLane>> Lanes;
        int32_t LastAsked = -1; // the frame GetFrame was asked for before
    };
    // Opens a lane reader of its own over the file for each lane; False when the stream's
    // frames do not stand alone or the file cannot be opened again.
    bool OpenOwnLanes(int lanes);
    // Makes this reader a lane of whole: its own file handle and decompressor over whole's
    // parsed headers and shared index, without parsing again, without the file layer and
    // without a trial decode. Its pictures come from our own decompressor, which gives those of
    // the file layer for frames that stand alone.
    bool OpenLane(const TAviReader& whole);
    TReadAheadLane* LaneOf(int32_t index) const;
    std::unique_ptr<TReadAhead> Ahead;

    // ---- Sound delivery ------------------------------------------------------------------------
    // One video frame's sound at a time, in the format the project wants, from PCM chunks read
    // in place or from compressed chunks decoded ahead; and the track copied into a WAV file.
public:
    // Set by the main window's Escape key; stops a running sound-track extraction.
    static std::atomic<bool> EscapePressed;
    // Ceiling of the decoded-ahead buffer of a compressed track.
    static constexpr uint32_t MaxCompAudBuffer = 1048576;

    // Readies delivery in Wanted at fps video frames per second. Audio is ready when the track
    // can be delivered: a PCM track always, a compressed one when both codec streams opened.
    void PrepareAudio(const TAudioFormat& wanted, Extended fps);
    void UnprepareAudio();
    bool IsAudioReady() const { return AudioReady; }
    // The sound that goes with source frame Frame at Time seconds into the source; Buffer is
    // resized to Samples sample frames in the wanted format (0: a nominal frame's block,
    // Round(rate / fps)). False when audio is not ready, no movie is open, or the track cannot
    // be read or decoded.
    bool ReadAudio(int32_t frame, std::vector<uint8_t>& buffer, Extended time, int32_t samples = 0);
    // PCM tracks: sequential from the position Time gives on the first call after a prepare,
    // the source read on its own sample line so that no rate ratio makes it drift.
    bool ReadAudioFrame(int32_t frame, std::vector<uint8_t>& buffer, Extended time,
                        int32_t samples = 0);
    // Compressed tracks: sequential from the frame given on the first call after a prepare.
    bool ReadCompressedAudio(int32_t frame, std::vector<uint8_t>& buffer, int32_t samples = 0);
    // Decodes the next chunks that yield sound and appends them, converted, to the buffer.
    bool FillCompressData();
    // Decodes the chunk at the buffer's next chunk and moves on by one.
    bool ReadNextAudioChunk(std::vector<uint8_t>& decoded);
    // Copies the audio chunks as stored into a WAV file (or raw), showing progress in the status
    // bar; Escape (EscapePressed) stops it with True.
    bool ExtractAudioToWav(bool raw, const std::string& fileName, IUiServices& ui);

    const TAudioFormat& GetWantedFormat() const { return WantedFormat; }
    int64_t GetPcmReadPos() const { return PcmReadPos; }
    const TCompAudBuffer& GetCompAudBuffer() const { return CompAudBuffer; }

private:
    // Compressed tracks: where decoding starts for frame, on the first call after a prepare; False
    // when the track ends before it.
    bool PlaceCompressedAudio(int32_t frame);
    // Decodes chunks while more says so and chunks are left; a chunk that fails is passed over.
    bool FillCompressedWhile(const std::function<bool()>& more);
    // Moves the next wanted bytes of decoded sound into buffer, silence where there are none.
    void TakeCompressedBlock(std::vector<uint8_t>& buffer, uint32_t wanted);
    void FillSilence(std::vector<uint8_t>& buffer, const TAudioFormat& format, size_t size) const;
    // Bytes of a block of samples sample frames in the wanted format (0: a nominal frame's).
    uint32_t WantedBlockBytes(int32_t samples) const;
    // Places PCM delivery at time seconds into the track, for the first read after a prepare.
    void PlacePcmDelivery(Extended time);

    TAudioFormat WantedFormat{};
    Extended AudioFrameRate = 0;
    bool AudioReady = false;
    bool PcmPosSet = false;
    int64_t PcmReadPos = 0;
    int64_t PcmStartPos = 0;                   // byte position the first call placed delivery at
    int64_t PcmConsumed = 0;                   // the track's sample frames consumed since
    std::unique_ptr<TAudioCodec> DecodeCodec;  // made when a compressed track is met
    std::unique_ptr<TAudioCodec> ConvertCodec; // made by the first prepare of such a track
    TPCMTrans PcmTrans;
    TCompAudBuffer CompAudBuffer;
    std::vector<uint8_t> ChunkBuffer; // compressed bytes of the chunk being decoded
    std::vector<uint8_t> Converted;   // its sound in the wanted format
    // ---- end of sound delivery -----------------------------------------------------------------
};
