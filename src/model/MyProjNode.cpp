#include "MyProjNode.h"

#include "IUiServices.h"
#include "MyAddOnManager.h"
#include "MyLocalMovieInterface.h"
#include "MyValueStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyCommonServices.h"
#include "MyFileReplace.h"
#include "MyMovieWriter.h"
#include "MyRiffIO.h"
#include "MySubProjectNode.h"
#include "MyWavStreaming.h"
#include "MyWavWriter.h"

const TVideoSize VideoSizes[7] = {
    {0, "Custom", 320, 240},
    {10, "DV NTSC 720 x 480 pixels", 720, 480},
    {20, "DV PAL 720 x 576 pixels", 720, 576},
    {30, "Large AVI 640 x 480 pixels", 640, 480},
    {40, "VCD/SVCD 352 x 240 pixels", 352, 240},
    {50, "Common AVI 320 x 240 pixels", 320, 240},
    {60, "Internet 180 x 120 pixels", 180, 120},
};

const TFPSSize FPSSizes[5] = {
    {0, "Custom", 15.0L},
    {10, "Standard for NTSC", 29.97L},
    {20, "Standard for PAL", 25.0L},
    {30, "Standard for MPEG", 24.0L},
    {40, "Simple (internet)", 15.0L},
};

TCustomProjectNode::TCustomProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(nullptr, caption, item) {
    Project = this;
    Kind = nkProject;
    SaveFileName = false;
    // Mono until New sets the project's own format.
    MakePcmFormat(AudioFormat, 22050, 1, 16);
    AudioFormat.Wfx.cbSize = 0;
    OutputBitmap = std::make_unique<TBitmap>();

    AddOnManager = std::make_unique<TAddOnManager>();
}

TCustomProjectNode::~TCustomProjectNode() {
    // Children go while the root is still whole: their destructors report to it.
    FreeChildren();
}

void TCustomProjectNode::GetFrameRect(TRectI& rect) {
    rect = TRectI{0, 0, Width, Height};
}

void TCustomProjectNode::ForgetNode(TTreeNodeData* node) {
    if (EditedNode == node)
        EditedNode = nullptr;
}

Extended TCustomProjectNode::SnapTime(Extended t) const {
    const Extended fps = GetFrameRate();
    if (fps == 0)
        return 0;
    Extended r = static_cast<Extended>(Round64(t * fps)) / fps;
    return r < 0 ? 0 : r;
}

int32_t TCustomProjectNode::FrameSamples(int32_t frame) const {
    try {
        return FrameSampleCount(frame, AudioFormat.Wfx.nSamplesPerSec, FrameRate);
    } catch (const EIntOverflow&) {
        return 0; // a frame rate so low that one frame's sound can not be held
    }
}

// ---- movie interfaces ---------------------------------------------------------------------------

TMovieInterface* TCustomProjectNode::CreateMovieInterface(TCustomExtern* owner) {
    MovieInterfaces.push_back(std::make_unique<TLocalMovieInterface>(owner, Ui));
    return MovieInterfaces.back().get();
}

void TCustomProjectNode::SetMovieInterfacesReadAhead(bool on) {
    for (auto& m : MovieInterfaces)
        m->SetReadAhead(on);
}

void TCustomProjectNode::FreeMovieInterface(TMovieInterface* intf) {
    for (size_t i = MovieInterfaces.size(); i-- > 0;)
        if (MovieInterfaces[i].get() == intf) {
            MovieInterfaces.erase(MovieInterfaces.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
}

// ---- project file -------------------------------------------------------------------------------

int32_t TCustomProjectNode::FormatVersionRead = 0;

namespace {
const char* const FileSignature = "Brenmo";
constexpr int32_t FileFormatVersion = 2004002;
const char* const ProgramVersionText = "1.54";

} // namespace

void TCustomProjectNode::WriteAfter(TValueWriter& w) const {
    TCustomFolderNode::WriteAfter(w); // clip range
    w.WriteInteger(ReservedByte);
    w.WriteFloat(FrameRate);
    w.WriteInteger(Width);
    w.WriteInteger(Height);
    w.WriteBoolean(AudioOn);
    w.WriteInteger(SizePresetId);
    w.WriteInteger64(AudioMode);
    w.WriteInteger(RatePresetId);
    w.WriteFloat(ReservedValues[0]);
    w.WriteFloat(ReservedValues[1]);
    w.WriteInteger(AudioFormat.Wfx.wFormatTag);
    w.WriteInteger(AudioFormat.Wfx.nChannels);
    w.WriteInteger64(AudioFormat.Wfx.nSamplesPerSec);
    w.WriteInteger(AudioFormat.Wfx.wBitsPerSample);
    w.WriteInteger64(VideoFourCC); // above 2^31 with the 64-bit tag
    w.WriteString(CompressorName);
    w.WriteBoolean(WMOutput);
    w.WriteString(WMProfile);
}

void TCustomProjectNode::ReadAfter(TValueReader& r) {
    TCustomFolderNode::ReadAfter(r);
    ReservedByte = r.ReadInteger();
    size_t at = r.GetPosition();
    const Extended fps = ReadFiniteFloat(r);
    if (fps < 0 || fps > MaxFrameRate)
        r.Fail("Invalid frame rate", at);
    // Each side is reported where it stands.
    auto side = [&r] {
        const size_t sideAt = r.GetPosition();
        const int32_t v = r.ReadInteger();
        if (v < 0 || v > MaxFrameSide)
            r.Fail("Invalid frame size", sideAt);
        return v;
    };
    const int32_t w = side();
    const int32_t h = side();
    FrameRate = fps;
    Width = w;
    Height = h;
    AudioOn = r.ReadBoolean();
    SizePresetId = r.ReadInteger();
    at = r.GetPosition();
    AudioMode = r.ReadInteger64();
    if (AudioMode < 0 || AudioMode > 0xFFFF)
        r.Fail("Invalid audio mode", at);
    RatePresetId = r.ReadInteger();
    ReservedValues[0] = ReadFiniteFloat(r);
    ReservedValues[1] = ReadFiniteFloat(r);
    auto field16 = [&r](const std::string& what) {
        const size_t at = r.GetPosition();
        const int32_t v = r.ReadInteger();
        if (v < 0 || v > 0xFFFF)
            r.Fail("Invalid " + what, at);
        return static_cast<uint16_t>(v);
    };
    AudioFormat.Wfx.wFormatTag = field16("audio format tag");
    AudioFormat.Wfx.nChannels = field16("channel count");
    at = r.GetPosition();
    const int64_t rate = r.ReadInteger64();
    if (rate < 0 || rate > MaxSampleRate)
        r.Fail("Invalid sample rate", at);
    AudioFormat.Wfx.nSamplesPerSec = static_cast<uint32_t>(rate);
    AudioFormat.Wfx.wBitsPerSample = field16("sample width");
    // Block align and byte rate are not stored; they follow from the rest.
    AudioFormat.Wfx.nBlockAlign = CheckedCast<uint16_t>(
        CheckedMul<uint32_t>(AudioFormat.Wfx.wBitsPerSample / 8, AudioFormat.Wfx.nChannels));
    AudioFormat.Wfx.nAvgBytesPerSec =
        CheckedMul<uint32_t>(AudioFormat.Wfx.nBlockAlign, AudioFormat.Wfx.nSamplesPerSec);
    // Handler codes of 2^31 and above come with the 64-bit tag; older writers stored them as
    // negative 32-bit integers.
    at = r.GetPosition();
    const int64_t fourCC = r.ReadInteger64();
    if (fourCC < std::numeric_limits<int32_t>::min() || fourCC > 0xFFFFFFFFLL)
        r.Fail("Invalid video compressor", at);
    VideoFourCC = static_cast<uint32_t>(fourCC);
    CompressorName = r.ReadString();
    WMOutput = r.ReadBoolean();
    WMProfile = r.ReadString();
}

void TCustomProjectNode::SaveToStream(std::vector<uint8_t>& stream) const {
    stream.clear();
    TValueWriter w(stream);
    w.WriteString(FileSignature);
    w.WriteInteger(FileFormatVersion);
    w.WriteString(ProgramVersionText);
    SaveToWriter(w);
}

bool TCustomProjectNode::LoadFromStream(const std::vector<uint8_t>& stream) {
    TValueReader r(stream.data(), stream.size(), FileName);
    std::string signature;
    try {
        signature = r.ReadString();
    } catch (const Exception&) {
    }
    // A file of another kind normally fails with a read error soon after; one that only lost
    // its signature still opens.
    if (signature != FileSignature && Ui)
        Ui->ShowMessage("File format is unknown", TMsgKind::Error);
    FormatVersionRead = r.ReadInteger();
    std::string programVersion = r.ReadString();
    if (FormatVersionRead > FileFormatVersion) {
        if (Ui)
            Ui->ShowMessage("You need to get the newer version of this program to read this file. "
                            "\nThe program version should be at least " +
                                programVersion,
                            TMsgKind::Error);
        return false;
    }
    // The file's tree replaces the current one.
    DeleteChildren();
    try {
        LoadFromReader(r);
    } catch (...) {
        // Nothing half-read survives a failed load.
        FreeChildren();
        throw;
    }
    return true;
}

// ---- file level ---------------------------------------------------------------------------------

namespace {
// Writes bytes as the whole of a new file; false with the system's reason. A full disk may show
// only when the buffered tail is flushed, so the close is checked as well.
bool WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes, std::string& why) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(f) == 0;
    if (written && closed)
        return true;
    why = std::strerror(written ? errno : writeError);
    return false;
}
} // namespace

bool TCustomProjectNode::LoadFromFile(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    switch (ReadRegularFile(fileName, MaxProjectFileBytes, bytes)) {
    case TReadFileResult::Ok:
        break;
    case TReadFileResult::NotAFile:
        // A missing file is the caller's to report; a FIFO or a device is never waited on.
        if (!FileExists(fileName))
            return false;
        throw EReadError("Not a regular file", fileName);
    case TReadFileResult::TooLarge:
        throw EReadError("The file is larger than " + std::to_string(MaxProjectFileBytes >> 20) +
                             " MB and cannot be a project",
                         fileName);
    default:
        throw EReadError("Can not read " + fileName, fileName);
    }
    // Sub-projects compare their files with the one being opened; the name stays only when the
    // whole file was read.
    const std::string previous = FileName;
    FileName = fileName;
    bool ok = false;
    try {
        ok = LoadFromStream(bytes);
    } catch (...) {
        FileName = previous;
        throw;
    }
    if (!ok)
        FileName = previous;
    return ok;
}

bool TCustomProjectNode::SaveToFile(const std::string& fileName) {
    if (fileName.empty())
        return false;
    // A sub-project that leads back to the file would make it contain itself: such a pair of
    // files never opens whole again.
    if (const std::string cycle = TSubProjectNode::SaveCycleText(this, fileName); !cycle.empty()) {
        if (Ui)
            Ui->ShowMessage(cycle, TMsgKind::Error);
        return false;
    }
    FileName = fileName;
    std::vector<uint8_t> bytes;
    SaveToStream(bytes);
    // Write next to the old file and swap only once the new one is complete and on disk, so a
    // failure (full disk, no permission, a crash) leaves the previous project intact.
    TFileReplacement replacement(fileName, ".~sav");
    std::string why;
    bool ok = WriteBytes(replacement.TempName(), bytes, why);
    if (ok && !replacement.Commit()) {
        why = replacement.ErrorText();
        ok = false;
    }
    if (!ok) {
        replacement.Abandon();
        // The system's reason, as an export gives it: a read-only folder and a full disk call
        // for different remedies.
        if (Ui)
            Ui->ShowMessage("Can not save " + fileName + " (" + why + ")", TMsgKind::Error);
        return false;
    }
    return true;
}

// ---- TProjectNode -------------------------------------------------------------------------------

TProjectNode::TProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomProjectNode(caption, item) {
    New();
    SaveToStream(FreshImage);
    ImageIndex = 0;
    if (Item)
        Item->SetImageIndex(0);
}

TProjectNode::~TProjectNode() {
    Abort = true;
    WavWriter.reset();
    MovieWriter.reset();
    // Wave-output threads are stopped and waited for; nothing pumps messages here.
    StopStreamer();
    Streamer.reset();
    {
        std::lock_guard<std::mutex> lock(ThreadListLock);
        for (auto& t : ThreadList)
            t->Stop();
    }
    for (;;) {
        std::unique_ptr<TPassiveStreamer> last;
        {
            std::lock_guard<std::mutex> lock(ThreadListLock);
            if (ThreadList.empty())
                break;
            last = std::move(ThreadList.back());
            ThreadList.pop_back();
        }
    }
    // Children go first, while everything they may reach is still here.
    FreeChildren();
    VideoTrack = nullptr;
}

void TProjectNode::DeleteChildren() {
    TCustomProjectNode::DeleteChildren();
    VideoTrack = nullptr;
}

void TProjectNode::New() {
    DeleteChildren();
    FileName.clear();
    MissingFileName.clear();
    SizePresetId = 50;
    RatePresetId = 40;
    FrameRate = 15.0L;
    Width = 320;
    Height = 240;
    AudioMode = 1;
    ReservedByte = 0;
    ReservedValues[0] = 0.5L;
    ReservedValues[1] = 0.0L;
    VideoFormatFixed = false;
    AudioFormatFixed = false;
    Description.clear();
    Pegs->Clear();
    // The uncompressed entry is chosen; the stored handler code stays as it was.
    if (Ui) {
        GetAviCompress().SelectCompressor(0);
        CompressorName = GetAviCompress().GetDescription();
    } else {
        CompressorName = "Uncompressed 24bits DIB";
    }
    MakePcmFormat(AudioFormat, 22050, 2, 16);
    OutputBitmap->SetSize(Width, Height);
    Target = tgPreview;
    if (Item)
        Item->SetText("New Project");
    if (!VideoTrack)
        VideoTrack = static_cast<TQueueFolder*>(AddNode("Video track", amLastChild, nkVideoTrack));
    Changed();
}

TQueueFolder* TProjectNode::FindVideoTrack() const {
    for (int i = 0; i < GetChildCount(); ++i)
        if (auto* q = dynamic_cast<TQueueFolder*>(GetChild(i)))
            return q;
    return nullptr;
}

namespace {
// The load message for a failure: what went wrong and, for a read error, the byte offset.
std::string LoadFailure(const std::string& fileName, const std::string& why, int64_t offset) {
    std::string text = "Can not open " + fileName + ": " + why;
    if (offset >= 0)
        text += " at offset " + std::to_string(offset);
    return text;
}
} // namespace

bool TProjectNode::LoadFromFile(const std::string& fileName) {
    std::string why;
    try {
        if (TCustomProjectNode::LoadFromFile(fileName))
            return TakeLoadedProject();
        why = "Can not open " + fileName;
    } catch (const EReadError& e) {
        why = LoadFailure(fileName, e.GetMessage(), e.Offset);
    } catch (const Exception& e) {
        why = LoadFailure(fileName, e.GetMessage(), -1);
    } catch (const std::bad_alloc&) {
        why = LoadFailure(fileName, "out of memory", -1);
    } catch (const std::exception& e) {
        why = LoadFailure(fileName, e.what(), -1);
    }
    // A failed load leaves a clean new project, never part of the file.
    LoadMessages.Add(why);
    ResetToNew();
    return false;
}

bool TProjectNode::TakeLoadedProject() {
    VideoTrack = FindVideoTrack();
    Refresh();
    const Extended frames = GetDuration() * GetFrameRate();
    if (!(frames <= Extended(MaxFrameCount)))
        throw EReadError("The project runs longer than " + std::to_string(MaxFrameCount) +
                         " frames");
    if (Ui) {
        // The stored compressor may not be installed here: say so and export with the default
        // one, keeping the stored choice in the file.
        TAviCompress& compress = GetAviCompress();
        const bool installed = compress.FindCompressor(VideoFourCC) >= 0;
        compress.SelectCompressor(installed ? VideoFourCC : 0);
        if (compress.GetFourCC() != VideoFourCC)
            Ui->ShowMessage("The selected project video compressor \"" + CompressorName +
                                "\" is not available in this system.\nVideo compressor is set "
                                "to default",
                            TMsgKind::Warning);
    }
    VideoFormatFixed = true;
    ResolvePendingPegs();
    return true;
}

void TProjectNode::ResetToNew() {
    // New leaves some stored root fields alone (sound on, Windows Media output, the compressor
    // code, the root's own flags and curves); they come back from the project as constructed.
    try {
        LoadFromStream(FreshImage);
    } catch (...) {
        // Only memory can fail here; New below still gives an empty project.
    }
    New();
    Refresh();
}

bool TProjectNode::IsModified() {
    if (GetDuration() <= 0)
        return false;
    std::error_code ec;
    if (FileName.empty() || !std::filesystem::is_regular_file(FileName, ec))
        return true;
    std::vector<uint8_t> now, stored;
    SaveToStream(now);
    if (ReadRegularFile(FileName, MaxProjectFileBytes, stored) != TReadFileResult::Ok)
        return true;
    return now != stored;
}

bool TProjectNode::Clear() {
    DeleteChildren();
    Pegs->Clear();
    FileName.clear();
    return true;
}

TTreeNodeData* TProjectNode::AddChild(int mode, uint8_t kind, ITreeItem* parentItem,
                                      const std::string& name) {
    auto* parent = parentItem ? static_cast<TTreeNodeData*>(parentItem->GetData()) : this;
    if (!parent)
        parent = this;
    return parent->AddNode(name, mode, kind);
}

void TProjectNode::DeleteNode(ITreeItem* item) {
    auto* node = item ? static_cast<TTreeNodeData*>(item->GetData()) : nullptr;
    if (!node || node == this)
        return;
    if (node == VideoTrack)
        VideoTrack = nullptr;
    if (TTreeNodeData* parent = node->GetParent())
        parent->DeleteChild(node);
    Refresh();
}

void TProjectNode::DiscardNode(TTreeNodeData*& node) {
    if (!node)
        return;
    if (node == VideoTrack)
        VideoTrack = nullptr;
    if (TTreeNodeData* parent = node->GetParent())
        parent->DeleteChild(node);
    node = nullptr;
    Refresh();
}

void TProjectNode::SetVideoFormat(int32_t width, int32_t height, Extended fps) {
    if (fps == 0 || width == 0 || height == 0)
        return;
    // What the project file cannot hold is not taken either.
    if (!(fps > 0 && fps <= MaxFrameRate) || width < 0 || height < 0 || width > MaxFrameSide ||
        height > MaxFrameSide)
        return;
    Width = width;
    Height = height;
    FrameRate = fps;
    OutputBitmap->SetSize(Width, Height);
    VideoFormatFixed = true;
    Refresh();
}

void TProjectNode::SetBackgroundColor(uint32_t color) {
    BackgroundColor = color;
    if (TBitmap* b = GetOutputBitmap()) {
        b->Canvas().Brush.Color = color;
        b->Canvas().Brush.Style = bsSolid;
        b->Canvas().FillRect(Rect(0, 0, b->Width(), b->Height()));
    }
}

int32_t TProjectNode::GetFrameCount() {
    const Extended fps = GetFPS();
    if (fps == 0)
        return 0;
    // Durations typed in or taken from media can outrun the count; it stays at its ceiling
    // (a project file that long is refused when it is opened).
    const Extended frames = GetDuration() * fps;
    if (!(frames < Extended(MaxFrameCount)))
        return MaxFrameCount;
    if (!(frames > -Extended(MaxFrameCount)))
        return -MaxFrameCount;
    return Round(frames);
}

Extended TProjectNode::FrameTime(int32_t frame) {
    const Extended fps = GetFPS();
    if (fps == 0)
        return 0;
    Extended t = static_cast<Extended>(frame) / fps;
    const Extended d = GetDuration();
    return t > d ? d : t;
}

TBitmap* TProjectNode::GetOutputBitmap() {
    switch (Target) {
    case tgPreview:
    case tgWavWriter:
        return OutputBitmap.get();
    case tgMovieWriter:
        return GetMovieWriter().GetBitmap();
    default:
        return nullptr;
    }
}

void TProjectNode::Refresh() {
    FolderDuration = 0;
    NaturalDuration = 0;
    SetBackgroundColor(BackgroundColor);
    if (OutputBitmap->Width() != Width || OutputBitmap->Height() != Height) {
        OutputBitmap->SetSize(Width, Height);
        SetBackgroundColor(BackgroundColor);
    }
    ResetLinks();
    Calculate();
    Layout(0.0L);
    UpdateImageIndexes();
}

static void ForEachNode(TTreeNodeData* n, const std::function<void(TTreeNodeData*)>& fn) {
    fn(n);
    for (int i = 0; i < n->GetChildCount(); ++i)
        ForEachNode(n->GetChild(i), fn);
}

void TProjectNode::UpdateImageIndexes() {
    const int half = TreeImageCount / 2;
    for (int i = 0; i < GetChildCount(); ++i)
        ForEachNode(GetChild(i), [half](TTreeNodeData* n) {
            if (n->Item)
                n->Item->SetImageIndex(n->ImageIndex + (n->GetSealed() ? half : 0));
        });
}

TTreeNodeData* TProjectNode::GetActiveNode() const {
    TTreeNodeData* found = nullptr;
    for (int i = 0; i < GetChildCount() && !found; ++i)
        ForEachNode(GetChild(i), [&found, this](TTreeNodeData* n) {
            if (!found && n->Active && n != VideoTrack)
                found = n;
        });
    return found;
}

void TProjectNode::SetActiveNode(TTreeNodeData* node) {
    for (int i = 0; i < GetChildCount(); ++i)
        ForEachNode(GetChild(i), [](TTreeNodeData* n) { n->Active = false; });
    if (node && node->GetTreeLevel() != 0)
        node->Active = true;
    if (OnActiveNode)
        OnActiveNode(node);
}

bool TProjectNode::Stop() {
    // No message pump here: Stop is called from inside event handlers and loops that pump.
    Abort = true;
    StopStreamer();
    return !Busy;
}

bool TProjectNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    UpdateCurves(t);
    return TCustomProjectNode::RenderFrame(bitmap, wantAudio, wantVideo, t);
}

bool TProjectNode::RenderPreview(int32_t frame, TCanvas& canvas, const TRect& rect,
                                 const TFrameCallback& onReport) {
    if (GetFPS() == 0)
        return false;
    Target = tgPreview;
    Busy = true;
    auto idle = MakeScopeExit([this] { Busy = false; });
    CurrentTime = FrameTime(frame);
    TBitmap* out = GetOutputBitmap();
    if (!RenderFrame(out, false, true, CurrentTime))
        return false;
    canvas.StretchDraw(rect, *out);
    if (onReport) {
        TFrameReport report;
        report.Frame = frame;
        report.Preview = true;
        onReport(report);
    }
    return true;
}

void TCustomProjectNode::SetOriginalImage(TPictureControl* control) {
    OriginalImage = control;
    std::function<void(TTreeNodeData*)> walk = [&](TTreeNodeData* n) {
        if (auto* m = dynamic_cast<TMasterNode*>(n))
            m->SourceFrameControl = control;
        for (int i = 0; i < n->GetChildCount(); ++i)
            walk(n->GetChild(i));
    };
    walk(this);
}
