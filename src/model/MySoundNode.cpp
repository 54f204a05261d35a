#include "MySoundNode.h"

#include <algorithm>
#include <cstring>

#include "IUiServices.h"
#include "MyBlankNode.h"
#include "MyProjNode.h"

namespace {

// Blocks beyond this (a frame rate near zero) are refused rather than allocated.
constexpr int64_t kMaxBlockBytes = int64_t(1) << 26;

std::string LowerExtension(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

} // namespace

// ---- TSoundSourceNode ---------------------------------------------------------------------------

TSoundSourceNode::TSoundSourceNode(TCustomProjectNode* project, const std::string& caption,
                                   ITreeItem* item)
    : TCustomSoundNode(project, caption, item) {
    Color = 0xDFBDBD;
    BalanceCurve = Curves->Register(ckSizing, "Audio ballance");
    VolumeCurve = Curves->Register(ckLevel, "Audio volume");
}

TSoundSourceNode::~TSoundSourceNode() = default;

void TSoundSourceNode::SetFileName(const std::string& name) {
    // A missing file is left to the base operation, which keeps its name for saving and reports
    // it among the load messages.
    if (name.empty() || !FileExists(name)) {
        TCustomSoundNode::SetFileName(name);
        return;
    }
    IUiServices* ui = Project ? Project->Ui : nullptr;

    if (LowerExtension(name) == ".avi") {
        TCustomSoundNode::SetFileName(name);
        WaveStream.reset();
        // A movie the reader refuses has been reported by it; the node then has no sound. Only
        // the sound is used, so nothing about the pictures is checked or said.
        Reader = std::make_unique<TAviReader>(ui);
        Reader->Open(name, TAviUse::SoundOnly);
        NaturalDuration = Reader->GetDuration();
        SourceFormat = Reader->GetDecodedPcmFormat();
        SourceType = stMovie;
    } else {
        // The file is checked before anything changes, so a file that is no usable WAV (8 kHz
        // included) leaves the node as it was, with the sound it had.
        std::unique_ptr<TFileWaveStream> stream;
        try {
            stream = std::make_unique<TFileWaveStream>(name);
        } catch (const Exception& e) {
            if (ui)
                ui->ShowMessage("Can not open " + name + "\n" + e.GetMessage(), TMsgKind::Error);
            return;
        }
        const TWaveFormatEx& f = stream->GetFormat();
        TAudioFormat format{};
        std::memcpy(&format.Wfx, &f, sizeof(TWaveFormatEx));
        if (TPCMTrans::GetLayout(format) == plUnsupported) {
            // The mixer takes 8 and 16-bit mono and stereo; anything else would sound as noise.
            if (ui)
                ui->ShowMessage("Can not open " + name + "\nIts sound is " +
                                    std::to_string(f.wBitsPerSample) + "-bit PCM with " +
                                    std::to_string(f.nChannels) +
                                    (f.nChannels == 1 ? " channel" : " channels") +
                                    "; only 8 or 16-bit PCM, mono or stereo, is read.",
                                TMsgKind::Error);
            return;
        }
        if (f.nSamplesPerSec == 8000) {
            if (ui)
                ui->ShowMessage("Wave format 8000 is of low quality and not supported",
                                TMsgKind::Error);
            return;
        }
        TCustomSoundNode::SetFileName(name);
        Reader.reset();
        WaveStream = std::move(stream);
        NaturalDuration =
            f.nSamplesPerSec ? Extended(WaveStream->GetLength() / f.nSamplesPerSec) : 0;
        SourceFormat = format;
        SourceType = stWave;
    }
    if (BalanceCurve)
        BalanceCurve->SetEnabled(SourceFormat.Wfx.nChannels == 2);
}

Extended TSoundSourceNode::GetSourceLength() {
    switch (SourceType) {
    case stMovie:
        return Reader ? Reader->GetDuration() : 0;
    case stWave: {
        if (!WaveStream)
            return 0;
        const uint32_t rate = WaveStream->GetFormat().nSamplesPerSec;
        return rate ? Extended(WaveStream->GetLength()) / rate : 0;
    }
    default:
        return 0;
    }
}

Extended TSoundSourceNode::GetDuration() {
    if (!AutoDuration)
        return UserDuration;
    return std::max<Extended>(GetSourceLength() - Offset, 0);
}

Extended TSoundSourceNode::GetFPS() {
    switch (SourceType) {
    case stNone:
        return 1.0L;
    case stMovie:
        return Reader ? Reader->GetFrameRate() : 0;
    case stWave:
        return Project ? Project->FrameRate : 0;
    default:
        throw Exception(std::string(ClassName()) + ".GetFPS Type unknown");
    }
}

bool TSoundSourceNode::OpenForRender(int32_t startFrame) {
    (void)startFrame; // the first render places the source by its time
    AudioCounterStarted = false;
    SourceId = AbsoluteItemIndex(Item);
    switch (SourceType) {
    case stMovie:
        if (!Reader || !Reader->HasAudio() || !Project)
            return false;
        Reader->PrepareAudio(Project->AudioFormat, Project->FrameRate);
        return true;
    case stWave:
        if (!WaveStream)
            return false;
        try {
            WaveStream->Seek(Round64(GetInPoint() * WaveStream->GetFormat().nSamplesPerSec), 0);
        } catch (const Exception&) {
            return false;
        }
        return true;
    default:
        return false;
    }
}

bool TSoundSourceNode::ReadWaveBlock(Extended sourceTime, std::vector<uint8_t>& buffer) {
    const uint32_t rate = WaveStream->GetFormat().nSamplesPerSec;
    const int32_t samples = Project ? Project->SoundFrameSamples() : 0;
    const TAudioFormat& target = GetTargetFormat();
    if (samples <= 0 || rate == 0 || target.Wfx.nSamplesPerSec == 0)
        return false;
    if (!AudioCounterStarted) {
        AudioCounter = Round64(sourceTime * rate);
        Consumed = 0;
        PCMTrans.ResetStream();
        AudioCounterStarted = true;
    }
    // The file is read on its own sample line and converted as one signal, so a rate that
    // differs from the project's neither drifts nor breaks at the blocks' edges.
    const int64_t pos = AudioCounter + Consumed;
    const int64_t n = PCMTrans.StreamSourceFrames(SourceFormat, target, samples);
    const int64_t length = WaveStream->GetLength();
    if (n < 0 || length - pos <= 0)
        return n >= 0; // the file has ended: no sound for this frame
    const int64_t blockAlign = WaveStream->GetBlockAlign();
    const int64_t targetAlign = GetBlockAlign(target);
    if (n > kMaxBlockBytes / blockAlign || samples > kMaxBlockBytes / targetAlign)
        return false;
    buffer.assign(size_t(n * blockAlign), PcmSilenceByte(SourceFormat));
    Consumed += n;
    // Sample frames before the file's start (a source time a hair below 0) stay silent.
    const int64_t lead = pos < 0 ? std::min(-pos, n) : 0;
    const int64_t count = std::min(n - lead, length - std::max<int64_t>(pos, 0));
    if (count > 0) {
        try {
            WaveStream->ReadAt(std::max<int64_t>(pos, 0), buffer.data() + lead * blockAlign, count);
        } catch (const Exception&) {
            buffer.clear();
            return false;
        }
    }
    // Where the file ends the converter is told so, and what follows is silence.
    buffer.resize(size_t((lead + std::max<int64_t>(count, 0)) * blockAlign));
    if (!PCMTrans.ConvertStream(SourceFormat, target, buffer, samples)) {
        buffer.clear();
        return false;
    }
    return true;
}

bool TSoundSourceNode::RenderSound(bool wantAudio, Extended t) {
    if (!AudioHandler || !wantAudio)
        return true;
    const Extended s = t - GetStartTime() + GetInPoint();
    std::vector<uint8_t> buffer;
    switch (SourceType) {
    case stMovie: {
        if (!Reader)
            return false;
        if (!AudioCounterStarted) {
            AudioCounter = Round64(s * GetFPS());
            AudioCounterStarted = true;
        }
        const int64_t block = AudioCounter++;
        const int32_t frame = int32_t(std::clamp<int64_t>(block, INT32_MIN, INT32_MAX));
        if (!Reader->ReadAudio(frame, buffer, s, Project ? Project->SoundFrameSamples() : 0))
            return false;
        break;
    }
    case stWave:
        if (!WaveStream || !ReadWaveBlock(s, buffer))
            return false;
        if (buffer.empty())
            return true;
        break;
    default:
        return false;
    }
    TNodeInfo info;
    GetNodeInfo(info);
    TAudioSourceInfo source(SourceId, std::move(buffer), info.Sizing, info.Level);
    AudioHandler(source);
    return true;
}

bool TSoundSourceNode::GetInfo(std::vector<std::string>& lines) {
    lines.clear();
    lines.push_back("Audio");
    if (SourceType == stNone) {
        lines.push_back("Source unknown");
        return true;
    }
    const TWaveFormatEx& f = SourceFormat.Wfx;
    lines.push_back(std::string("Format:  PCM ") + (f.nChannels == 1 ? "mono" : "stereo") + " " +
                    std::to_string(f.wBitsPerSample));
    lines.push_back("Sample per second: " + std::to_string(f.nSamplesPerSec));
    lines.push_back("Average bytes per second: " + std::to_string(f.nAvgBytesPerSec));
    lines.push_back("Duration: " + FormatTimeText(GetSourceLength()));
    return true;
}

// ---- TSoundNode ---------------------------------------------------------------------------------

TSoundNode::TSoundNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TSoundSourceNode(project, caption, item) {
    Kind = nkAudio;
    Color = 0xDFBDBD;
}

Extended TSoundNode::GetDuration() {
    if (!GetParent())
        return 0;
    return TSoundSourceNode::GetDuration();
}

bool TSoundNode::OpenForRender(int32_t startFrame) {
    if (Project)
        OutputFormat = Project->AudioFormat;
    return TSoundSourceNode::OpenForRender(startFrame);
}

bool TSoundNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    (void)bitmap;
    (void)wantVideo;
    return RenderSound(wantAudio, t);
}
