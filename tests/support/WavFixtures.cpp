#include "WavFixtures.h"

#include <cmath>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "TestData.h"

namespace {

void PutId(std::vector<uint8_t>& b, const std::string& id) {
    for (size_t i = 0; i < 4; ++i)
        b.push_back(i < id.size() ? uint8_t(id[i]) : uint8_t(' '));
}

void PutChunk(std::vector<uint8_t>& b, const std::string& id, const std::vector<uint8_t>& body,
              int64_t sizeOverride = -1) {
    PutId(b, id);
    PutLE(b, 4, {uint32_t(sizeOverride >= 0 ? sizeOverride : int64_t(body.size()))});
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
}

} // namespace

std::vector<uint8_t> MakeWavBytes(const TWavFixture& f) {
    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    PutLE(out, 4, {0}); // patched below
    PutId(out, f.FormType);
    if (f.JunkBeforeFmt)
        PutChunk(out, "JUNK", {1, 2, 3});
    if (!f.OmitFmt) {
        std::vector<uint8_t> fmt;
        uint32_t align = f.BlockAlignOverride >= 0 ? uint32_t(f.BlockAlignOverride)
                                                   : uint32_t(f.Channels * (f.Bits / 8));
        PutLE(fmt, 2, {f.FormatTag, f.Channels});
        PutLE(fmt, 4, {f.Rate, f.Rate * align});
        PutLE(fmt, 2, {align, f.Bits});
        if (f.FormatTag != 1) {
            PutLE(fmt, 2, {uint32_t(f.FormatExtra.size())});
            fmt.insert(fmt.end(), f.FormatExtra.begin(), f.FormatExtra.end());
        }
        PutChunk(out, "fmt ", fmt, f.FmtSizeOverride);
    }
    if (!f.OmitData)
        PutChunk(out, "data", f.Samples, f.DataSizeOverride);
    if (f.ListAfterData) {
        std::vector<uint8_t> list;
        PutId(list, "INFO");
        PutChunk(list, "INAM", {'n', 'a', 'm', 'e', 0, 0});
        PutChunk(out, "LIST", list);
    }
    uint32_t riff =
        uint32_t(f.RiffSizeOverride >= 0 ? f.RiffSizeOverride : int64_t(out.size()) - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = uint8_t(riff >> (8 * i));
    if (f.TruncateTo >= 0 && size_t(f.TruncateTo) < out.size())
        out.resize(size_t(f.TruncateTo));
    return out;
}

void WriteBytesFile(const std::string& fileName, const std::vector<uint8_t>& bytes) {
    std::ofstream os(fileName, std::ios::binary | std::ios::trunc);
    os.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(os.good()) << "cannot write " << fileName;
}

void WriteWavFile(const std::string& fileName, const TWavFixture& fixture) {
    WriteBytesFile(fileName, MakeWavBytes(fixture));
}

std::vector<uint8_t> ReadBytesFile(const std::string& fileName) {
    std::ifstream is(fileName, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(is)),
                                std::istreambuf_iterator<char>());
}

std::vector<uint8_t> MakeRampSamples(int frames, int channels, int bits) {
    std::vector<uint8_t> out;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            PutLE(out, bits / 8, {uint32_t(bits == 16 ? 100 * i + c : 3 * i + c)});
    return out;
}

std::vector<uint8_t> MakeSineSamples(int frames, int channels, uint32_t rate) {
    std::vector<uint8_t> out;
    out.reserve(size_t(frames) * size_t(channels) * 2);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double hz = c == 0 ? 440 : 1000;
            const double v = 22000 * std::sin(2 * M_PI * hz * i / rate);
            PutLE(out, 2, {uint32_t(uint16_t(int16_t(std::lround(v))))});
        }
    return out;
}
