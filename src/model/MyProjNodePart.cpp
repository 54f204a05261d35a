// The project root's runs: the sound collected from the nodes for each frame and the WAV export.
#include <algorithm>

#include "IUiServices.h"
#include "MyProjNode.h"
#include "MyWavWriter.h"

void TProjectNode::ForEachEnabledDurable(const std::function<void(TCustomDurableNode*)>& fn) {
    std::function<void(TTreeNodeData*)> walk = [&](TTreeNodeData* n) {
        for (int i = 0; i < n->GetChildCount(); ++i) {
            TTreeNodeData* c = n->GetChild(i);
            if (Abort) return;
            if (c->IsEnabled())
                if (auto* d = dynamic_cast<TCustomDurableNode*>(c)) fn(d);
            walk(c);
        }
    };
    walk(this);
}

bool TProjectNode::OpenForRender(int32_t startFrame) {
    Mixer.ClearSources();
    ForEachEnabledDurable([this, startFrame](TCustomDurableNode* d) {
        d->SetAudioHandler([this](TAudioSourceInfo& s) { return AudioHandler(s); });
        d->OpenForRender(startFrame);
    });
    return true;
}

void TProjectNode::CloseAllAfterRender() {
    ForEachEnabledDurable([](TCustomDurableNode* d) { d->CloseAfterRender(); });
}

bool TProjectNode::AudioHandler(TAudioSourceInfo& source) {
    if (Abort) return true;
    if (!AudioOn) return false;
    return Mixer.AddSource(std::move(source));
}

bool TProjectNode::SendAudio(bool final, const uint8_t* data, size_t size) {
    switch (Target) {
    case tgWavWriter:
        return WavWriter && WavWriter->WriteData(data, static_cast<int64_t>(size));
    default:
        return true;
    }
}

bool TProjectNode::WriteAudioChunk(bool final, int32_t frame) {
    if (Abort || !AudioOn || !Mixer.HasSources()) return true;
    Mix.Format = AudioFormat;
    Mix.FirstLeft = Mix.FirstRight = 0;
    Mix.Clipped = false;
    if (!Mixer.MixSources(Mix)) return false;
    return SendAudio(final, Mix.Buffer.data(), Mix.Buffer.size());
}

bool TProjectNode::ExportWave(bool raw, int32_t first,
                              const TStatusPanel* statusPanel,
                              const std::string& fileName, int32_t count) {
    bool result = false;
    Abort = false;
    if (GetFPS() == 0 || count == 0 || !Ui) return false;
    OpenForRender(first);
    const std::string keptStatus = statusPanel ? statusPanel->GetText() : std::string();
    const TAudioFormat kept = AudioFormat;
    struct Restore {
        TProjectNode& Root;
        const TAudioFormat& Format;
        ~Restore() { Root.AudioFormat = Format; }
    } restore{*this, kept};
    const TAudioFormat exportFormat = AudioFormat;

    Busy = true;
    WavWriter = std::make_unique<TWavWriter>(*Ui);
    if (!WavWriter->Initiate(raw, fileName, exportFormat)) {
        WavWriter.reset();
        Busy = false;
        return false;
    }
    {
        TBusyCursorGuard cursor(Ui);
        Target = tgWavWriter;
        int32_t k = 0;
        const int32_t last = CheckedAdd(CheckedAdd(first, count), 1);
        for (int32_t i = first; i <= last; ++i) {
            if (Abort) {
                result = true;
                break;
            }
            Ui->ProcessMessages();
            CurrentTime = FrameTime(i);
            if (!RenderFrame(GetOutputBitmap(), true, false, CurrentTime)) break;
            if (!WriteAudioChunk(false, i)) break;
            Ui->Sleep(2);
            ++k;
            if (i % 10 == 0 && statusPanel)
                statusPanel->SetText("Progress: " + std::to_string(int64_t(k) * 100 / count) +
                                     "% (Press Escape to stop)");
            if (i == last) result = true;
        }
    }
    // The file counts only when it was completed.
    if (!WavWriter->CloseFile()) result = false;
    WavWriter.reset();
    Busy = false;
    if (result)
        Ui->ShowMessage("Finish writing " + fileName);
    else if (Abort)
        Ui->ShowMessage("Finish writing interupted file " + fileName);
    else
        Ui->ShowMessage("Fail to write " + fileName, TMsgKind::Error);
    if (statusPanel) statusPanel->SetText(keptStatus);
    return result;
}
