// Frame decoding of TAviReader: raw frames drawn from the file, compressed ones decoded through
// the AVI file layer or through our own decompressor over the chunk index.
#include "MyAVIReader.h"

#include <algorithm>
#include <cstring>

std::array<bool, 5> DecoderOptions = {false, false, false, true, false};

void TAviReader::OpenFrameReader() {
    LastDecodedFrame = -1;
    // Raw frames are drawn straight from the file; only compressed streams need the file layer.
    // A file it refuses (our walk is more forgiving, with ids in any letter case) still opens,
    // and its frames are decoded over our own index instead.
    if (IsDIB() || !Source)
        return;
    auto reader = std::make_unique<TAVIMMIOReader>();
    if (reader->Open(*Source, FileName))
        FrameReader = std::move(reader);
}

void TAviReader::CloseFrameDecoding() {
    EndReadAhead();
    FrameReader.reset();
    Decompressor.reset();
    DecompressorError.clear();
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
    if (IsDIB()) {
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
    return viaFileLayer ? FrameReader->DrawFrame(index, bitmap) : DecompressFrame(index, bitmap);
}

void TAviReader::BeginReadAhead() {
    if (Ahead)
        return;
    Ahead = std::make_unique<TReadAhead>();
    TReadAhead* a = Ahead.get();
    a->Worker = std::make_unique<TWorkerThread>(
        [this, a] { a->Ok = DrawCompressed(a->Index, a->Picture, a->ViaFileLayer); });
}

void TAviReader::EndReadAhead() {
    if (Ahead)
        Ahead->Worker->Stop();
    Ahead.reset();
}

bool TAviReader::TakeReadAhead(int32_t index, TBitmap& target, bool viaFileLayer, bool& ok) {
    if (!Ahead)
        return false;
    TReadAhead& a = *Ahead;
    a.Worker->Wait();
    const int32_t made = a.Index;
    a.Index = -1;
    if (made != index || a.ViaFileLayer != viaFileLayer || a.Picture.Width() != target.Width() ||
        a.Picture.Height() != target.Height())
        return false;
    ok = a.Ok;
    if (ok) {
        const size_t row = size_t(target.Width()) * 3;
        for (int32_t y = 0; y < target.Height(); ++y)
            std::memcpy(target.ScanLine(y), a.Picture.ScanLine(y), row);
    }
    return true;
}

void TAviReader::ReadAheadAfter(int32_t index, const TBitmap& target, bool viaFileLayer) {
    TReadAhead& a = *Ahead;
    // A steady walk (every frame, every other one for fast motion) goes on by the same step;
    // anything else guesses the next frame.
    const int32_t step = index - a.LastAsked;
    a.LastAsked = index;
    const int32_t next = index + (step >= 1 && step <= 4 ? step : 1);
    // Past the end the file layer paints the target's own brush; such frames are not guessed.
    int32_t count = int32_t(VideoChunks.size());
    if (viaFileLayer)
        count = std::min(count, FrameReader->GetFrameCount());
    if (next >= count)
        return;
    if (a.Picture.Width() != target.Width() || a.Picture.Height() != target.Height())
        a.Picture.SetSize(target.Width(), target.Height());
    // Callers read the format while the worker decodes; it must not change it then.
    const int32_t stored = StoredFrameAtOrBefore(next);
    if (!viaFileLayer && VideoFormat.biSizeImage == 0 && stored >= 0)
        VideoFormat.biSizeImage = VideoChunks[size_t(stored)].Size;
    a.Index = next;
    a.ViaFileLayer = viaFileLayer;
    a.Worker->Run();
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

    int32_t key = wanted;
    if (!Decompressor->IntraOnly()) {
        // An index that marks no key frame at all is decoded from its start.
        key = 0;
        for (int32_t i = wanted; i >= 0; --i) {
            const TPictInfo& p = VideoChunks[size_t(i)];
            if (p.Size != 0 && (p.Flags & AVIIF_KEYFRAME)) {
                key = i;
                break;
            }
        }
    }

    const int64_t at = Decompressor->PictureNo();
    if (at != wanted) {
        // Going on from the current picture costs no more than starting again at the key
        // frame, as long as it lies no earlier than the frame before that key.
        const bool goOn = at >= 0 && at < wanted && at >= key - 1 && !Decompressor->Drained();
        if (!goOn) {
            Decompressor->Reset();
            NextChunk = key;
        }
        if (!Decompressor->DecodeUntil(wanted, [this] { return FeedDecompressor(); })) {
            Decompressor->Reset();
            return false;
        }
    }
    return Decompressor->DrawPicture(DrawDib, bitmap);
}
