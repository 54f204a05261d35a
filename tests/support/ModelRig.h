// A project root in a memory tree that reports to scripted user services: the base the model
// tests build their trees on, with helpers to add nodes, lay the tree out and save it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeUiServices.h"
#include "FakeWaveOut.h"
#include "MyBlankNode.h"
#include "MyProjNode.h"
#include "MyWavStreaming.h"
#include "WavFixtures.h"

// A user whose clock also moves while messages are pumped, as a real one does, with a sound
// device (when given) that plays along. Given the root, it lets the root's streamer, which takes
// back played blocks on its own clock, catch up with the device at each pump.
class TTickingUi : public TFakeUiServices {
public:
    std::shared_ptr<TFakeWaveOut> Device;
    TProjectNode* Root = nullptr;
    void ProcessMessages() override {
        TFakeUiServices::ProcessMessages();
        AdvanceClock(1);
        if (Device)
            Device->Advance(1);
        TPassiveStreamer* s = Root && Device ? Root->GetStreamer() : nullptr;
        for (int k = 0; s && k < 2000 && s->GetQueuedCount() > int32_t(Device->QueuedCount()); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        RunPosted();
    }
    void Sleep(int ms) override {
        TFakeUiServices::Sleep(ms);
        if (Device)
            Device->Advance(ms);
    }
};

template <class TUi = TFakeUiServices> struct TModelRigOf {
    TMemTree Tree;
    TUi Ui;
    std::unique_ptr<TProjectNode> Root;

    // empty: without the video track a new project starts with.
    explicit TModelRigOf(bool empty = false)
        : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        Root->Ui = &Ui;
        if (empty)
            Root->Clear();
    }
    void Relayout() {
        Root->ResetLinks();
        Root->Calculate();
        Root->Layout(0);
    }
    std::vector<uint8_t> Save() {
        std::vector<uint8_t> bytes;
        Root->SaveToStream(bytes);
        return bytes;
    }
    template <class T = TTreeNodeData>
    T* Add(TTreeNodeData* parent, uint8_t kind, const std::string& name = "n") {
        return static_cast<T*>(parent->AddNode(name, amLastChild, kind));
    }
    // A black (or coloured) clip of fixed length at the end of parent.
    TBlankNode* Blank(TTreeNodeData* parent, Extended seconds, uint32_t color = 0) {
        auto* b = Add<TBlankNode>(parent, nkBlank, "b");
        b->AutoDuration = false;
        b->UserDuration = seconds;
        b->BlankColor = color;
        return b;
    }
};

using TModelRig = TModelRigOf<>;

inline void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The data chunk of a WAV file's bytes (empty when there is none).
inline std::vector<uint8_t> WavDataOf(const std::vector<uint8_t>& file) {
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t size;
        std::memcpy(&size, &file[at + 4], 4);
        if (std::memcmp(&file[at], "data", 4) == 0 && size <= file.size() - at - 8)
            return std::vector<uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// A PCM format without extra bytes, as a file's format block holds it.
inline TAudioFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TAudioFormat f;
    MakePcmFormat(f, rate, channels, bits);
    f.Wfx.cbSize = 0;
    return f;
}

// 16-bit sample number i of a block.
inline int16_t S16(const std::vector<uint8_t>& b, size_t i) {
    int16_t v;
    std::memcpy(&v, &b.at(i * 2), 2);
    return v;
}

// Sample frame i holds i (16-bit, channel c adds 1000 x c) or i mod 256 (8-bit, channel c adds
// 77 x c), so every block shows where in the file it was taken.
inline std::vector<uint8_t> Ramp(uint32_t frames, uint16_t channels, uint16_t bits) {
    std::vector<uint8_t> b;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c) {
            if (bits == 8) {
                b.push_back(uint8_t(i + 77 * c));
            } else {
                const uint16_t v = uint16_t(i + 1000 * c);
                b.push_back(uint8_t(v));
                b.push_back(uint8_t(v >> 8));
            }
        }
    return b;
}

// A WAV file of the ramp; its path.
inline std::string WriteRampWav(const std::string& path, uint32_t rate, uint16_t channels,
                                uint16_t bits, uint32_t frames) {
    TWavFixture f;
    f.Rate = rate;
    f.Channels = channels;
    f.Bits = bits;
    f.Samples = Ramp(frames, channels, bits);
    WriteWavFile(path, f);
    return path;
}
