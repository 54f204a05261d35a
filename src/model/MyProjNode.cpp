#include "MyProjNode.h"

#include "IUiServices.h"
#include "MyAddOnManager.h"
#include "MyValueStream.h"

TCustomProjectNode::TCustomProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(nullptr, caption, item) {
    Project = this;
    Kind = nkProject;
    SaveFileName = false;
    MakePcmFormat(AudioFormat, 22050, 2, 16);

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
    if (ActiveNode == node) ActiveNode = nullptr;
    if (EditedNode == node) EditedNode = nullptr;
}

void TCustomProjectNode::SetActiveNode(TTreeNodeData* node) {
    if (node && node->GetTreeLevel() <= 0) node = nullptr;
    if (ActiveNode) ActiveNode->Active = false;
    ActiveNode = node;
    if (ActiveNode) ActiveNode->Active = true;
}

TProjectNode::TProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomProjectNode(caption, item) {}

Extended TCustomProjectNode::SnapTime(Extended t) const {
    const Extended fps = GetFrameRate();
    if (fps == 0) return 0;
    Extended r = static_cast<Extended>(Round64(t * fps)) / fps;
    return r < 0 ? 0 : r;
}

// ---- project file -------------------------------------------------------------------------------

int32_t TCustomProjectNode::FormatVersionRead = 0;

namespace {
const char* const FileSignature = "Brenmo";
constexpr int32_t FileFormatVersion = 2004002;
const char* const ProgramVersionText = "1.54";
constexpr int32_t MaxFrameSide = 16384;
} // namespace

void TCustomProjectNode::WriteAfter(TValueWriter& w) const {
    TCustomFolderNode::WriteAfter(w); // clip range
    w.WriteInteger(0);                // reserved byte
    w.WriteFloat(FrameRate);
    w.WriteInteger(Width);
    w.WriteInteger(Height);
    w.WriteBoolean(AudioOn);
    w.WriteInteger(SizePresetId);
    w.WriteInteger64(AudioMode);
    w.WriteInteger(RatePresetId);
    w.WriteFloat(0.5L); // reserved
    w.WriteFloat(0.0L); // reserved
    w.WriteInteger(AudioFormat.Wfx.wFormatTag);
    w.WriteInteger(AudioFormat.Wfx.nChannels);
    w.WriteInteger64(AudioFormat.Wfx.nSamplesPerSec);
    w.WriteInteger(AudioFormat.Wfx.wBitsPerSample);
    w.WriteInteger64(VideoFourCC);
    w.WriteString(CompressorName);
    w.WriteBoolean(WMOutput);
    w.WriteString(WMProfile);
}

void TCustomProjectNode::ReadAfter(TValueReader& r) {
    TCustomFolderNode::ReadAfter(r);
    r.ReadInteger(); // reserved byte
    const size_t at = r.GetPosition();
    Extended fps = ReadFiniteFloat(r);
    if (fps < 0) throw EReadError("Invalid frame rate", {}, static_cast<int64_t>(at));
    int32_t w = r.ReadInteger();
    int32_t h = r.ReadInteger();
    if (w < 0 || h < 0 || w > MaxFrameSide || h > MaxFrameSide)
        throw EReadError("Invalid frame size", {}, static_cast<int64_t>(r.GetPosition()));
    FrameRate = fps;
    Width = w;
    Height = h;
    AudioOn = r.ReadBoolean();
    SizePresetId = r.ReadInteger();
    AudioMode = r.ReadInteger();
    RatePresetId = r.ReadInteger();
    ReadFiniteFloat(r); // reserved
    ReadFiniteFloat(r); // reserved
    auto field16 = [&r](const char* what) {
        int32_t v = r.ReadInteger();
        if (v < 0 || v > 0xFFFF)
            throw EReadError(std::string("Invalid ") + what, {},
                             static_cast<int64_t>(r.GetPosition()));
        return static_cast<uint16_t>(v);
    };
    AudioFormat.Wfx.wFormatTag = field16("audio format tag");
    AudioFormat.Wfx.nChannels = field16("channel count");
    int32_t rate = r.ReadInteger();
    if (rate < 0) throw EReadError("Invalid sample rate", {}, static_cast<int64_t>(r.GetPosition()));
    AudioFormat.Wfx.nSamplesPerSec = static_cast<uint32_t>(rate);
    AudioFormat.Wfx.wBitsPerSample = field16("sample width");
    // Block align and byte rate are not stored; they follow from the rest.
    AudioFormat.Wfx.nBlockAlign = CheckedCast<uint16_t>(
        CheckedMul<uint32_t>(AudioFormat.Wfx.wBitsPerSample / 8, AudioFormat.Wfx.nChannels));
    AudioFormat.Wfx.nAvgBytesPerSec =
        CheckedMul<uint32_t>(AudioFormat.Wfx.nBlockAlign, AudioFormat.Wfx.nSamplesPerSec);
    VideoFourCC = static_cast<uint32_t>(r.ReadInteger());
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
    TValueReader r(stream.data(), stream.size());
    std::string signature;
    try {
        signature = r.ReadString();
    } catch (const Exception&) {
    }
    if (signature != FileSignature) {
        // Another kind of file: stop here rather than read it as a project.
        if (Ui) Ui->ShowMessage("File format is unknown", TMsgKind::Error);
        return false;
    }
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
    try {
        LoadFromReader(r);
    } catch (...) {
        // Nothing half-read survives a failed load.
        FreeChildren();
        throw;
    }
    return true;
}
