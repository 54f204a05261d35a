// Every compressor we offer writes the same bytes on a machine of one core and of many.
#include <gtest/gtest.h>

#include <vector>

#include "MyBase.h"
#include "MyVideoCompressLayer.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/log.h>
}

namespace {

// Three frames of 96 x 80 (five rows of 16-pixel blocks, room for several slices) with a square
// moving over a gradient, compressed with the processors libavutil reports set to cores.
std::vector<std::vector<uint8_t>> Encode(uint32_t handler, int cores) {
    constexpr int W = 96, H = 80;
    av_cpu_force_count(cores);
    auto restore = MakeScopeExit([] { av_cpu_force_count(0); });
    std::vector<std::vector<uint8_t>> out;
    auto c =
        LibavVideoCompressors().Open(VideoCompressorType, handler, TVideoCompressorMode::Compress);
    TVideoCompressFormat in;
    in.Width = W;
    in.Height = H;
    in.FrameRate = 25;
    in.KeyRate = 2;
    TVideoOutputFormat fmt;
    if (!c || !c->Begin(in, fmt))
        return out;
    std::vector<uint8_t> rows(size_t(W) * H * 3);
    for (int i = 0; i < 3; ++i) {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool square = x >= 10 + 20 * i && x < 40 + 20 * i && y >= 20 && y < 60;
                uint8_t* p = &rows[size_t(y * W + x) * 3];
                p[0] = square ? 250 : uint8_t(x * 2);
                p[1] = square ? 40 : uint8_t(y * 3);
                p[2] = square ? 90 : uint8_t(x + y);
            }
        TCompressedFrame f;
        if (c->Compress(rows.data(), W * 3, i == 0, f) != 0)
            return {};
        out.emplace_back(f.Data, f.Data + f.Size);
    }
    c->End();
    return out;
}

} // namespace

TEST(EncoderCores, SameBytesOnOneCoreAndOnMany) {
    av_log_set_level(AV_LOG_ERROR);
    TVideoCompressorInfo info;
    int tried = 0;
    for (int32_t i = 0; LibavVideoCompressors().GetInfo(VideoCompressorType, i, info); ++i) {
        const auto one = Encode(info.Handler, 1);
        ASSERT_EQ(one.size(), 3u) << info.Name;
        for (int cores : {2, 8, 16})
            EXPECT_EQ(Encode(info.Handler, cores), one) << info.Name << " on " << cores;
        ++tried;
    }
    // At least Motion JPEG and one MPEG-4 encoder, the one that splits frames into slices.
    EXPECT_GE(tried, 2);
}
