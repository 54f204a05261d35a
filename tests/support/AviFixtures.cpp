#include "AviFixtures.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

uint32_t FourCC(const char (&s)[5]) {
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
}

namespace {

class TWriter {
public:
    std::vector<uint8_t> B;

    size_t Pos() const { return B.size(); }
    void U8(uint8_t v) { B.push_back(v); }
    void U16(uint16_t v) {
        U8(uint8_t(v));
        U8(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void Id(uint32_t id) { U32(id); }
    void Bytes(const std::vector<uint8_t>& v) { B.insert(B.end(), v.begin(), v.end()); }
    void Zeros(size_t n) { B.insert(B.end(), n, 0); }
    void Pad() {
        if (B.size() & 1)
            U8(0);
    }
    // Opens a chunk or list: writes the id and a size to be patched; returns the size's place.
    size_t Begin(uint32_t id) {
        Id(id);
        size_t at = Pos();
        U32(0);
        return at;
    }
    // Patches the size (without the pad byte) and pads to an even length.
    void End(size_t sizePos) {
        uint32_t size = uint32_t(Pos() - sizePos - 4);
        std::memcpy(&B[sizePos], &size, 4);
        Pad();
    }
};

bool IsVideoChunk(const TAviChunkSpec& c, int stream) {
    return c.Stream == stream && !c.Kind.empty() && c.Kind[0] == 'd';
}

uint32_t ChunkId(const TAviChunkSpec& c) {
    char s[5] = {char('0' + c.Stream / 10), char('0' + c.Stream % 10),
                 c.Kind.size() > 0 ? c.Kind[0] : '?', c.Kind.size() > 1 ? c.Kind[1] : '?', 0};
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
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

TAviImage BuildAvi(const TAviSpec& spec) {
    TAviImage out;
    TWriter w;

    int videoStream = -1;
    for (size_t i = 0; i < spec.Streams.size(); ++i)
        if (spec.Streams[i].Type == FourCC("vids")) {
            videoStream = int(i);
            break;
        }
    uint32_t width = spec.Width, height = spec.Height;
    if (videoStream >= 0 && spec.Streams[videoStream].Format.size() >= 12) {
        const auto& f = spec.Streams[videoStream].Format;
        if (width == 0)
            std::memcpy(&width, &f[4], 4);
        if (height == 0)
            std::memcpy(&height, &f[8], 4);
    }
    uint32_t frames = 0;
    for (const auto& c : spec.Chunks)
        if (IsVideoChunk(c, videoStream))
            ++frames;

    size_t riff = w.Begin(FourCC("RIFF"));
    w.Id(FourCC("AVI "));

    out.HdrlPos = w.Pos();
    size_t hdrl = w.Begin(FourCC("LIST"));
    w.Id(FourCC("hdrl"));
    out.AvihPos = w.Pos();
    size_t avih = w.Begin(FourCC("avih"));
    w.U32(spec.MicroSecPerFrame);                        // microseconds per frame
    w.U32(0);                                            // maximum bytes per second (unknown)
    w.U32(0);                                            // padding granularity
    w.U32(spec.Index == TAviIndexMode::None ? 0 : 0x10); // flags: has index
    w.U32(spec.TotalFrames >= 0 ? uint32_t(spec.TotalFrames) : frames); // total frames
    w.U32(0);                                                           // initial frames
    w.U32(uint32_t(spec.Streams.size()));                               // streams
    w.U32(0);                                                           // suggested buffer size
    w.U32(width);                                                       // width
    w.U32(height);                                                      // height
    w.Zeros(16);                                                        // reserved
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
        size_t strl = w.Begin(FourCC("LIST"));
        w.Id(FourCC("strl"));
        out.StrhPos.push_back(w.Pos());
        size_t strh = w.Begin(FourCC("strh"));
        TWriter h;
        h.Id(st.Type);        // stream type
        h.Id(st.Handler);     // handler
        h.U32(0);             // flags
        h.U16(0);             // priority
        h.U16(0);             // language
        h.U32(0);             // initial frames
        h.U32(st.Scale);      // scale
        h.U32(st.Rate);       // rate (rate / scale = samples per second)
        h.U32(0);             // start
        h.U32(count);         // length
        h.U32(largest);       // suggested buffer size
        h.U32(0xFFFFFFFF);    // quality: default
        h.U32(st.SampleSize); // sample size
        h.U16(0);             // frame rectangle: left, top, right, bottom
        h.U16(0);
        h.U16(uint16_t(width));
        h.U16(uint16_t(height));
        h.B.resize(st.StrhSize, 0);
        w.Bytes(h.B);
        w.End(strh);
        out.StrfPos.push_back(w.Pos());
        size_t strf = w.Begin(FourCC("strf"));
        w.Bytes(st.Format);
        w.End(strf);
        w.End(strl);
    }
    w.End(hdrl);

    if (spec.JunkBeforeMovi) {
        size_t junk = w.Begin(FourCC("JUNK"));
        w.Zeros(27); // odd on purpose: the reader must skip the pad byte
        w.End(junk);
        size_t info = w.Begin(FourCC("LIST"));
        w.Id(FourCC("INFO"));
        size_t isft = w.Begin(FourCC("ISFT"));
        w.Bytes({'t', 'e', 's', 't', 0});
        w.End(isft);
        w.End(info);
    }

    out.MoviListPos = w.Pos();
    size_t movi = w.Begin(FourCC("LIST"));
    out.MoviPos = w.Pos();
    w.Id(FourCC("movi"));
    for (const auto& c : spec.Chunks) {
        out.ChunkPos.push_back(w.Pos());
        size_t ck = w.Begin(ChunkId(c));
        w.Bytes(c.Data);
        w.End(ck);
    }
    w.End(movi);

    if (spec.JunkBeforeIdx1) {
        size_t junk = w.Begin(FourCC("JUNK"));
        w.Zeros(8);
        w.End(junk);
    }

    if (spec.Index != TAviIndexMode::None) {
        out.Idx1Pos = w.Pos();
        size_t idx = w.Begin(FourCC("idx1"));
        const size_t base = spec.Index == TAviIndexMode::Relative ? out.MoviPos : 0;
        for (size_t i = 0; i < spec.Chunks.size(); ++i) {
            const auto& c = spec.Chunks[i];
            if (!c.Indexed)
                continue;
            out.EntryPos.push_back(w.Pos());
            w.Id(ChunkId(c));                        // chunk id
            w.U32(c.Key ? 0x10 : 0);                 // flags: key frame
            w.U32(uint32_t(out.ChunkPos[i] - base)); // offset of the chunk header
            w.U32(uint32_t(c.Data.size()));          // data size
        }
        for (const auto& e : spec.ExtraEntries) {
            out.EntryPos.push_back(w.Pos());
            w.Id(e.Id);
            w.U32(e.Flags);
            w.U32(e.Offset);
            w.U32(e.Size);
        }
        w.End(idx);
    }
    w.End(riff);
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
    int videoStream = -1;
    for (size_t i = 0; i < spec.Streams.size(); ++i)
        if (spec.Streams[i].Type == FourCC("vids")) {
            videoStream = int(i);
            break;
        }
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
