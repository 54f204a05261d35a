#include "MyAVICompress.h"
#include "MyCommonParams.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "MyExceptions.h"
#include "MyMovieWriter.h"
#include "MyYuvPicture.h"

namespace {

constexpr int32_t MaxNameChars = 15;
constexpr int32_t MaxDescriptionChars = 127;

// The first maxChars characters of UTF-8 text (a cut never splits a character).
std::string CutChars(const std::string& s, int32_t maxChars) {
    size_t i = 0;
    for (int32_t n = 0; i < s.size(); ++n) {
        if (n == maxChars)
            return s.substr(0, i);
        ++i;
        while (i < s.size() && (uint8_t(s[i]) & 0xC0) == 0x80)
            ++i;
    }
    return s;
}

// Codes a frame from its planes when it still holds them and the encoder takes them, else from
// its rows.
int32_t CompressBitmap(IVideoCompressor& encoder, const TBitmap& bitmap, bool keyFrame,
                       TCompressedFrame& out) {
    const TYuvPicture* planes = encoder.TakesPlanes() ? bitmap.HeldPlanes() : nullptr;
    return planes ? encoder.CompressPlanes(*planes, keyFrame, out)
                  : encoder.Compress(bitmap.Bits(), bitmap.RowBytes(), keyFrame, out);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(uint8_t(c)));
    return s;
}

} // namespace

TAviCompress::TAviCompress(IUiServices& ui, IVideoCompressorList& compressors)
    : Ui(ui), Compressors(compressors) {
    BuildList();
}

TAviCompress::~TAviCompress() {
    EndCompress();
    CloseCompressor();
}

void TAviCompress::CloseCompressor() {
    Open.reset();
}

void TAviCompress::BuildList() {
    EndCompress();
    CloseCompressor();
    List.clear();
    SelectedIndex = -1;

    auto uncompressed = std::make_unique<TVideoCompressorInfo>();
    uncompressed->Name = CutChars(UncompressedName, MaxNameChars);
    uncompressed->Description = CutChars(UncompressedDescription, MaxDescriptionChars);
    List.push_back(std::move(uncompressed));
    SelectedIndex = 0;

    TVideoCompressorInfo info;
    for (int32_t i = 0; Compressors.GetInfo(0, i, info); ++i) {
        auto record = std::make_unique<TVideoCompressorInfo>(info);
        const std::string handler = Lower(FourCCToText(record->Handler));
        if (handler == "hfyu")
            continue; // lossless YUV: far too large for an export
        if (handler == "divx") {
            record->Description = "DivX";
        } else {
            auto query =
                Compressors.Open(record->Type, record->Handler, TVideoCompressorMode::Query);
            if (!query)
                continue;
            query->GetInfo(*record);
            record->Name = CutChars(record->Name, MaxNameChars);
            record->Description = CutChars(record->Description, MaxDescriptionChars);
            const std::string desc = Lower(record->Description);
            if (TrimText(desc).empty() || desc.find("yuv") != std::string::npos ||
                desc.find("h.") != std::string::npos || desc.find("rle") != std::string::npos)
                continue;
        }
        List.push_back(std::move(record));
    }
}

bool TAviCompress::FillCompressorList(std::vector<TCompressorListItem>& strings) {
    if (Begun)
        return false;
    BuildList();
    strings.clear();
    for (const auto& record : List)
        strings.push_back({record->Description, record.get()});
    return true;
}

const TVideoCompressorInfo* TAviCompress::Selected() const {
    return SelectedIndex >= 0 ? List[size_t(SelectedIndex)].get() : nullptr;
}

bool TAviCompress::SelectCompressor(uint32_t fourCC) {
    if (Selected() && Selected()->Handler == fourCC)
        return true;
    // The running export keeps its encoder to the end.
    if (Begun)
        return false;
    CloseCompressor();
    const int32_t found = FindCompressor(fourCC);
    SelectedIndex = std::max(found, 0);
    if (found < 0) {
        // Exporting uncompressed is no answer to a choice of something else: the caller and
        // the user hear of it.
        Ui.ShowMessage("The video compressor \"" + FourCCToText(fourCC) +
                           "\" is not available in this system.",
                       TMsgKind::Error);
        return false;
    }
    const TVideoCompressorInfo& record = *List[size_t(SelectedIndex)];
    if (record.Handler == 0)
        return true;
    Open = Compressors.Open(record.Type, record.Handler, TVideoCompressorMode::Compress);
    if (!Open) {
        Ui.ShowMessage("Fail to initiate the video compressor", TMsgKind::Error);
        return false;
    }
    return true;
}

int32_t TAviCompress::FindCompressor(uint32_t fourCC) const {
    for (size_t i = 0; i < List.size(); ++i)
        if (List[i]->Handler == fourCC)
            return int32_t(i);
    return -1;
}

uint32_t TAviCompress::GetFourCC() const {
    return Selected() ? Selected()->Handler : 0;
}

std::string TAviCompress::GetDescription() const {
    return Selected() ? Selected()->Description : std::string();
}

int32_t TAviCompress::GetSelectedIndex() const {
    return SelectedIndex;
}

bool TAviCompress::HasAboutBox() const {
    return Open && !Open->GetAboutText().empty();
}

bool TAviCompress::ShowAboutBox() {
    if (!Open)
        return true;
    const std::string text = Open->GetAboutText();
    if (text.empty())
        return false;
    Ui.ShowMessage(text, TMsgKind::Information);
    return true;
}

bool TAviCompress::Prepare(TAviCompressParams& params) {
    DropSlots();
    Begun = false;
    const TVideoCompressorInfo* selected = Selected();
    if (!selected)
        return false;
    // Frames are rendered into a 24-bit bitmap; nothing else is produced.
    if (params.PixelFormat != pf24bit || params.Width <= 0 || params.Height <= 0)
        return false;
    PixelFormat = params.PixelFormat;
    PreparedWidth = params.Width;
    PreparedHeight = params.Height;
    TDIBBitmap& current = Render;
    current.SetSize(params.Width, params.Height);
    current.AllowPlanes(false);

    TBitmapInfoHeader& f = params.VideoFormat;
    std::memset(&f, 0, sizeof(f));
    f.biSize = sizeof(TBitmapInfoHeader);
    f.biWidth = params.Width;
    f.biHeight = params.Height;
    f.biPlanes = 1;

    if (selected->Handler == 0) {
        f.biBitCount = 24;
        f.biCompression = BI_RGB;
        // Rows of a DIB are padded to 4 bytes: the frames written are this large.
        current.SetDIBSize(params.Width, params.Height, pf24bit);
        f.biSizeImage = current.GetImageSize();
        Begun = true;
        return true;
    }
    if (!Open)
        return false;
    TVideoCompressFormat format;
    format.Width = params.Width;
    format.Height = params.Height;
    format.FrameRate = params.FrameRate;
    format.KeyRate = Round(params.FrameRate);
    format.FrameCount = params.FrameCount;
    TVideoOutputFormat out;
    if (!Open->Begin(format, out)) {
        Open->End();
        return false;
    }
    f.biWidth = out.Width;
    f.biHeight = out.Height;
    f.biBitCount = out.BitCount;
    f.biCompression = out.Compression;
    f.biSizeImage = out.ImageSize;
    if (EncodeThreads > 1 && !PrepareSlots(format)) {
        DropSlots();
        Open->End();
        return false;
    }
    // A movie frame drawn over nothing goes to the encoder as its decoder left it.
    current.AllowPlanes(Open->TakesPlanes());
    Begun = true;
    return true;
}

bool TAviCompress::PrepareSlots(const TVideoCompressFormat& format) {
    // Frames that stand alone code on as many encoders as threads; any other encoder carries
    // state from frame to frame, so it codes them one after the other.
    const int count = Open->IndependentFrames() ? EncodeThreads : 1;
    const TVideoCompressorInfo& record = *Selected();
    Oldest = 0;
    Queued = 0;
    for (int i = 0; i < count; ++i) {
        auto slot = std::make_unique<TEncodeSlot>();
        slot->Bitmap.SetSize(format.Width, format.Height);
        slot->Encoder = Open.get();
        if (i > 0) {
            slot->Own =
                Compressors.Open(record.Type, record.Handler, TVideoCompressorMode::Compress);
            TVideoOutputFormat out;
            if (!slot->Own || !slot->Own->Begin(format, out))
                return false;
            slot->Encoder = slot->Own.get();
        }
        TEncodeSlot* s = slot.get();
        slot->Worker = std::make_unique<TWorkerThread>(
            [s] { s->Result = CompressBitmap(*s->Encoder, s->Bitmap, s->KeyRequest, s->Out); });
        Slots.push_back(std::move(slot));
    }
    return true;
}

void TAviCompress::DropSlots() {
    // The render bitmap's pixels become its own before the slots go.
    Render.Settle();
    // Frames still on the workers are dropped with the compression; each worker ends with its
    // slot.
    Slots.clear();
    Queued = 0;
}

bool TAviCompress::FitsPrepared(const TBitmap& bitmap) const {
    // The encoder reads the frame at the size it was prepared for.
    return bitmap.Width() == PreparedWidth && bitmap.Height() == PreparedHeight;
}

void TAviCompress::TakeEncoded(int32_t result, const TCompressedFrame& out, int32_t frameNumber,
                               TDIBBitmap& bitmap, TVideoFrameInfo& frame) {
    if (result != 0)
        throw Exception("Fail to compress frame " + std::to_string(frameNumber) +
                        " Error code: " + std::to_string(result));
    Ui.ProcessMessages();
    frame.Bitmap = &bitmap;
    frame.Size = int32_t(out.Size);
    frame.Data = out.Data;
    frame.Flags = out.Flags;
}

bool TAviCompress::QueueFrame(const TVideoFrameInfo& frame) {
    if (!CanQueue() || Queued == QueueDepth() || !FitsPrepared(Render))
        return false;
    TEncodeSlot& slot = *Slots[size_t((Oldest + Queued) % QueueDepth())];
    // The frame moves to the slot whole; the render bitmap still reads as that frame, so that
    // the next frame is drawn over it, but the copy is only made if the next frame touches
    // pixels before it replaces them all (a decoded movie frame replaces them without a copy).
    slot.Bitmap.TakePixelsOf(Render);
    // The worker must not change the slot's bitmap while a copy owed of it may be made here.
    if (!slot.Encoder->TakesPlanes())
        slot.Bitmap.Settle();
    Render.OweCopyOf(slot.Bitmap);
    slot.FrameNumber = frame.FrameNumber;
    slot.KeyRequest = frame.KeyRequest;
    slot.Worker->Run();
    ++Queued;
    return true;
}

bool TAviCompress::FinishFrame(TVideoFrameInfo& frame) {
    if (Queued == 0)
        return false;
    TEncodeSlot& slot = *Slots[size_t(Oldest)];
    Oldest = (Oldest + 1) % QueueDepth();
    --Queued;
    slot.Worker->Wait();
    TakeEncoded(slot.Result, slot.Out, slot.FrameNumber, slot.Bitmap, frame);
    return true;
}

bool TAviCompress::CompressFrame(TVideoFrameInfo& frame) {
    if (!Begun || Queued > 0)
        return false;
    TDIBBitmap& current = Render;
    if (!FitsPrepared(current))
        return false;
    if (!Open) {
        // The bottom-up copy of the rendered frame is the stored frame.
        if (!current.UpdateDIB())
            return false;
        frame.Data = current.GetBitsPtr();
        frame.Size = int32_t(current.GetImageSize());
        frame.Bitmap = &current;
        return true;
    }
    TCompressedFrame out;
    const int32_t r = CompressBitmap(*Open, current, frame.KeyRequest, out);
    TakeEncoded(r, out, frame.FrameNumber, current, frame);
    return true;
}

bool TAviCompress::EndCompress() {
    // The workers end with the compression.
    DropSlots();
    Render.AllowPlanes(false);
    if (!Begun)
        return false;
    if (Open)
        Open->End();
    Begun = false;
    return true;
}
