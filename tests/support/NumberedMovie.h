// Movies whose frames and sound tell where they came from: raw frames filled with a colour that
// encodes the frame number, and a 16-bit PCM ramp whose sample i holds i, so a test can read back
// which source frame or sample a render delivered. Plus a project with a video track to put them
// in.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MyGraphics.h"
#include "MyProjNode.h"
#include "TempFolders.h"

// Colour (0x00BBGGRR) of frame i: blue is the frame number, green its complement.
inline uint32_t NumberedFrameColour(int i) {
    return 0x00000040u | (uint32_t(255 - (i & 0xFF)) << 8) | (uint32_t(i & 0xFF) << 16);
}

// The frame number a solid-coloured picture shows, or -1 when the colour is no frame colour.
inline int NumberedFrameOf(const TBitmap& b, int32_t x = 0, int32_t y = 0) {
    const uint32_t c = b.Canvas().GetPixel(x, y);
    const int i = int((c >> 16) & 0xFF);
    return c == NumberedFrameColour(i) ? i : -1;
}

struct TNumberedMovieSpec {
    int Frames = 20;
    uint32_t MicroSecPerFrame = 100000; // 10 frames per second
    int32_t Width = 8;
    int32_t Height = 6;
    // Sound track: none when Samples is 0. Sample frame i of channel c holds i (c = 0) or -i.
    TAudioFormat Sound{};
    uint32_t Samples = 0;
    uint32_t SamplesPerChunk = 2205;
};

// Sample frame i of the ramp for channel c.
inline int16_t RampSample(int64_t i, int c = 0) {
    return int16_t(c == 0 ? i : -i);
}

inline TAviSpec NumberedMovieSpec(const TNumberedMovieSpec& m) {
    TAviSpec spec = MakeDibMovie(m.Width, m.Height, m.Frames, m.MicroSecPerFrame);
    const int32_t row = (m.Width * 3 + 3) & ~3;
    for (int i = 0; i < m.Frames; ++i) {
        const uint32_t c = NumberedFrameColour(i);
        std::vector<uint8_t>& d = spec.Chunks[size_t(i)].Data;
        for (int32_t y = 0; y < m.Height; ++y)
            for (int32_t x = 0; x < m.Width; ++x) {
                uint8_t* p = &d[size_t(y) * size_t(row) + size_t(x) * 3];
                p[0] = uint8_t(c >> 16);
                p[1] = uint8_t(c >> 8);
                p[2] = uint8_t(c);
            }
    }
    if (m.Samples == 0)
        return spec;
    const uint16_t ch = m.Sound.Wfx.nChannels;
    std::vector<uint8_t> track;
    for (uint32_t i = 0; i < m.Samples; ++i)
        for (int c = 0; c < ch; ++c) {
            const uint16_t v = uint16_t(RampSample(i, c));
            track.push_back(uint8_t(v));
            track.push_back(uint8_t(v >> 8));
        }
    std::vector<uint32_t> sizes;
    std::vector<int> before;
    const uint32_t chunkBytes = m.SamplesPerChunk * m.Sound.Wfx.nBlockAlign;
    for (uint32_t at = 0; at < track.size(); at += chunkBytes) {
        sizes.push_back(std::min<uint32_t>(chunkBytes, uint32_t(track.size()) - at));
        before.push_back(int(sizes.size()) - 1);
    }
    AddAudioTrack(spec, m.Sound, sizes, before);
    size_t at = 0;
    for (TAviChunkSpec& c : spec.Chunks)
        if (c.Kind == "wb") {
            std::memcpy(c.Data.data(), track.data() + at, c.Data.size());
            at += c.Data.size();
        }
    return spec;
}

// A new project (15 fps, 320 x 240, 22050 Hz 16-bit stereo) with its video track, reporting to
// a scripted user, and a folder for the movies it uses.
struct TMovieProject {
    TFakeUiServices Ui;
    TMemTree Tree;
    std::unique_ptr<TProjectNode> Root;
    TTempDir Dir;

    TMovieProject() : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        Root->Ui = &Ui;
    }
    ~TMovieProject() { Root.reset(); }

    std::string Save(const std::string& name, const TAviSpec& spec) {
        const std::string path = Dir.Path + "/" + name;
        BuildAvi(spec).Save(path);
        return path;
    }
    std::string Movie(const std::string& name, const TNumberedMovieSpec& m = {}) {
        return Save(name, NumberedMovieSpec(m));
    }
    // A node of kind on fileName appended to the video track.
    template <class T> T* Add(uint8_t kind, const std::string& fileName) {
        auto* n = static_cast<T*>(Root->VideoTrack->AddNode("clip", amLastChild, kind));
        if (!fileName.empty())
            n->SetFileName(fileName);
        return n;
    }
    // Renders the picture of project frame i into the output bitmap; the frame it shows.
    int Shown(int32_t frame) {
        TBitmap* out = Root->GetOutputBitmap();
        out->Canvas().Brush.Color = 0xFFFFFF;
        out->Canvas().FillRect(Rect(0, 0, out->Width(), out->Height()));
        Root->RenderFrame(out, false, true, Root->FrameTime(frame));
        return NumberedFrameOf(*out);
    }
};

// The numbered movie of m (whose sound must be 16-bit stereo) saved as name, with its sound's
// format restated as plain PCM (tag 1) of the given channels and bits, as a tool that labels its
// samples so would write it. The mixer takes no such track above 16 bits or 2 channels.
inline std::string RelabelledSoundMovie(TMovieProject& p, const std::string& name,
                                        const TNumberedMovieSpec& m, uint16_t channels,
                                        uint16_t bits) {
    TAviImage img = BuildAvi(NumberedMovieSpec(m));
    const size_t f = img.StrfPos.at(1) + 8;
    const uint16_t blockAlign = uint16_t(channels * bits / 8);
    img.PutU32(f, WAVE_FORMAT_PCM | uint32_t(channels) << 16);
    img.PutU32(f + 8, blockAlign * m.Sound.Wfx.nSamplesPerSec);
    img.PutU32(f + 12, blockAlign | uint32_t(bits) << 16);
    const std::string path = p.Dir.Path + "/" + name;
    img.Save(path);
    return path;
}
