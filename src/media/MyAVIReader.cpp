#include "MyAVIReader.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

#include "MyByteOrder.h"

static_assert(std::endian::native == std::endian::little,
              "headers are copied from the file as they are stored (little-endian)");

namespace {

// Chunk and list ids match without regard to letter case ("riff", "Avi ", "IDX1" are accepted).
bool SameIdNoCase(uint32_t code, uint32_t id) {
    for (int i = 0; i < 4; ++i) {
        const int c = (code >> (8 * i)) & 0xFF, d = (id >> (8 * i)) & 0xFF;
        if (std::tolower(c) != std::tolower(d))
            return false;
    }
    return true;
}

// An id as printable text for messages; bytes outside ASCII show as '?'.
std::string IdText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

// The stream number in the first two characters of a chunk id ("01wb" -> 1); -1 when they are
// not two decimal digits.
int StreamNoOfId(uint32_t code) {
    int c0 = code & 0xFF, c1 = (code >> 8) & 0xFF;
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9')
        return -1;
    return (c0 - '0') * 10 + (c1 - '0');
}

int KindOfId(uint32_t code) {
    return std::tolower((code >> 16) & 0xFF);
}

// Every id a writer gives a chunk is four printable characters. Anything else (a stretch of zero
// bytes that a crashed recorder left, say) is no chunk, and a walk that took it for one would
// crawl through gigabytes eight bytes at a time.
bool IsChunkId(uint32_t code) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = (code >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// A standard index is named "ix" and the two digits of its stream.
bool IsStandardIndexOf(uint32_t code, int streamNo) {
    return std::tolower(code & 0xFF) == 'i' && std::tolower((code >> 8) & 0xFF) == 'x' &&
           StreamNoOfId(code >> 16) == streamNo;
}

// Standard indexes of the video stream taken from one segment; writers put one or a few there.
constexpr size_t MaxSegmentIndexes = 64;

} // namespace

// A read position over the source that turns every short read or bad size into an EReadError
// carrying the file name and the offset where the fault lies.
struct TAviReader::TCursorHead {
    uint32_t Id = 0;
    uint32_t Size = 0;
    int64_t Start = 0; // position of the id
    int64_t End = 0;   // end of the data, without the pad byte
    int64_t Next = 0;  // where the next chunk starts (data padded to an even length)
};

class TAviReader::TCursor {
public:
    using THead = TCursorHead;

    TCursor(IByteSource& source, const std::string& fileName)
        : Source(source), FileName(fileName) {}

    int64_t Pos = 0;

    [[noreturn]] void Fail(const std::string& what, int64_t at) const {
        throw EReadError(what + " (" + FileName + ", offset " + std::to_string(at) + ")", FileName,
                         at);
    }

    void Read(void* buffer, size_t count, const char* what) {
        if (!Source.ReadExact(Pos, buffer, count))
            Fail(std::string("The file ends inside ") + what, Pos);
        Pos += static_cast<int64_t>(count);
    }

    uint32_t ReadU32(const char* what) {
        uint8_t b[4];
        Read(b, 4, what);
        return Le32(b);
    }

    void Expect(uint32_t id) {
        int64_t at = Pos;
        uint32_t got = ReadU32(IdText(id).c_str());
        if (!SameIdNoCase(got, id))
            Fail("Expected \"" + IdText(id) + "\", found \"" + IdText(got) + "\"", at);
    }

    // Reads a chunk header; the chunk must end inside limit (its parent's end).
    THead ReadHead(int64_t limit) {
        THead h;
        h.Start = Pos;
        h.Id = ReadU32("a chunk header");
        h.Size = ReadU32("a chunk header");
        h.End = Pos + h.Size;
        h.Next = h.End + (h.Size & 1);
        if (h.End > limit)
            Fail("Chunk \"" + IdText(h.Id) + "\" of " + std::to_string(h.Size) +
                     " bytes ends beyond its enclosing list or the file",
                 h.Start);
        if (SameIdNoCase(h.Id, RIFF_ID_LIST) && h.Size < 4)
            Fail("List of " + std::to_string(h.Size) + " bytes is too short for its type", h.Start);
        return h;
    }

    THead ExpectHead(uint32_t id, int64_t limit) {
        Expect(id);
        Pos -= 4;
        return ReadHead(limit);
    }

    THead ExpectList(uint32_t type, int64_t limit) {
        THead h = ExpectHead(RIFF_ID_LIST, limit);
        Expect(type);
        return h;
    }

private:
    IByteSource& Source;
    const std::string& FileName;
};

TAviReader::TAviReader(IUiServices* ui) : Ui(ui) {}

TAviReader::~TAviReader() {
    Close();
}

bool TAviReader::Open(const std::string& fileName, TAviUse use) {
    Close();
    FileName = fileName;
    Use = use;
    // Callers report missing files in their own words.
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec))
        return false;
    return OpenSource(TFileByteSource::Open(fileName));
}

bool TAviReader::Open(std::unique_ptr<IByteSource> source, const std::string& name, TAviUse use) {
    Close();
    FileName = name;
    Use = use;
    return OpenSource(std::move(source));
}

bool TAviReader::OpenLane(const TAviReader& whole) {
    Close();
    if (!whole.Loaded || !whole.Source)
        return false;
    FileName = whole.FileName;
    Source = TFileByteSource::Open(FileName);
    // The file must still be the one whole parsed.
    if (!Source || Source->Size() != whole.Source->Size()) {
        Close();
        return false;
    }
    RiffSize = whole.RiffSize;
    MoviPos = whole.MoviPos;
    RelativeOffsets = whole.RelativeOffsets;
    Segments = whole.Segments;
    DamagedAt = whole.DamagedAt;
    MainHeader = whole.MainHeader;
    ClaimedFrames = whole.ClaimedFrames;
    VideoStreamHeader = whole.VideoStreamHeader;
    VideoFormat = whole.VideoFormat;
    VideoFormatTail = whole.VideoFormatTail;
    VideoStreamNo = whole.VideoStreamNo;
    VideoChunks = whole.VideoChunks;
    Loaded = true;
    return true;
}

bool TAviReader::OpenSource(std::unique_ptr<IByteSource> source) {
    Source = std::move(source);
    OpenError.clear();
    OpenErrorOffset = -1;
    try {
        ParseFile();
        // The pictures are judged only by a use that shows them; the sound is whole without.
        if (Use == TAviUse::Pictures) {
            CheckRawFrames();
            OpenFrameReader();
        }
        Loaded = true;
        // Said only of a movie that is taken, never just before it is refused.
        if (Ui && DamagedAt >= 0)
            Ui->ShowMessage(DamagedSegmentText(), TMsgKind::Warning);
        // The pictures are still worth having; the user learns why the sound is missing.
        if (Ui && HasAudioStream && !AudioDecodable)
            Ui->ShowMessage(UndecodableAudioText(), TMsgKind::Warning);
        // Frames that can only come out empty are said once here, not met frame by frame.
        if (Ui && !GetUndecodableVideo().empty())
            Ui->ShowMessage("The pictures of " + FileName +
                                " cannot be decoded: " + GetUndecodableVideo() + ".",
                            TMsgKind::Warning);
        return true;
    } catch (const EReadError& e) {
        OpenError = e.GetMessage();
        OpenErrorOffset = e.Offset;
    } catch (const Exception& e) {
        // Numbers that do not fit (EIntOverflow) mean a damaged header as well.
        OpenError = e.GetMessage() + " (" + FileName + ")";
    } catch (const std::bad_alloc&) {
        OpenError = "Out of memory reading the index (" + FileName + ")";
    }
    Close();
    // The user is told what is wrong with the file, not only that it failed.
    if (Ui)
        Ui->ShowMessage("Can not open " + FileName + "\n" + OpenError, TMsgKind::Error);
    return false;
}

std::string TAviReader::UndecodableAudioText() const {
    const TWaveFormatEx& s = SourceAudioFormat.Wfx;
    // Tags are written in hex, as the WAV reader and format lists name them (0xFFFE).
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%04X", unsigned(s.wFormatTag));
    // Tag, channels, rate, byte rate and block size take 14 bytes.
    constexpr uint32_t LeastFormatBytes = 14;
    std::string what;
    if (AudioFormatBytes < LeastFormatBytes)
        what = "its format record holds " + std::to_string(AudioFormatBytes) +
               " bytes, too few to describe a sound";
    else if (IsAudioPCM())
        what = "its PCM format (" + std::to_string(s.nChannels) +
               (s.nChannels == 1 ? " channel of " : " channels of ") +
               std::to_string(s.wBitsPerSample) + " bits at " + std::to_string(s.nSamplesPerSec) +
               " Hz) cannot be played";
    else
        what = "no decoder reads its format (tag " + std::string(tag) + ")";
    return "The sound track of " + FileName + " is left out: " + what +
           (Use == TAviUse::Pictures ? ". The movie's pictures are used without sound."
                                     : ". The movie gives no sound.");
}

void TAviReader::Close() {
    UnprepareAudio();
    // The frame decoding reads through Source, so it goes first.
    CloseFrameDecoding();
    Source.reset();
    Loaded = false;
    HasAudioStream = false;
    AudioDecodable = false;
    AudioChunks.clear();
    VideoChunks.clear();
    RiffSize = 0;
    MoviPos = 0;
    Segments = 0;
    DamagedAt = -1;
    MainHeader = {};
    ClaimedFrames = 0;
    VideoStreamHeader = {};
    VideoFormat = {};
    VideoFormatTail.clear();
    AudioStreamHeader = {};
    VideoStreamNo = -1;
    AudioStreamNo = -1;
    RelativeOffsets = false;
    AudioSkewSeconds = 0;
    AudioSkewFrames = 0;
    PcmFrameBytes = 0;
    AudioMarks.clear();
    AudioTrackBytes = 0;
    DecodedPcmFormat = {};
    SourceAudioFormat = {};
    AudioFormatBytes = 0;
}

Extended TAviReader::GetFrameRate() const {
    if (MainHeader.dwMicroSecPerFrame == 0)
        return 0;
    return 1000000.0L / MainHeader.dwMicroSecPerFrame;
}

Extended TAviReader::GetDuration() const {
    return MainHeader.dwTotalFrames * (MainHeader.dwMicroSecPerFrame / 1000000.0L);
}

bool TAviReader::IsDIB() const {
    return VideoStreamHeader.fccHandler == RIFF_ID_DIB;
}

bool TAviReader::IsRawVideo() const {
    return VideoFormat.biCompression == BI_RGB || VideoFormat.biCompression == BI_BITFIELDS;
}

int64_t TAviReader::ChunkDataPos(int64_t offset) const {
    return offset + 8 + (RelativeOffsets ? MoviPos : 0);
}

bool TAviReader::ReadChunkData(int64_t offset, uint32_t size, std::vector<uint8_t>& buffer,
                               size_t padding) {
    buffer.clear();
    if (!Source)
        return false;
    const int64_t pos = ChunkDataPos(offset);
    const int64_t available = Source->Size() - pos;
    // Bounded by the bytes present before anything is allocated.
    if (pos < 0 || available < 0 || int64_t(size) > available)
        return false;
    buffer.assign(size_t(size) + padding, 0);
    if (!Source->ReadExact(pos, buffer.data(), size)) {
        buffer.clear();
        return false;
    }
    return true;
}

bool TAviReader::ReadVideoChunk(int32_t index, std::vector<uint8_t>& buffer, size_t padding) {
    if (index < 0 || size_t(index) >= VideoChunks.size()) {
        buffer.clear();
        return false;
    }
    const TPictInfo& p = VideoChunks[size_t(index)];
    return ReadChunkData(p.Offset, p.Size, buffer, padding);
}

bool TAviReader::ReadAudioChunk(int32_t index, std::vector<uint8_t>& buffer, size_t padding) {
    if (index < 0 || size_t(index) >= AudioChunks.size()) {
        buffer.clear();
        return false;
    }
    const TAudioInfo& a = AudioChunks[size_t(index)];
    return ReadChunkData(a.Offset, a.Size, buffer, padding);
}

void TAviReader::ParseFile() {
    VideoChunks.clear();
    AudioChunks.clear();
    if (!Source)
        throw EReadError("The file cannot be opened for reading (" + FileName + ")", FileName, -1);
    if (Source->Size() == 0)
        throw EReadError("The file is empty (" + FileName + ")", FileName, 0);
    TCursor c(*Source, FileName);

    const TCursor::THead riff = c.ExpectHead(RIFF_ID_RIFF, Source->Size());
    RiffSize = riff.Size;
    c.Expect(RIFF_ID_AVI);
    ParseHeaderList(c, riff.End);
    const TCursor::THead idx1 = FindIndex(c, riff.End);
    ReadIndex(c, idx1.Size);
    ReadSegments(c, riff.Next);
    if (HasAudioStream && VideoChunks.empty())
        c.Fail("The index lists sound but no video frame", idx1.Start);
    FinishIndex();
}

void TAviReader::ParseHeaderList(TCursor& c, int64_t riffEnd) {
    const TCursor::THead hdrl = c.ExpectList(RIFF_ID_HDRL, riffEnd);
    const TCursor::THead avih = c.ExpectHead(RIFF_ID_AVIH, hdrl.End);
    if (avih.Size != sizeof(TAviMainHeader))
        c.Fail("Main header of " + std::to_string(avih.Size) + " bytes instead of 56", avih.Start);
    c.Read(&MainHeader, sizeof(MainHeader), "the main header");
    constexpr uint32_t int32Max = std::numeric_limits<int32_t>::max();
    if (MainHeader.dwWidth > int32Max || MainHeader.dwHeight > int32Max ||
        MainHeader.dwTotalFrames > int32Max)
        c.Fail("Main header gives an impossible frame size or count", avih.Start + 8);
    c.Pos = avih.Next;

    // Stream lists, numbered in file order as the chunk ids count them. Other chunks of the
    // header list (padding, OpenDML extensions) are passed over; bytes that are no chunk end it.
    int streamNo = 0;
    while (c.Pos + 8 <= hdrl.End) {
        const TCursor::THead h = c.ReadHead(hdrl.End);
        if (!IsChunkId(h.Id))
            break;
        if (SameIdNoCase(h.Id, RIFF_ID_LIST) &&
            SameIdNoCase(c.ReadU32("a list type"), RIFF_ID_STRL)) {
            if (streamNo < MaxStreams)
                ParseStreamList(c, streamNo, h.End);
            ++streamNo;
        }
        c.Pos = h.Next;
    }
    if (VideoStreamNo < 0)
        c.Fail("The file has no video stream", hdrl.Start);
    if (HasAudioStream)
        SetupAudioFormats();
    c.Pos = hdrl.Next;
}

TAviReader::TCursorHead TAviReader::FindIndex(TCursor& c, int64_t riffEnd) {
    // Any chunks and lists may stand between the header list and the movie data.
    TCursor::THead movi;
    for (;;) {
        if (c.Pos + 8 > riffEnd)
            c.Fail("No \"movi\" list in the file", c.Pos);
        const TCursor::THead h = c.ReadHead(riffEnd);
        if (!IsChunkId(h.Id))
            c.Fail("Bytes that are no chunk before the \"movi\" list", h.Start);
        if (SameIdNoCase(h.Id, RIFF_ID_LIST) &&
            SameIdNoCase(c.ReadU32("a list type"), RIFF_ID_MOVI)) {
            movi = h;
            break;
        }
        c.Pos = h.Next;
    }
    MoviPos = movi.Start + 8;

    c.Pos = movi.Next;
    if (c.Pos + 8 > riffEnd)
        c.Fail("No \"idx1\" index behind the \"movi\" list", c.Pos);
    const int64_t idx1Pos = c.Pos;
    if (!SameIdNoCase(c.ReadU32("the index header"), RIFF_ID_IDX1))
        c.Fail("The \"idx1\" index does not follow the \"movi\" list", idx1Pos);
    c.Pos = idx1Pos;
    return c.ReadHead(riffEnd);
}

void TAviReader::FinishIndex() {
    // Only indexed frames can be shown; a header that claims more (up to 2^31 frames of over an
    // hour each) would give the movie a length it does not have. The main header of an AVI 2.0
    // file counts the frames of its first segment only.
    // The last sound chunk plays to the last frame, in whichever form it was found.
    if (!AudioChunks.empty())
        AudioChunks.back().LastFrame = static_cast<int32_t>(VideoChunks.size()) - 1;
    ClaimedFrames = MainHeader.dwTotalFrames;
    if (MainHeader.dwTotalFrames > VideoChunks.size() || Segments > 0)
        MainHeader.dwTotalFrames = static_cast<uint32_t>(VideoChunks.size());
    if (IsAudioPCM() && AudioDecodable)
        MapPcmAudio();
    MarkAudioBytes();
}

void TAviReader::ParseStreamList(TCursor& c, int streamNo, int64_t listEnd) {
    const TCursor::THead strh = c.ExpectHead(RIFF_ID_STRH, listEnd);
    if (strh.Size < sizeof(TAviStreamHeader))
        c.Fail("Stream header of " + std::to_string(strh.Size) + " bytes, fewer than 48",
               strh.Start);
    TAviStreamHeader sh;
    c.Read(&sh, sizeof(sh), "a stream header");
    c.Pos = strh.Next;

    // The first video and the first audio stream are taken; further ones (a second sound
    // track, subtitles) are left alone so their chunks are never mixed in.
    const bool video = VideoStreamNo < 0 && SameIdNoCase(sh.fccType, RIFF_ID_VIDS);
    const bool audio = AudioStreamNo < 0 && SameIdNoCase(sh.fccType, RIFF_ID_AUDS);
    if (!video && !audio)
        return;

    const TCursor::THead strf = c.ExpectHead(RIFF_ID_STRF, listEnd);
    if (video) {
        VideoStreamHeader = sh;
        VideoFormat = {};
        const uint32_t head = std::min<uint32_t>(strf.Size, sizeof(VideoFormat));
        c.Read(&VideoFormat, head, "the video format");
        // Nothing could draw or decode such a picture; the file is refused as for a bad main
        // header. Rows may be stored top-down (a negative height) but -2^31 has no size.
        const int64_t w = VideoFormat.biWidth, h = VideoFormat.biHeight;
        if (w <= 0 || w > MaxPictureSide || h == 0 || h < -MaxPictureSide || h > MaxPictureSide)
            c.Fail("Video format gives an impossible picture size (" + std::to_string(w) + " x " +
                       std::to_string(h) + ")",
                   strf.Start + 8);
        // A palette or a decoder's setup bytes may follow the header.
        const uint32_t tail = strf.Size - head;
        if (tail > MaxVideoFormatTail)
            c.Fail("Video format of " + std::to_string(strf.Size) + " bytes is too large",
                   strf.Start);
        VideoFormatTail.resize(tail);
        if (tail > 0)
            c.Read(VideoFormatTail.data(), tail, "the video format");
        VideoStreamNo = streamNo;
    } else {
        if (strf.Size > sizeof(TAudioFormat))
            c.Fail("Audio format of " + std::to_string(strf.Size) + " bytes, more than 128",
                   strf.Start);
        AudioStreamHeader = sh;
        SourceAudioFormat = {};
        c.Read(&SourceAudioFormat, strf.Size, "the audio format");
        AudioFormatBytes = strf.Size;
        AudioStreamNo = streamNo;
        HasAudioStream = true;
    }
}

void TAviReader::SetupAudioFormats() {
    AudioDecodable = false;
    DecodedPcmFormat = {};
    if (!IsAudioPCM()) {
        // A compressed track needs a decoder from the audio codec layer; without one the movie
        // opens and plays silent. Its own rate and channels at 16 bits are asked for first.
        const TWaveFormatEx& s = SourceAudioFormat.Wfx;
        if (s.nChannels == 0 || s.nSamplesPerSec == 0 || s.nSamplesPerSec > MaxPcmSampleRate)
            return;
        if (!DecodeCodec)
            DecodeCodec = std::make_unique<TAudioCodec>(Ui);
        MakePcmFormat(DecodedPcmFormat, s.nSamplesPerSec, s.nChannels, 16);
        AudioDecodable =
            DecodeCodec->FindDecoder(s.wFormatTag, SourceAudioFormat, DecodedPcmFormat);
        if (!AudioDecodable)
            DecodedPcmFormat = {};
        return;
    }
    // Block align and byte rate are recomputed from the sample layout, whatever the file says;
    // a layout that gives no whole sample frame or no bytes per second cannot be played.
    const TWaveFormatEx& s = SourceAudioFormat.Wfx;
    const uint64_t blockAlign = uint64_t(s.nChannels) * (s.wBitsPerSample / 8);
    const uint64_t avg = blockAlign * s.nSamplesPerSec;
    if (blockAlign == 0 || blockAlign > 0xFFFF || avg == 0 || avg > 0xFFFFFFFFu ||
        s.nSamplesPerSec > MaxPcmSampleRate)
        return;
    MakePcmFormat(DecodedPcmFormat, s.nSamplesPerSec, s.nChannels, s.wBitsPerSample);
    // The converter and the mixer take 8 and 16-bit mono and stereo only. Any other track (24
    // or 32 bits, more channels) is left out here, so that the frames are drawn without it
    // instead of failing on their first sound block; the format stays for the sound-track copy.
    AudioDecodable = TPCMTrans::GetLayout(DecodedPcmFormat) != plUnsupported;
}

void TAviReader::ReadIndex(TCursor& c, uint32_t idx1Size) {
    // The chunk was checked to lie inside the file, so the count is bounded by bytes present.
    const uint32_t count = idx1Size / 16;
    constexpr uint32_t batch = 4096;
    std::vector<uint8_t> buf(size_t(std::min(count, batch)) * 16);
    for (uint32_t first = 0; first < count; first += batch) {
        const uint32_t n = std::min(batch, count - first);
        c.Read(buf.data(), size_t(n) * 16, "the index");
        for (uint32_t k = 0; k < n; ++k) {
            // Entry: chunk id, flags, offset, data size.
            const uint8_t* p = buf.data() + size_t(k) * 16;
            const uint32_t offset = Le32(p + 8);
            // Writers store offsets either from the file start or from the "movi" type; the
            // first entry tells which.
            if (first + k == 0)
                RelativeOffsets = int64_t(offset) < MoviPos;
            AppendChunk(Le32(p), Le32(p + 4), offset, Le32(p + 12));
        }
    }
}

void TAviReader::AppendChunk(uint32_t chunkId, uint32_t flags, int64_t offset, uint32_t size) {
    const int stream = StreamNoOfId(chunkId);
    const int kind = KindOfId(chunkId);
    const auto videoCount = static_cast<int32_t>(VideoChunks.size());
    if (stream == VideoStreamNo && kind == 'd') {
        VideoChunks.push_back(TPictInfo{offset, size, flags});
    } else if (stream == AudioStreamNo && kind == 'w' && size > 0) {
        if (!AudioChunks.empty()) {
            // The previous chunk plays up to the frame before this one; with no frame between
            // the two it still covers its own first frame.
            TAudioInfo& prev = AudioChunks.back();
            prev.LastFrame = videoCount - 1;
            if (prev.LastFrame == prev.FirstFrame - 1)
                prev.LastFrame = prev.FirstFrame;
        }
        AudioChunks.push_back(TAudioInfo{offset, size, videoCount, 0});
    }
}

Extended TAviReader::GetAudioChunkSeconds(const TAudioInfo& a) const {
    const uint32_t avgBytes = DecodedPcmFormat.Wfx.nAvgBytesPerSec;
    return avgBytes != 0 ? a.Size / Extended(avgBytes) : 0;
}

uint32_t TAviReader::GetAudioChunkSamples(const TAudioInfo& a) const {
    const uint32_t blockAlign = DecodedPcmFormat.Wfx.nBlockAlign;
    return blockAlign != 0 ? a.Size / blockAlign : 0;
}

// An AVI 2.0 file goes on behind its first RIFF form in "AVIX" forms, each with a "movi" list
// that "idx1" does not cover. Their chunks join the lists in file order, up to the first chunk
// that is damaged or cut off; whatever else follows the movie is left alone.
void TAviReader::ReadSegments(TCursor& c, int64_t pos) {
    const int64_t fileEnd = Source->Size();
    while (pos + 12 <= fileEnd) {
        c.Pos = pos;
        const uint32_t id = c.ReadU32("a segment header");
        const uint32_t size = c.ReadU32("a segment header");
        if (!SameIdNoCase(id, RIFF_ID_RIFF) ||
            !SameIdNoCase(c.ReadU32("a segment type"), RIFF_ID_AVIX))
            break;
        ++Segments;
        const int64_t end = pos + 8 + int64_t(size);
        DamagedAt = ReadSegment(c, pos + 12, std::min(end, fileEnd));
        if (DamagedAt >= 0)
            break;
        pos = end + (size & 1);
    }
}

// Reads the "movi" list of one segment whose bytes present run from pos to limit. Returns where
// the movie data stops being whole (no "movi" list, a chunk cut off, or bytes that are no
// chunk), or -1.
int64_t TAviReader::ReadSegment(TCursor& c, int64_t pos, int64_t limit) {
    while (pos + 12 <= limit) {
        c.Pos = pos;
        const uint32_t id = c.ReadU32("a chunk header");
        const uint32_t size = c.ReadU32("a chunk header");
        const int64_t end = pos + 8 + int64_t(size);
        if (!IsChunkId(id))
            break;
        if (SameIdNoCase(id, RIFF_ID_LIST) && size >= 4 &&
            SameIdNoCase(c.ReadU32("a list type"), RIFF_ID_MOVI)) {
            const size_t firstVideo = VideoChunks.size();
            std::vector<int64_t> videoIndexes;
            const int64_t damaged = WalkMovi(c, pos + 12, end, limit, videoIndexes, false);
            bool indexed = false;
            for (const int64_t ix : videoIndexes)
                indexed = MarkKeyFrames(c, ix, firstVideo) || indexed;
            if (!indexed)
                FindKeyFrames(firstVideo);
            return damaged;
        }
        if (end > limit)
            break;
        pos = end + (size & 1);
    }
    return std::min(pos, limit);
}

// Takes the chunks of a "movi" list (and of the "rec " lists in it) that lie whole before both
// the list's end and limit, and notes where the video stream's standard indexes ("ix00") lie.
// Returns the start of the first chunk that is cut off or no chunk at all, or -1 when the list
// is whole.
int64_t TAviReader::WalkMovi(TCursor& c, int64_t pos, int64_t end, int64_t limit,
                             std::vector<int64_t>& videoIndexes, bool nested) {
    const int64_t stop = std::min(end, limit);
    const int64_t base = RelativeOffsets ? MoviPos : 0;
    // Frames are numbered in 32 bits.
    constexpr size_t maxChunks = std::numeric_limits<int32_t>::max();
    while (pos + 8 <= stop) {
        c.Pos = pos;
        const uint32_t id = c.ReadU32("a chunk header");
        const uint32_t size = c.ReadU32("a chunk header");
        const int64_t chunkEnd = pos + 8 + int64_t(size);
        if (!IsChunkId(id) || chunkEnd > stop || VideoChunks.size() >= maxChunks ||
            AudioChunks.size() >= maxChunks)
            return pos;
        if (SameIdNoCase(id, RIFF_ID_LIST)) {
            // One level of "rec " lists is taken; anything nested deeper is passed over.
            if (!nested && size >= 4 && SameIdNoCase(c.ReadU32("a list type"), RIFF_ID_REC)) {
                const int64_t damaged = WalkMovi(c, pos + 12, chunkEnd, limit, videoIndexes, true);
                if (damaged >= 0)
                    return damaged;
            }
        } else if (IsStandardIndexOf(id, VideoStreamNo)) {
            if (videoIndexes.size() < MaxSegmentIndexes)
                videoIndexes.push_back(pos);
        } else {
            AppendChunk(id, 0, pos - base, size);
        }
        pos = chunkEnd + (size & 1);
    }
    return end > limit ? std::min(pos, limit) : -1;
}

// The walk cannot tell key frames; the segment's standard index of the video stream can (a set
// top bit of an entry's size marks a frame that is not one). Its entries point at chunk data
// from a 64-bit base, in file order, as the chunks found from firstChunk on are.
bool TAviReader::MarkKeyFrames(TCursor& c, int64_t ixPos, size_t firstChunk) {
    c.Pos = ixPos + 4;
    const uint32_t size = c.ReadU32("a standard index");
    if (size < 24)
        return false;
    uint8_t head[24];
    c.Read(head, sizeof(head), "a standard index");
    // Two 32-bit words per entry, an index of chunks (type 1), and chunks of the video stream.
    const uint32_t chunkId = Le32(head + 8);
    if (head[0] != 2 || head[1] != 0 || head[3] != 1 || StreamNoOfId(chunkId) != VideoStreamNo ||
        KindOfId(chunkId) != 'd')
        return false;
    const uint32_t count = std::min(Le32(head + 4), (size - 24) / 8);
    const uint64_t origin = Le32(head + 12) | uint64_t(Le32(head + 16)) << 32;
    if (origin > uint64_t(Source->Size()))
        return false;
    size_t k = firstChunk;
    constexpr uint32_t batch = 4096;
    std::vector<uint8_t> buf(size_t(std::min(count, batch)) * 8);
    for (uint32_t first = 0; first < count && k < VideoChunks.size(); first += batch) {
        const uint32_t n = std::min(batch, count - first);
        c.Read(buf.data(), size_t(n) * 8, "a standard index");
        for (uint32_t e = 0; e < n && k < VideoChunks.size(); ++e) {
            const int64_t dataPos = int64_t(origin) + Le32(&buf[size_t(e) * 8]);
            while (k < VideoChunks.size() && ChunkDataPos(VideoChunks[k].Offset) < dataPos)
                ++k;
            const bool key = (Le32(&buf[size_t(e) * 8 + 4]) & 0x80000000u) == 0;
            if (k < VideoChunks.size() && ChunkDataPos(VideoChunks[k].Offset) == dataPos && key)
                VideoChunks[k].Flags |= AVIIF_KEYFRAME;
        }
    }
    return true;
}

std::string TAviReader::DamagedSegmentText() const {
    return "The movie " + FileName + " is damaged or cut off at byte " + std::to_string(DamagedAt) +
           " of " + std::to_string(Source->Size()) + "; its first " +
           std::to_string(VideoChunks.size()) + " frames (" + FormatTimeText(GetDuration()) +
           ") are used.";
}

void TAviReader::MapPcmAudio() {
    // Without a frame rate or a whole sample frame per video frame there is nothing to map and
    // no skew to apply.
    const Extended fps = GetFrameRate();
    const uint32_t blockAlign = DecodedPcmFormat.Wfx.nBlockAlign;
    if (fps <= 0 || blockAlign == 0)
        return;
    const Extended rawBytes = DecodedPcmFormat.Wfx.nAvgBytesPerSec / fps;
    if (!(rawBytes < Extended(std::numeric_limits<uint32_t>::max())))
        return;
    int64_t bytesPerFrame = Round64(rawBytes);
    bytesPerFrame = bytesPerFrame / blockAlign * blockAlign;
    if (bytesPerFrame <= 0)
        return;

    const int32_t frames = static_cast<int32_t>(VideoChunks.size());
    AudioSkewSeconds = 0;
    AudioSkewFrames = 0;
    // Sound stored ahead of the first frame (interleavers often put a second or so there)
    // plays from frame 0, so it pushes every later chunk back by that many frames.
    if (!AudioChunks.empty() && AudioChunks[0].FirstFrame == 0) {
        const TAudioInfo& a = AudioChunks[0];
        const int64_t covered = int64_t(a.LastFrame - a.FirstFrame) * bytesPerFrame;
        const int64_t extra = int64_t(a.Size) - covered;
        // More than the whole movie would shift nothing further; the cap keeps it in range.
        const int64_t skew =
            std::clamp<int64_t>(Round64(Extended(extra) / bytesPerFrame), -frames, frames);
        AudioSkewFrames = static_cast<int32_t>(skew);
        AudioSkewSeconds = AudioSkewFrames / fps;
    }
    if (AudioSkewFrames > 0) {
        AudioChunks[0].LastFrame += AudioSkewFrames;
        for (size_t i = 1; i < AudioChunks.size(); ++i) {
            AudioChunks[i].FirstFrame += AudioSkewFrames;
            AudioChunks[i].LastFrame += AudioSkewFrames;
        }
    }

    PcmFrameBytes = bytesPerFrame;
}

void TAviReader::MarkAudioBytes() {
    AudioMarks.clear();
    AudioMarks.reserve(AudioChunks.size() / AudioMarkStep + 1);
    int64_t at = 0;
    for (size_t i = 0; i < AudioChunks.size(); ++i) {
        if (i % AudioMarkStep == 0)
            AudioMarks.push_back(at);
        at += AudioChunks[i].Size;
    }
    AudioTrackBytes = at;
}

size_t TAviReader::AudioChunkAtByte(int64_t at, int64_t& start) const {
    // Every chunk holds sound, so the marks rise strictly.
    const auto mark = std::upper_bound(AudioMarks.begin(), AudioMarks.end(), at);
    if (at < 0 || mark == AudioMarks.begin()) {
        start = AudioTrackBytes;
        return AudioChunks.size();
    }
    size_t k = size_t(mark - AudioMarks.begin() - 1) * AudioMarkStep;
    start = *std::prev(mark);
    while (k < AudioChunks.size() && at - start >= int64_t(AudioChunks[k].Size))
        start += AudioChunks[k++].Size;
    return k;
}

TAviReader::TFrameAudio TAviReader::GetFrameAudio(int32_t frame) const {
    if (PcmFrameBytes <= 0 || frame < 0 || size_t(frame) >= VideoChunks.size())
        return {};
    // Chunks hand out their frames in order, a later chunk's over an earlier one's, so the frame
    // plays with the last chunk that starts at or before it, when that one reaches it.
    const auto after = std::upper_bound(
        AudioChunks.begin(), AudioChunks.end(), frame,
        [](int32_t f, const TAudioInfo& a) { return f < std::max(a.FirstFrame, 0); });
    if (after == AudioChunks.begin())
        return {};
    const TAudioInfo& a = *std::prev(after);
    if (frame > a.LastFrame)
        return {};
    return {a.Offset + (frame - std::max(a.FirstFrame, 0)) * PcmFrameBytes,
            static_cast<uint32_t>(PcmFrameBytes)};
}
