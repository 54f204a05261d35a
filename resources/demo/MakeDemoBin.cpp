// Build-time maker of "demo.bin", the short clip the add-object dialog plays its effect examples
// on: colour bars with a square moving across them and a steady tone, written by the program's
// own AVI writer so the clip is exactly what the program reads best.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "MyAviWriter.h"
#include "MyQuietUi.h"

namespace {

constexpr int32_t Width = 160;
constexpr int32_t Height = 120;
constexpr int32_t Frames = 40;
constexpr int32_t Fps = 10;
constexpr uint32_t SampleRate = 22050;
constexpr int32_t Square = 24;

// Nothing to ask at build time: messages go to the build log, questions are declined.
class TBuildUi : public TQuietUi {
public:
    void ShowMessage(const std::string& text, TMsgKind) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    TMsgResult Ask(const std::string& text, TMsgButtons, TMsgKind) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        return TMsgResult::Cancel;
    }
};

// Bottom-up 24-bit rows: seven bars over a grey ramp, a black square with a white edge moving
// four pixels a frame.
void PaintFrame(int32_t frame, std::vector<uint8_t>& dib) {
    static const uint8_t bars[7][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                       {255, 0, 255},   {0, 0, 255},   {255, 0, 0}}; // B, G, R
    const int32_t sx = (frame * 4) % (Width - Square);
    const int32_t sy = 40;
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t* row = dib.data() + static_cast<size_t>(Height - 1 - y) * Width * 3;
        for (int32_t x = 0; x < Width; ++x) {
            uint8_t* p = row + x * 3;
            if (y < Height * 2 / 3) {
                const uint8_t* c = bars[x * 7 / Width];
                p[0] = c[0];
                p[1] = c[1];
                p[2] = c[2];
            } else {
                p[0] = p[1] = p[2] = static_cast<uint8_t>(x * 255 / (Width - 1));
            }
            const bool inside = x >= sx && x < sx + Square && y >= sy && y < sy + Square;
            if (inside) {
                const bool edge =
                    x == sx || y == sy || x == sx + Square - 1 || y == sy + Square - 1;
                p[0] = p[1] = p[2] = edge ? 255 : 0;
            }
        }
    }
}

// One frame of a 440 Hz tone, continuing the phase of the frames before it.
void PaintSound(int32_t frame, std::vector<int16_t>& samples) {
    const int32_t n = SampleRate / Fps;
    samples.resize(n);
    for (int32_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(frame * n + i) / SampleRate;
        samples[i] = static_cast<int16_t>(std::lround(6000.0 * std::sin(2 * M_PI * 440.0 * t)));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::string folder = std::filesystem::path(out).parent_path().string();
    TBuildUi ui;
    TAviWriter writer(ui, folder.empty() ? "." : folder);
    TExportSettings s;
    s.HasAudio = true;
    s.FrameRate = Fps;
    s.Width = Width;
    s.Height = Height;
    MakePcmFormat(s.AudioFormat, SampleRate, 1, 16);
    s.AudioPreloadTime = 1.0L / Fps;
    s.FrameCount = Frames;
    TBitmapInfoHeader format{};
    format.biSize = 40;
    format.biWidth = Width;
    format.biHeight = Height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = BI_RGB;
    format.biSizeImage = Width * Height * 3;
    if (!writer.Open(out, s, 0, format))
        return 1;
    std::vector<uint8_t> dib(format.biSizeImage);
    std::vector<int16_t> samples;
    for (int32_t i = 0; i < Frames; ++i) {
        PaintSound(i, samples);
        PaintFrame(i, dib);
        if (!writer.WriteAudio(samples.data(), static_cast<uint32_t>(samples.size() * 2),
                               static_cast<uint32_t>(samples.size())) ||
            !writer.WriteVideoFrame(dib.data(), format.biSizeImage, true))
            return 1;
    }
    return writer.Close(0) ? 0 : 1;
}
