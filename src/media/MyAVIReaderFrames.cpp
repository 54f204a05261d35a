// Frame decoding of TAviReader: raw frames drawn from the file, compressed ones decoded through
// the AVI file layer or through our own decompressor over the chunk index.
#include "MyAVIReader.h"

#include <algorithm>
#include <filesystem>

std::array<bool, 5> DecoderOptions = {false, false, false, true, false};

void TAviReader::CheckRawFrames() const {
    if (!IsRawVideo())
        return;
    const TDibFormat f = GetDibFormat();
    const int64_t image = DibImageBytes(f);
    const TPictInfo* first = nullptr;
    for (const TPictInfo& p : VideoChunks) {
        if (p.Size == 0)
            continue;
        if (image >= 0 && p.Size >= image)
            return;
        if (!first)
            first = &p;
    }
    // A movie without stored frames has nothing to judge; one damaged frame among whole ones
    // loses that frame only.
    if (!first)
        return;
    const int64_t at = ChunkDataPos(first->Offset) - 8;
    // Rows stored top-down give a negative height; the picture is as tall either way.
    const int64_t height = f.Height < 0 ? -int64_t(f.Height) : int64_t(f.Height);
    const std::string picture = std::to_string(f.Width) + " x " + std::to_string(height) + " at " +
                                std::to_string(f.BitCount) + " bits";
    const std::string what =
        image < 0 ? "Raw frames of " + picture + " describe no picture that can be drawn"
                  : "Every raw frame is shorter than one picture of " + picture + " (" +
                        std::to_string(image) + " bytes; the first holds " +
                        std::to_string(first->Size) + ")";
    throw EReadError(what + " (" + FileName + ", offset " + std::to_string(at) + ")", FileName, at);
}

void TAviReader::OpenFrameReader() {
    LastDecodedFrame = -1;
    // Raw frames are drawn straight from the file; only compressed streams need the file layer.
    if (IsRawVideo() || !Source)
        return;
    auto reader = std::make_unique<TAVIMMIOReader>();
    // A layer that counts fewer frames than our index (a header that counts only the first RIFF
    // form of a long movie) has no picture for the rest: the whole movie then decodes over our
    // index, so that one decoder numbers all its frames.
    const bool opened =
        reader->Open(*Source, FileName) && size_t(reader->GetFrameCount()) >= VideoChunks.size();
    const int32_t first = FirstStoredFrame();
    TBitmap probe(8, 8);
    if (first < 0 || (opened && reader->DrawFrame(first, probe))) {
        if (opened)
            FrameReader = std::move(reader);
        return;
    }
    // A file the layer refuses (our walk is more forgiving, with ids in any letter case), or
    // one it misreads (a header it stumbles over) so that it draws no picture, still opens: its
    // frames are decoded over our own index instead. When that fails as well, the first frame
    // is damaged rather than the layer wrong, and the layer stays.
    if (DecompressFrame(first, probe))
        return;
    if (opened)
        FrameReader = std::move(reader);
    // With a decoder on neither path no frame will ever show.
    if (!DecompressorError.empty() && (!FrameReader || !FrameReader->CanDecode()))
        UndecodableVideo = DecompressorError;
}

int32_t TAviReader::FirstStoredFrame() const {
    for (size_t i = 0; i < VideoChunks.size(); ++i)
        if (VideoChunks[i].Size != 0)
            return int32_t(i);
    return -1;
}

void TAviReader::CloseFrameDecoding() {
    EndReadAhead();
    FrameReader.reset();
    Decompressor.reset();
    DecompressorError.clear();
    UndecodableVideo.clear();
    NextChunk = 0;
    LastDecodedFrame = -1;
}

TDibFormat TAviReader::GetDibFormat() const {
    TDibFormat f;
    f.Width = VideoFormat.biWidth;
    f.Height = VideoFormat.biHeight;
    f.BitCount = VideoFormat.biBitCount;
    f.Compression = VideoFormat.biCompression;
    f.ClrUsed = VideoFormat.biClrUsed;
    return f;
}

int32_t TAviReader::StoredFrameAtOrBefore(int32_t index) const {
    for (int32_t i = index; i >= 0; --i)
        if (VideoChunks[size_t(i)].Size != 0)
            return i;
    return -1;
}

bool TAviReader::GetFrame(int32_t index, TBitmap& bitmap) {
    if (!Loaded)
        return false;
    bool ok;
    if (IsRawVideo()) {
        ok = ReadRawFrame(index, bitmap);
    } else {
        const bool viaFileLayer = DecoderOptions[doUseMMIOReader] && FrameReader;
        if (!TakeReadAhead(index, bitmap, viaFileLayer, ok))
            ok = DrawCompressed(index, bitmap, viaFileLayer);
        if (ok && Ahead)
            ReadAheadAfter(index, bitmap, viaFileLayer);
    }
    if (ok)
        LastDecodedFrame = index;
    return ok;
}

bool TAviReader::DrawCompressed(int32_t index, TBitmap& bitmap, bool viaFileLayer) {
    // Our index alone says which frames exist.
    if (index < 0 || size_t(index) >= VideoChunks.size())
        return false;
    return viaFileLayer ? FrameReader->DrawFrame(index, bitmap) : DecompressFrame(index, bitmap);
}

void TAviReader::BeginReadAhead(int lanes) {
    if (Ahead)
        return;
    Ahead = std::make_unique<TReadAhead>();
    if (lanes < 2 || !OpenOwnLanes(lanes)) {
        Ahead->Lanes.clear();
        Ahead->Lanes.push_back(std::make_unique<TReadAheadLane>());
        Ahead->Lanes[0]->Decoder = this;
    }
    for (auto& lane : Ahead->Lanes) {
        TReadAheadLane* l = lane.get();
        // A lane reader of its own has no file layer; its frames stand alone, and our own
        // decompressor draws them as the file layer would.
        l->Worker = std::make_unique<TWorkerThread>([l] {
            l->Ok = (!l->ViaFileLayer || l->Own || l->Decoder->FrameReader) &&
                    l->Decoder->DrawCompressed(l->Index, l->Picture, l->ViaFileLayer && !l->Own);
        });
    }
}

bool TAviReader::OpenOwnLanes(int lanes) {
    // Only frames that stand alone come out the same whichever reader decodes them.
    if (IsRawVideo() || !IntraOnlyFourCC(VideoFormat.biCompression))
        return false;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(FileName, ec))
        return false;
    for (int i = 0; i < lanes; ++i) {
        auto lane = std::make_unique<TReadAheadLane>();
        // This reader has told the user what there is to say about the file; its lanes, which
        // only decode pictures, stay quiet.
        lane->Own = std::make_unique<TAviReader>(nullptr);
        if (!lane->Own->OpenLane(*this))
            return false;
        lane->Decoder = lane->Own.get();
        Ahead->Lanes.push_back(std::move(lane));
    }
    return true;
}

void TAviReader::EndReadAhead() {
    if (Ahead)
        for (auto& lane : Ahead->Lanes)
            lane->Worker->Stop();
    Ahead.reset();
}

TAviReader::TReadAheadLane* TAviReader::LaneOf(int32_t index) const {
    for (const auto& lane : Ahead->Lanes)
        if (lane->Index == index)
            return lane.get();
    return nullptr;
}

bool TAviReader::TakeReadAhead(int32_t index, TBitmap& target, bool viaFileLayer, bool& ok) {
    if (!Ahead)
        return false;
    // A lane on this reader's own state must be idle before GetFrame decodes with it.
    TReadAheadLane& first = *Ahead->Lanes[0];
    if (first.Decoder == this) {
        first.Worker->Wait();
        if (first.Index != index)
            first.Index = -1;
    }
    TReadAheadLane* lane = index >= 0 ? LaneOf(index) : nullptr;
    if (!lane)
        return false;
    lane->Worker->Wait();
    lane->Index = -1;
    // A frame decoded for a target that took no planes is rows, where a decode for this one may
    // give planes, which code differently; it is decoded again.
    if (lane->ViaFileLayer != viaFileLayer || lane->Picture.Width() != target.Width() ||
        lane->Picture.Height() != target.Height() ||
        (target.PlanesAllowed() && !lane->Picture.PlanesAllowed()))
        return false;
    ok = lane->Ok;
    // The decoded picture changes hands; the lane decodes its next frame over the target's
    // former pixels.
    if (ok)
        target.TakePixelsOf(lane->Picture);
    return true;
}

void TAviReader::ReadAheadAfter(int32_t index, const TBitmap& target, bool viaFileLayer) {
    TReadAhead& a = *Ahead;
    // A steady walk (every frame, every other one for fast motion) goes on by the same step;
    // anything else guesses the next frames.
    const int32_t step = index - a.LastAsked;
    a.LastAsked = index;
    const int32_t by = step >= 1 && step <= 4 ? step : 1;
    const int32_t lanes = int32_t(a.Lanes.size());
    // Past the end the file layer paints the target's own brush; such frames are not guessed.
    int32_t count = int32_t(VideoChunks.size());
    if (viaFileLayer)
        count = std::min(count, FrameReader->GetFrameCount());
    // A lane holding a frame no longer wanted is free again.
    for (auto& lane : a.Lanes)
        if (lane->Index >= 0 && (lane->Index <= index || (lane->Index - index) % by ||
                                 lane->Index > index + lanes * by))
            lane->Index = -1;
    for (int32_t k = 1; k <= lanes; ++k) {
        const int32_t next = index + k * by;
        if (next >= count)
            return;
        if (LaneOf(next))
            continue;
        TReadAheadLane* lane = LaneOf(-1);
        if (!lane)
            return;
        lane->Worker->Wait();
        if (lane->Picture.Width() != target.Width() || lane->Picture.Height() != target.Height())
            lane->Picture.SetSize(target.Width(), target.Height());
        // The lane's picture goes to the target whole, so it takes what the target takes.
        lane->Picture.AllowPlanes(target.PlanesAllowed());
        // Callers read the format while the worker decodes; it must not change it then.
        const int32_t stored = StoredFrameAtOrBefore(next);
        if (lane->Decoder == this && !viaFileLayer && VideoFormat.biSizeImage == 0 && stored >= 0)
            VideoFormat.biSizeImage = VideoChunks[size_t(stored)].Size;
        lane->Index = next;
        lane->ViaFileLayer = viaFileLayer;
        lane->Worker->Run();
    }
}

bool TAviReader::ReadRawFrame(int32_t index, TBitmap& bitmap) {
    if (!Source || index < 0 || size_t(index) >= VideoChunks.size())
        return false;
    const int32_t stored = StoredFrameAtOrBefore(index);
    if (stored < 0 || !ReadVideoChunk(stored, FrameData))
        return false;
    // A chunk shorter than the picture is refused by the draw.
    return DrawDib.Draw(GetDibFormat(), VideoFormatTail.data(), VideoFormatTail.size(),
                        FrameData.data(), FrameData.size(), bitmap);
}

bool TAviReader::PrepareDecompressor() {
    if (Decompressor)
        return true;
    // A stream we found no decoder for is not asked again frame after frame.
    if (!DecompressorError.empty())
        return false;
    TVideoStreamFormat format;
    format.Handler = VideoStreamHeader.fccHandler;
    format.Format = GetDibFormat();
    format.Extra = VideoFormatTail.data();
    format.ExtraSize = VideoFormatTail.size();
    Decompressor = TVideoDecompressor::Open(format, &DecompressorError);
    if (!Decompressor && DecompressorError.empty())
        DecompressorError = "No decompressor";
    return Decompressor != nullptr;
}

bool TAviReader::FeedDecompressor() {
    while (size_t(NextChunk) < VideoChunks.size()) {
        const int32_t i = NextChunk++;
        // Dropped frames have nothing to decode; a chunk that cannot be read is lost, and the
        // walk notices if it was the one wanted.
        if (VideoChunks[size_t(i)].Size == 0 || !ReadVideoChunk(i, FrameData, 0))
            continue;
        Decompressor->Send(FrameData.data(), FrameData.size(), i);
        return true;
    }
    if (Decompressor->Drained())
        return false;
    Decompressor->Drain();
    return true;
}

bool TAviReader::DecompressFrame(int32_t index, TBitmap& bitmap) {
    if (!Source || index < 0 || size_t(index) >= VideoChunks.size() || bitmap.Empty())
        return false;
    const int32_t wanted = StoredFrameAtOrBefore(index);
    if (wanted < 0)
        return false;
    if (VideoFormat.biSizeImage == 0)
        VideoFormat.biSizeImage = VideoChunks[size_t(wanted)].Size;
    if (!PrepareDecompressor())
        return false;
    TVideoDecompressor::TFrameSource source;
    source.KeyAtOrBefore = [this](int64_t n) { return KeyChunkAtOrBefore(int32_t(n)); };
    source.StartAt = [this](int64_t n) {
        Decompressor->Reset();
        NextChunk = int32_t(n);
        return true;
    };
    source.Feed = [this] { return FeedDecompressor(); };
    source.Read = [this](int64_t n, std::vector<uint8_t>& bytes) {
        return VideoChunks[size_t(n)].Size != 0 && ReadVideoChunk(int32_t(n), bytes);
    };
    if (!Decompressor->SeekPicture(index, wanted, source))
        return false;
    return Decompressor->DrawPicture(DrawDib, bitmap);
}

int32_t TAviReader::KeyChunkAtOrBefore(int32_t index) const {
    // An index that marks no key frame at all is decoded from its start.
    for (int32_t i = index; i >= 0; --i) {
        const TPictInfo& p = VideoChunks[size_t(i)];
        if (p.Size != 0 && (p.Flags & AVIIF_KEYFRAME))
            return i;
    }
    return 0;
}
