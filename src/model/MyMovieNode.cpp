#include "MyMovieNode.h"

#include <algorithm>
#include <cstdio>

#include "MyAudioCodec.h"
#include "MyBlankNode.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyPCMTrans.h"
#include "MyProjNode.h"
#include "MyValueStream.h"

namespace {

// A number in general format with six significant digits ("15", "29.97", "1.5E7").
std::string GeneralFloatText(Extended value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6Lg", value);
    std::string s = buf;
    const size_t e = s.find('e');
    if (e == std::string::npos)
        return s;
    // The exponent is written without a plus sign or leading zeros.
    std::string mantissa = s.substr(0, e);
    std::string exponent = s.substr(e + 1);
    bool negative = false;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        negative = exponent[0] == '-';
        exponent.erase(0, 1);
    }
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    return mantissa + "E" + (negative ? "-" : "") + exponent;
}

std::string ModeText(uint16_t channels) {
    return channels == 1 ? "mono" : "stereo";
}

} // namespace

TMovieNode::TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item),
      Reader(std::make_unique<TAviReader>(project ? project->Ui : nullptr)) {
    Kind = nkVideo;
    Color = 0x91C8FF;
    UseAudio = true;
    BalanceCurve = Curves->Register(ckSizing, "Audio ballance");
    VolumeCurve = Curves->Register(ckLevel, "Audio volume");
}

TMovieNode::~TMovieNode() {
    if (Project)
        Project->MovieLeavesReadAhead(this);
    AudioHandler = nullptr;
    Reader.reset();
}

void TMovieNode::SetFileName(const std::string& name) {
    TMasterNode::SetFileName(name);
    if (name.empty())
        return;
    if (FileName != name) {
        // A missing file: a node without a movie still learns the name, so that it reads as a
        // movie whose file did not load; one that shows a movie keeps it.
        if (!Reader->IsLoaded())
            Reader->Open(name);
        return;
    }
    // A fresh reader takes the project's current way of reporting its failure.
    Reader = std::make_unique<TAviReader>(Project ? Project->Ui : nullptr);
    if (!Reader->Open(name))
        return;
    SourceWidth = Reader->GetWidth();
    SourceHeight = Reader->GetHeight();
    NaturalDuration = Reader->GetDuration();
    SourceDuration = NaturalDuration;
    SourceFrameCount = Reader->GetFrameCount();
    SourceFrameRate = Reader->GetFrameRate();
    if (Reader->GetClaimedFrameCount() > uint32_t(SourceFrameCount))
        LoadMessages.Add(
            "The header of " + name + " claims " + std::to_string(Reader->GetClaimedFrameCount()) +
            " frames; its index holds " + std::to_string(SourceFrameCount) + ", which are shown.");
    const bool sound = Reader->HasAudio();
    if (VolumeCurve)
        VolumeCurve->SetEnabled(sound);
    if (BalanceCurve)
        BalanceCurve->SetEnabled(Reader->HasAudioTrack() &&
                                 Reader->GetSourceAudioFormat().Wfx.nChannels == 2);
}

bool TMovieNode::HasAudio() {
    return Reader->HasAudio() && UseAudio;
}

void TMovieNode::GetAudioFormat(TAudioFormat& format) {
    if (HasAudio())
        format = Reader->GetDecodedPcmFormat();
    else if (Project)
        format = Project->AudioFormat;
    else
        format = TAudioFormat{};
}

Extended TMovieNode::GetNaturalDuration() {
    return Reader->IsLoaded() ? Reader->GetDuration() : 0;
}

void TMovieNode::Unlink() {
    DropTransitionLinks();
    TMasterNode::Unlink();
}

bool TMovieNode::OpenForRender(int32_t startFrame) {
    (void)startFrame; // the first block of a run is placed by its source time
    AudioCounterStarted = false;
    // A run of renders asks for frame after frame: the next ones are decoded meanwhile, from
    // the first frame the movie draws.
    ReadAheadRun = Project && Project->Pipelined();
    if (!Reader->HasAudio() || !Project)
        return false;
    Reader->PrepareAudio(Project->AudioFormat, Project->FrameRate);
    return true;
}

void TMovieNode::CloseAfterRender() {
    ReadAheadRun = false;
    Reader->EndReadAhead();
    if (Project)
        Project->MovieLeavesReadAhead(this);
    Reader->UnprepareAudio();
}

bool TMovieNode::DrawFrame(int32_t index, TBitmap& bitmap) {
    if (ReadAheadRun && Project) {
        if (!Reader->IsReadingAhead())
            Reader->BeginReadAhead(Project->DecodeLanes());
        Project->MovieReadsAhead(this);
    }
    return Reader->GetFrame(index, bitmap);
}

Extended TMovieNode::SourceTimeAt(Extended t) {
    // A clip under an incoming transition starts where the transition starts, so its first
    // visible instant shows the in-point.
    const Extended s = t - GetStartTime() + InPoint();
    return s > 0 ? s : 0;
}

int32_t TMovieNode::SourceFrameAt(Extended s) const {
    const Extended pos = s * SourceFrameRate;
    if (!(pos > 0))
        return 0;
    // At rates above the file's, the last instants of a clip round up to one frame past its
    // end; they show the last frame instead of failing.
    const int32_t last = std::max(Reader->GetFrameCount() - 1, 0);
    if (!(pos < Extended(last)))
        return last;
    return std::clamp<int32_t>(Round(pos), 0, last);
}

void TMovieNode::ShowSourceFrame(const TBitmap& bitmap) {
    TPictureControl* c = SourceFrameControl;
    if (!c || !c->Picture)
        return;
    if (c->Picture->Width() != bitmap.Width() || c->Picture->Height() != bitmap.Height())
        c->Picture->SetSize(bitmap.Width(), bitmap.Height());
    c->Picture->Canvas().Draw(0, 0, bitmap);
    if (c->Invalidate)
        c->Invalidate();
}

bool TMovieNode::PrepareFrame(TBitmap* bitmap, Extended t) {
    if (!bitmap || !DrawFrame(SourceFrameAt(SourceTimeAt(t)), *bitmap))
        return false;
    TMasterNode::PrepareFrame(bitmap, t);
    return true;
}

bool TMovieNode::DeliverAudio(int32_t block, Extended s) {
    if (HasAudio()) {
        std::vector<uint8_t> buffer;
        // The block holds the project frame's share of the time line's samples.
        if (!Reader->ReadAudio(block, buffer, s, Project ? Project->SoundFrameSamples() : 0))
            return false;
        TNodeInfo info;
        GetNodeInfo(info);
        TAudioSourceInfo source(AbsoluteItemIndex(Item), std::move(buffer), info.Sizing,
                                info.Level);
        AudioHandler(source);
        return true;
    }
    // No sound of our own: one project frame of the project format's silence keeps the mix's
    // pace, whatever the file's rate.
    TFrameSilence silence;
    if (BuildFrameSilence(*this, silence))
        DeliverFrameSilence(*this, silence);
    return true;
}

bool TMovieNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    const Extended s = SourceTimeAt(t);
    const int32_t index = SourceFrameAt(s);
    if (!AudioCounterStarted) {
        const int64_t first = Round64(s * SourceFrameRate);
        AudioCounter = int32_t(std::clamp<int64_t>(first, 0, INT32_MAX));
        AudioCounterStarted = true;
    }
    const int32_t block = AudioCounter;
    if (AudioCounter < INT32_MAX)
        ++AudioCounter;
    if (AudioHandler && wantAudio && !DeliverAudio(block, s))
        return false;
    if (wantVideo) {
        if (!bitmap || !DrawFrame(index, *bitmap))
            return false;
        ShowSourceFrame(*bitmap);
    }
    return TMasterNode::RenderFrame(bitmap, wantAudio, wantVideo, t);
}

bool TMovieNode::GetInfo(std::vector<std::string>& lines) {
    lines.clear();
    if (!Reader->IsLoaded()) {
        lines.push_back(Reader->GetFileName().empty() ? "Movie is not yet loaded."
                                                      : "Movie format is unknown.");
        return true;
    }
    lines.push_back("Audio");
    const TWaveFormatEx& f = Reader->GetSourceAudioFormat().Wfx;
    if (!Reader->HasAudio()) {
        if (f.wFormatTag == WAVE_FORMAT_MPEGLAYER3 || f.wFormatTag == WAVE_FORMAT_WMAUDIO2)
            lines.push_back("Can not read MP3 audio");
        else
            lines.push_back("No audio track is available");
    } else if (Reader->IsAudioPCM()) {
        lines.push_back("Format:  PCM " + ModeText(f.nChannels) + " " +
                        std::to_string(f.wBitsPerSample));
        lines.push_back("Sample per second: " + std::to_string(f.nSamplesPerSec));
        lines.push_back("Average bytes per second: " + std::to_string(f.nAvgBytesPerSec));
    } else {
        std::string name;
        auto* root = dynamic_cast<TProjectNode*>(Project);
        if (root) {
            root->GetAudioCodec().GetCodecName(f.wFormatTag, name);
        } else {
            TAudioCodec codec;
            codec.GetCodecName(f.wFormatTag, name);
        }
        lines.push_back("Format: " + name);
        lines.push_back("Mode: " + ModeText(f.nChannels));
        lines.push_back("Sample per second: " + std::to_string(f.nSamplesPerSec));
    }
    lines.push_back(" ");
    lines.push_back("Video");
    lines.push_back("Duration:     " + FormatTimeText(Reader->GetDuration()));
    lines.push_back("Frame width:  " + std::to_string(SourceWidth));
    lines.push_back("Frame height: " + std::to_string(SourceHeight));
    lines.push_back("Frame rate:   " + GeneralFloatText(SourceFrameRate));
    lines.push_back("Frame count:  " + std::to_string(SourceFrameCount));
    if (!ClipRange.FromStart)
        lines.push_back("  In-point is set at " + FormatTimeText(ClipRange.InTime));
    if (!ClipRange.ToEnd)
        lines.push_back("  Out-point is set at " + FormatTimeText(ClipRange.OutTime));
    if (!ClipRange.FromStart || !ClipRange.ToEnd)
        lines.push_back("Resulting a clip duration of :   " + FormatTimeText(GetDuration()));
    return true;
}

bool TMovieNode::ExtractAudio(bool raw, const std::string& fileName, IUiServices& ui) {
    return Reader->ExtractAudioToWav(raw, fileName, ui);
}

void TMovieNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteBoolean(UseAudio);
    writer.WriteFloat(ReservedValue);
}

void TMovieNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    UseAudio = reader.ReadBoolean();
    ReservedValue = reader.ReadFloat();
}
