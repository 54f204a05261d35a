// The property dialog's plain side: which page a node gets, the checks on close, the sound
// format and caption written back, and what Cancel sets back.
#include <filesystem>

#include "MyAVICompress.h"
#include "MyBlankNode.h"
#include "MyClipNode.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMusicNode.h"
#include "MyProjNode.h"
#include "MyPropDlg.h"
#include "MySoundNode.h"
#include "MySubProjectNode.h"

const char* const PropPageNames[10] = {"Project",       "Folder",      "Movie", "External Bitmap",
                                       "External Text", "Transitions", "Blank", "BitmapClip",
                                       "SubProject",    "Common"};

namespace {

// The number in a cleaned edit; nothing for an empty one.
std::optional<Extended> NumberOf(const std::string& text) {
    const std::string t = TrimText(text);
    if (t.empty())
        return std::nullopt;
    try {
        size_t used = 0;
        const long double v = std::stold(t, &used);
        if (used == 0 || !std::isfinite(v))
            return std::nullopt;
        return v;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

TPropPage OverlayPage(TTreeNodeData* node) {
    switch (node->GetExternalKind()) {
    case 0:
        return ppNoneFalse;
    case 1:
        return ppExternalBitmap;
    case 2:
        return ppExternalText;
    case 3:
        return ppMovie;
    default:
        return ppNoneTrue;
    }
}

} // namespace

TPropPage PropPageOf(TTreeNodeData* node, const TProjectNode* project) {
    if (!node)
        return ppNoneFalse;
    if (node == project || dynamic_cast<TProjectNode*>(node))
        return ppProject;
    if (dynamic_cast<TSubProjectNode*>(node))
        return ppSubProject;
    if (dynamic_cast<TUserFolder*>(node) || dynamic_cast<TQueueFolder*>(node))
        return ppFolder;
    if (dynamic_cast<TMovieNode*>(node) || dynamic_cast<TSoundNode*>(node) ||
        dynamic_cast<TMusicNode*>(node))
        return ppMovie;
    if (dynamic_cast<TFilterNode*>(node))
        return ppCommon;
    if (dynamic_cast<TTransNode*>(node))
        return ppTransitions;
    if (dynamic_cast<TBlankNode*>(node))
        return ppBlank;
    if (dynamic_cast<TClipNode*>(node))
        return ppBitmapClip;
    if (dynamic_cast<TOverlayNode*>(node))
        return OverlayPage(node);
    return ppSubProject;
}

std::optional<std::string> ValidateProjectPage(const std::string& width, const std::string& height,
                                               const std::string& rate) {
    const std::optional<Extended> w = NumberOf(width);
    if (!w || *w < 50)
        return "Width is too small";
    if (*w > TProjectNode::MaxFrameSide)
        return "Width is too large";
    const std::optional<Extended> h = NumberOf(height);
    if (!h || *h < 50)
        return "Height is too small";
    if (*h > TProjectNode::MaxFrameSide)
        return "Height is too large";
    const std::optional<Extended> fps = NumberOf(rate);
    if (!fps || *fps < 2.0L)
        return "Frame per second is too low";
    if (*fps > 50.0L)
        return "Frame per second is too high";
    return std::nullopt;
}

std::optional<std::string> ValidateFileExists(const std::string& name) {
    if (!TrimText(name).empty() && FileExists(TrimText(name)))
        return std::nullopt;
    return "Can not find file " + name;
}

bool SourceLoaded(TTreeNodeData* node) {
    if (auto* movie = dynamic_cast<TMovieNode*>(node))
        return movie->GetReader().IsLoaded();
    if (auto* sound = dynamic_cast<TSoundSourceNode*>(node))
        return sound->SourceType == stWave ||
               (sound->SourceType == stMovie && sound->Reader && sound->Reader->IsLoaded());
    return true;
}

std::optional<std::string> ValidateMovieFile(TTreeNodeData* node, const std::string& name) {
    if (std::optional<std::string> why = ValidateFileExists(name))
        return why;
    // The reader told why when it tried; a typed name not yet given to the object is not judged.
    if (TrimText(name) == node->FileName && !SourceLoaded(node))
        return "Can not open " + TrimText(name);
    return std::nullopt;
}

std::optional<std::string> ValidateSubProject(const std::string& name,
                                              const std::string& projectFile) {
    if (std::optional<std::string> why = ValidateFileExists(name))
        return why;
    if (SameFile(name, projectFile))
        return "File " + name + " is the main project that you are working on!";
    const std::string closer = TSubProjectNode::FindCycle(TrimText(name), projectFile);
    if (closer.empty())
        return std::nullopt;
    std::string text = "File " + name + " contains the main project that you are working on";
    if (!SameFile(closer, name))
        text += " (through " + closer + ")";
    return text + "!";
}

std::optional<std::string> ValidateDurationMs(int64_t ms) {
    if (ms < 2)
        return "Duration is too small";
    return std::nullopt;
}

std::optional<std::string> ValidateClip(int32_t pictureCount, const std::string& folder) {
    if (pictureCount < 1)
        return "Can not find suitable bitmaps in " + folder;
    return std::nullopt;
}

std::optional<std::string> ValidateClipRate(const std::string& rate) {
    const std::optional<Extended> r = NumberOf(rate);
    if (!r || *r <= 0)
        return "Picture per second is too low";
    if (*r > TProjectNode::MaxFrameRate)
        return "Picture per second is too high";
    return std::nullopt;
}

std::vector<std::string> ClipMemoLines(TClipNode& clip) {
    // Without a picture there is no size to tell: the frame size a clip falls back on is not
    // the first bitmap's.
    const bool any = clip.GetPictureCount() > 0;
    // The folder and rate were just set on the clip: its length follows them before any layout.
    clip.NaturalDuration = clip.GetNaturalDuration();
    std::vector<std::string> lines = {
        "Based on the first bitmap:",
        "Width:" + (any ? std::to_string(clip.GetSourceWidth()) : std::string()),
        "Height:" + (any ? std::to_string(clip.GetSourceHeight()) : std::string()),
        "",
        "Number of picture:" + std::to_string(clip.GetPictureCount()),
        "",
        "Duration:" + FormatTimeText(clip.GetDuration())};
    if (!any)
        lines.back() += " (as minimum length)";
    return lines;
}

std::string DigitsOnly(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9' && !(digits.empty() && c == '0') && digits.size() < 9)
            digits += c;
    if (digits.empty() && text.find('0') != std::string::npos)
        return "0";
    return digits;
}

std::vector<uint32_t> SamplingRates(uint32_t projectRate) {
    std::vector<uint32_t> rates = {48000, 44100, 22050, 11025};
    if (projectRate == 0 || std::find(rates.begin(), rates.end(), projectRate) != rates.end())
        return rates;
    auto at = std::find_if(rates.begin(), rates.end(), [&](uint32_t r) { return r < projectRate; });
    rates.insert(at, projectRate);
    return rates;
}

int SamplingIndex(const std::vector<uint32_t>& rates, uint32_t projectRate) {
    const uint32_t wanted = projectRate == 0 ? 44100 : projectRate;
    const auto at = std::find(rates.begin(), rates.end(), wanted);
    return at == rates.end() ? -1 : static_cast<int>(at - rates.begin());
}

void ProjectAudioFormat(int64_t audioMode, uint32_t rate, bool stereo, int bitsIndex,
                        TAudioFormat& format) {
    if (audioMode != WAVE_FORMAT_PCM) {
        MakePcmFormat(format, 44100, 2, 16);
        return;
    }
    const uint16_t channels = stereo ? 2 : 1;
    const uint16_t bits = bitsIndex == 0 ? 8 : 16;
    std::memset(&format, 0, sizeof(format));
    format.Wfx.wFormatTag = WAVE_FORMAT_PCM;
    format.Wfx.nChannels = channels;
    format.Wfx.nSamplesPerSec = rate;
    format.Wfx.wBitsPerSample = bits;
    format.Wfx.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    format.Wfx.nAvgBytesPerSec = CheckedMul<uint32_t>(format.Wfx.nBlockAlign, rate);
    format.Wfx.cbSize = 0;
}

std::string CaptionFromLabel(const std::string& label, const std::string& addOnName) {
    const std::string t = TrimText(label);
    return t.empty() ? addOnName + ":<No label>" : t;
}

int32_t SecondsToMs(Extended seconds) {
    return Round(seconds * 1000.0L);
}

Extended MsToSeconds(int32_t ms) {
    return ms / 1000.0L;
}

bool SameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    const std::string ta = TrimText(a), tb = TrimText(b);
    if (ta.empty() || tb.empty())
        return false;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(ta, ea);
    const fs::path cb = fs::weakly_canonical(tb, eb);
    if (ea || eb)
        return fs::absolute(ta, ea).lexically_normal() == fs::absolute(tb, eb).lexically_normal();
    return ca == cb;
}

void TPropUndo::Keep(TTreeNodeData* node, TProjectNode* project, TPropPage page) {
    FileNameSet = page == ppMovie || page == ppExternalBitmap;
    FileName = node->FileName;
    if (auto* clip = dynamic_cast<TClipNode*>(node); clip && page == ppBitmapClip) {
        ClipSet = true;
        ClipRate = clip->ClipRate;
        ClipFolder = clip->Folder;
    }
    if (page == ppProject && project) {
        ProjectSet = true;
        AudioOn = project->AudioOn;
        FourCC = project->GetAviCompress().GetFourCC();
    }
}

void TPropUndo::Restore(TTreeNodeData* node, TProjectNode* project) const {
    if (FileNameSet && node->FileName != FileName) {
        // A node opens no empty name: one that had no file is left without one.
        if (FileName.empty()) {
            node->FileName.clear();
            node->MissingFileName.clear();
        } else {
            node->SetFileName(FileName);
        }
    }
    if (ClipSet) {
        auto* clip = static_cast<TClipNode*>(node);
        clip->ClipRate = ClipRate;
        clip->NaturalDuration = clip->GetNaturalDuration();
        if (clip->Folder != ClipFolder)
            clip->SetFolder(ClipFolder);
    }
    if (ProjectSet) {
        project->AudioOn = AudioOn;
        project->GetAviCompress().SelectCompressor(FourCC);
    }
}
