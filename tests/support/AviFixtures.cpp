#include "AviFixtures.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "TestData.h"

uint32_t FourCC(const char (&s)[5]) {
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
}

namespace {

struct TWriter {
    std::vector<uint8_t> B;

    size_t Pos() const { return B.size(); }
    void U32s(std::initializer_list<uint32_t> values) { PutLE(B, 4, values); }
    // Opens a chunk or list: writes the id and a size to be patched; returns the size's place.
    size_t Begin(uint32_t id) {
        U32s({id, 0});
        return Pos() - 4;
    }
    // Patches the size (without the pad byte) and pads to an even length.
    void End(size_t sizePos) {
        const uint32_t size = uint32_t(Pos() - sizePos - 4);
        std::memcpy(&B[sizePos], &size, 4);
        if (B.size() & 1)
            B.push_back(0);
    }
    void Chunk(uint32_t id, const std::vector<uint8_t>& data) {
        const size_t at = Begin(id);
        B.insert(B.end(), data.begin(), data.end());
        End(at);
    }
};

int FirstVideoStream(const TAviSpec& spec) {
    for (size_t i = 0; i < spec.Streams.size(); ++i)
        if (spec.Streams[i].Type == FourCC("vids"))
            return int(i);
    return -1;
}

bool IsVideoChunk(const TAviChunkSpec& c, int stream) {
    return c.Stream == stream && !c.Kind.empty() && c.Kind[0] == 'd';
}

uint32_t ChunkId(const TAviChunkSpec& c) {
    auto kind = [&](size_t i) { return uint8_t(c.Kind.size() > i ? c.Kind[i] : '?'); };
    return MakeFourCC(uint8_t('0' + c.Stream / 10), uint8_t('0' + c.Stream % 10), kind(0), kind(1));
}

} // namespace

uint32_t TAviImage::GetU32(size_t pos) const {
    uint32_t v;
    std::memcpy(&v, &Bytes.at(pos + 3) - 3, 4);
    return v;
}

void TAviImage::PutU32(size_t pos, uint32_t value) {
    std::memcpy(&Bytes.at(pos + 3) - 3, &value, 4);
}

void TAviImage::PutId(size_t pos, const char (&id)[5]) {
    PutU32(pos, FourCC(id));
}

void TAviImage::Save(const std::string& fileName) const {
    std::ofstream f(fileName, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + fileName);
}

namespace {

// The "hdrl" list: the main header, then each stream's header and format.
void WriteHeaders(const TAviSpec& spec, TWriter& w, TAviImage& out) {
    const int video = FirstVideoStream(spec);
    uint32_t width = spec.Width, height = spec.Height, frames = 0;
    if (video >= 0 && spec.Streams[size_t(video)].Format.size() >= 12) {
        const auto& f = spec.Streams[size_t(video)].Format;
        if (width == 0)
            std::memcpy(&width, &f[4], 4);
        if (height == 0)
            std::memcpy(&height, &f[8], 4);
    }
    for (const auto& c : spec.Chunks)
        frames += IsVideoChunk(c, video);
    out.HdrlPos = w.Pos();
    const size_t hdrl = w.Begin(FourCC("LIST"));
    w.U32s({FourCC("hdrl")});
    out.AvihPos = w.Pos();
    const size_t avih = w.Begin(FourCC("avih"));
    // Time per frame, bytes per second, padding, flags (has index), total and initial frames,
    // streams, buffer size, width, height, reserved.
    w.U32s({spec.MicroSecPerFrame, 0, 0, spec.Index == TAviIndexMode::None ? 0u : 0x10u,
            spec.TotalFrames >= 0 ? uint32_t(spec.TotalFrames) : frames, 0,
            uint32_t(spec.Streams.size()), 0, width, height, 0, 0, 0, 0});
    w.End(avih);
    for (size_t s = 0; s < spec.Streams.size(); ++s) {
        const TAviStreamSpec& st = spec.Streams[s];
        uint32_t count = 0, largest = 0;
        for (const auto& c : spec.Chunks)
            if (c.Stream == int(s)) {
                ++count;
                largest = std::max(largest, uint32_t(c.Data.size()));
            }
        out.StrlPos.push_back(w.Pos());
        const size_t strl = w.Begin(FourCC("LIST"));
        w.U32s({FourCC("strl")});
        out.StrhPos.push_back(w.Pos());
        // Type, handler, flags, priority and language, initial frames, scale, rate, start,
        // length, buffer size, quality (default), sample size, frame rectangle.
        std::vector<uint8_t> h;
        PutLE(h, 4,
              {st.Type, st.Handler, 0, 0, 0, st.Scale, st.Rate, 0, count, largest, 0xFFFFFFFF,
               st.SampleSize});
        PutLE(h, 2, {0, 0, width, height});
        h.resize(st.StrhSize, 0);
        w.Chunk(FourCC("strh"), h);
        out.StrfPos.push_back(w.Pos());
        w.Chunk(FourCC("strf"), st.Format);
        w.End(strl);
    }
    w.End(hdrl);
}

// An "AVIX" segment; its standard index points at chunk data from the segment's start.
void WriteSegment(const TAviSpec& spec, const TAviSegmentSpec& seg, TWriter& w, TAviImage& out) {
    const int video = FirstVideoStream(spec);
    out.SegmentPos.push_back(w.Pos());
    const size_t riff = w.Begin(FourCC("RIFF"));
    w.U32s({FourCC("AVIX")});
    const size_t movi = w.Begin(FourCC("LIST"));
    w.U32s({FourCC("movi")});
    std::vector<size_t>& at = out.SegmentChunkPos.emplace_back();
    std::vector<uint32_t> entries;
    for (const auto& c : seg.Chunks) {
        at.push_back(w.Pos());
        if (IsVideoChunk(c, video))
            entries.insert(entries.end(), {uint32_t(w.Pos() + 8 - out.SegmentPos.back()),
                                           uint32_t(c.Data.size()) | (c.Key ? 0 : 0x80000000u)});
        w.Chunk(ChunkId(c), c.Data);
    }
    if (seg.StandardIndex && video >= 0) {
        const uint8_t d0 = uint8_t('0' + video / 10), d1 = uint8_t('0' + video % 10);
        const size_t ix = w.Begin(MakeFourCC('i', 'x', d0, d1));
        // Two words an entry, an index of chunks; entries in use, chunk id, 64-bit base.
        w.U32s({2u | (1u << 24), uint32_t(entries.size() / 2), MakeFourCC(d0, d1, 'd', 'b'),
                uint32_t(out.SegmentPos.back()), 0, 0});
        for (const uint32_t v : entries)
            w.U32s({v});
        w.End(ix);
    }
    w.End(movi);
    w.End(riff);
}

} // namespace

TAviImage BuildAvi(const TAviSpec& spec) {
    TAviImage out;
    TWriter w;
    const size_t riff = w.Begin(FourCC("RIFF"));
    w.U32s({FourCC("AVI ")});
    WriteHeaders(spec, w, out);
    if (spec.JunkBeforeMovi) {
        w.Chunk(FourCC("JUNK"), std::vector<uint8_t>(27)); // odd: the reader must skip the pad
        const size_t info = w.Begin(FourCC("LIST"));
        w.U32s({FourCC("INFO")});
        w.Chunk(FourCC("ISFT"), {'t', 'e', 's', 't', 0});
        w.End(info);
    }
    out.MoviListPos = w.Pos();
    const size_t movi = w.Begin(FourCC("LIST"));
    out.MoviPos = w.Pos();
    w.U32s({FourCC("movi")});
    for (const auto& c : spec.Chunks) {
        out.ChunkPos.push_back(w.Pos());
        w.Chunk(ChunkId(c), c.Data);
    }
    w.End(movi);
    if (spec.JunkBeforeIdx1)
        w.Chunk(FourCC("JUNK"), std::vector<uint8_t>(8));
    if (spec.Index != TAviIndexMode::None) {
        out.Idx1Pos = w.Pos();
        const size_t idx = w.Begin(FourCC("idx1"));
        const size_t base = spec.Index == TAviIndexMode::Relative ? out.MoviPos : 0;
        // Chunk id, flags (key frame), offset of the chunk header, data size.
        for (size_t i = 0; i < spec.Chunks.size(); ++i) {
            const auto& c = spec.Chunks[i];
            if (!c.Indexed)
                continue;
            out.EntryPos.push_back(w.Pos());
            w.U32s({ChunkId(c), c.Key ? 0x10u : 0u, uint32_t(out.ChunkPos[i] - base),
                    uint32_t(c.Data.size())});
        }
        for (const auto& e : spec.ExtraEntries) {
            out.EntryPos.push_back(w.Pos());
            w.U32s({e.Id, e.Flags, e.Offset, e.Size});
        }
        w.End(idx);
    }
    w.End(riff);
    for (const auto& seg : spec.Segments)
        WriteSegment(spec, seg, w, out);
    out.Bytes = std::move(w.B);
    return out;
}

TAviStreamSpec MakeVideoStream(int32_t width, int32_t height, uint16_t bitCount, uint32_t handler,
                               uint32_t compression, const std::vector<uint8_t>& tail) {
    TAviStreamSpec s;
    s.Type = FourCC("vids");
    s.Handler = handler;
    TBitmapInfoHeader bi{};
    bi.biSize = 40;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = bitCount;
    bi.biCompression = compression;
    bi.biSizeImage = uint32_t(DIBRowBytes(width, bitCount, 32) * (height < 0 ? -height : height));
    bi.biClrUsed = bitCount <= 8 ? uint32_t(tail.size() / 4) : 0;
    s.Format.resize(40);
    std::memcpy(s.Format.data(), &bi, 40);
    s.Format.insert(s.Format.end(), tail.begin(), tail.end());
    return s;
}

TAviStreamSpec MakeAudioStream(const TAudioFormat& format, uint32_t formatSize) {
    TAviStreamSpec s;
    s.Type = FourCC("auds");
    s.Handler = 0;
    s.Scale = format.Wfx.nBlockAlign ? format.Wfx.nBlockAlign : 1;
    s.Rate = format.Wfx.nAvgBytesPerSec;
    s.SampleSize = format.Wfx.nBlockAlign;
    const auto* p = reinterpret_cast<const uint8_t*>(&format);
    s.Format.assign(p, p + std::min<size_t>(formatSize, sizeof(format)));
    s.Format.resize(formatSize, 0);
    return s;
}

std::vector<uint8_t> MakeDib24Frame(int32_t width, int32_t height, uint8_t seed) {
    const int32_t row = DIBRowBytes(width, 24, 32);
    std::vector<uint8_t> v(size_t(row) * size_t(height < 0 ? -height : height), 0);
    for (size_t y = 0; y * size_t(row) < v.size(); ++y)
        for (int32_t x = 0; x < width * 3; ++x)
            v[y * size_t(row) + size_t(x)] = uint8_t(seed * 7 + y * 13 + size_t(x));
    return v;
}

std::vector<uint8_t> MakePattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i)
        v[i] = uint8_t(seed * 31 + i * 5 + (i >> 8));
    return v;
}

TAviSpec MakeDibMovie(int32_t width, int32_t height, int frames, uint32_t microSecPerFrame) {
    TAviSpec spec;
    spec.MicroSecPerFrame = microSecPerFrame;
    spec.Streams.push_back(MakeVideoStream(width, height, 24));
    if (microSecPerFrame != 0) {
        spec.Streams.back().Scale = microSecPerFrame;
        spec.Streams.back().Rate = 1000000;
    }
    for (int i = 0; i < frames; ++i) {
        TAviChunkSpec c;
        c.Stream = 0;
        c.Kind = "db";
        c.Data = MakeDib24Frame(width, height, uint8_t(i));
        spec.Chunks.push_back(std::move(c));
    }
    return spec;
}

void AddAudioTrack(TAviSpec& spec, const TAudioFormat& format, const std::vector<uint32_t>& sizes,
                   const std::vector<int>& beforeFrame, uint32_t formatSize) {
    const int stream = int(spec.Streams.size());
    spec.Streams.push_back(MakeAudioStream(format, formatSize));
    const int videoStream = FirstVideoStream(spec);
    std::vector<TAviChunkSpec> merged;
    size_t a = 0;
    int frame = 0;
    auto emitAudio = [&](bool all) {
        while (a < sizes.size() && (all || beforeFrame.at(a) <= frame)) {
            TAviChunkSpec c;
            c.Stream = stream;
            c.Kind = "wb";
            c.Data = MakePattern(sizes[a], uint32_t(100 * stream + a));
            merged.push_back(std::move(c));
            ++a;
        }
    };
    for (auto& c : spec.Chunks) {
        if (IsVideoChunk(c, videoStream)) {
            emitAudio(false);
            ++frame;
        }
        merged.push_back(std::move(c));
    }
    emitAudio(true);
    spec.Chunks = std::move(merged);
}
