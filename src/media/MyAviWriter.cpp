#include "MyAviWriter.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/types.h>

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");

namespace {

constexpr uint32_t OdmlInitialFrames = 480; // dmlh placeholder until Close knows the count
constexpr uint32_t HeaderJunkSize = 4112;   // filler after each stream's format
constexpr uint32_t OdmlJunkSize = 1528;     // filler that puts "movi" at a fixed offset
constexpr uint32_t StreamScale = 10000;     // video rate and scale in 1/10000 frames per second
constexpr uint32_t StreamQuality = 10000;
constexpr uint32_t LargeChunk = 50000;  // chunks above this give the disk a short rest
constexpr int32_t MaxFrameSide = 32767; // the stream header's frame rectangle is 16-bit signed

// Chunk ids of the movie data: stream number, then the kind of data.
constexpr uint32_t CompressedVideoId = RiffId("00dc");
constexpr uint32_t PlainVideoId = RiffId("00db");
constexpr uint32_t AudioId = RiffId("01wb");

const uint8_t ZeroFiller[HeaderJunkSize] = {};

// Little-endian field writer over a fixed header record.
class TLePut {
public:
    explicit TLePut(uint8_t* p) : P(p) {}
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            *P++ = uint8_t(v >> (8 * i));
    }
    void U16(uint16_t v) {
        *P++ = uint8_t(v);
        *P++ = uint8_t(v >> 8);
    }

private:
    uint8_t* P;
};

// Frame rates whose header values (microseconds per frame, rate in 1/10000 fps) fit 32 bits.
bool UsableFrameRate(Extended rate) {
    return std::isfinite(rate) && rate > 0 && 1000000.0L / rate < 2147483647.0L &&
           rate * StreamScale < 2147483647.0L;
}

} // namespace

// ---- TAviFile -----------------------------------------------------------------------------------

TAviFile::~TAviFile() {
    Discard();
}

bool TAviFile::Create(const std::string& fileName, bool keepSpace) {
    Discard();
    Name = fileName;
    Error.clear();
    Pos = 0;
    F = keepSpace ? std::fopen(fileName.c_str(), "r+b") : nullptr;
    if (!F)
        F = std::fopen(fileName.c_str(), "w+b");
    if (!F) {
        Error = std::strerror(errno);
        return false;
    }
    return true;
}

void TAviFile::Fail(const char* what) {
    if (Error.empty())
        Error =
            std::string(what) + " at offset " + std::to_string(Pos) + ": " + std::strerror(errno);
}

bool TAviFile::Write(const void* data, size_t size) {
    if (!F || Failed())
        return false;
    if (size == 0)
        return true;
    if (std::fwrite(data, 1, size, F) != size) {
        Fail("writing");
        return false;
    }
    Pos += int64_t(size);
    return true;
}

bool TAviFile::Read(void* data, size_t size) {
    if (!F || Failed())
        return false;
    if (size == 0)
        return true;
    if (std::fread(data, 1, size, F) != size) {
        if (!std::ferror(F))
            errno = EIO; // short file: the system has no reason to give
        Fail("reading");
        return false;
    }
    Pos += int64_t(size);
    return true;
}

bool TAviFile::WriteU32(uint32_t value) {
    uint8_t b[4];
    TLePut(b).U32(value);
    return Write(b, 4);
}

bool TAviFile::Seek(int64_t position) {
    if (!F || Failed())
        return false;
    if (fseeko(F, off_t(position), SEEK_SET) != 0) {
        Fail("seeking");
        return false;
    }
    Pos = position;
    return true;
}

bool TAviFile::FailRecord(const std::string& why) {
    if (Error.empty())
        Error = why;
    return false;
}

bool TAviFile::CloseRecord(const TRiffRecord& record, uint32_t& size) {
    if (!F || Failed())
        return false;
    std::string why;
    return record.SizeAt(Pos, size, why) || FailRecord(why);
}

bool TAviFile::PatchSize(const TRiffRecord& record) {
    const int64_t end = Pos;
    uint32_t size = 0;
    return CloseRecord(record, size) && Seek(record.DataOffset - 4) && WriteU32(size) && Seek(end);
}

bool TAviFile::Close() {
    if (F) {
        if (std::fflush(F) != 0)
            Fail("writing");
        if (std::fclose(F) != 0)
            Fail("closing");
        F = nullptr;
    }
    return !Failed();
}

void TAviFile::Discard() {
    if (F)
        std::fclose(F);
    F = nullptr;
}

// ---- TAviChunk and TAviList ---------------------------------------------------------------------

TAviChunk::TAviChunk(uint32_t id, const void* data, uint32_t size, TAviFile& file)
    : Id(id), Data(data), Size(size), File(file) {}

bool TAviChunk::Write() {
    // A chunk written before goes back to its place: headers are rewritten with final counts.
    if (DataPos >= 0 && !File.Seek(DataPos - 8))
        return false;
    if (!File.WriteU32(Id) || !File.WriteU32(Size))
        return false;
    if (DataPos < 0)
        DataPos = File.Position();
    uint32_t written = 0;
    if (!File.Write(Data, Size) || !File.CloseRecord(TRiffRecord{Id, DataPos, Size}, written))
        return false;
    static const uint8_t pad = 0;
    return (Size & 1) == 0 || File.Write(&pad, 1); // chunks start on even offsets
}

TAviList::TAviList(uint32_t id, TAviFile& file, uint32_t listType)
    : TAviChunk(id, nullptr, 0, file), ListType(listType) {}

TAviList::~TAviList() {
    while (!Children.empty())
        Children.pop_back();
}

TAviList& TAviList::AddList(uint32_t listType) {
    auto list = std::make_unique<TAviList>(RIFF_ID_LIST, File, listType);
    TAviList& result = *list;
    Children.push_back(std::move(list));
    return result;
}

TAviChunk& TAviList::AddChunk(uint32_t id, const void* data, uint32_t size) {
    Children.push_back(std::make_unique<TAviChunk>(id, data, size, File));
    return *Children.back();
}

bool TAviList::Write() {
    Start = File.Position();
    // The size is not known until the children are out: 0 now, patched below.
    if (!File.WriteU32(Id) || !File.WriteU32(0) || !File.WriteU32(ListType))
        return false;
    DataPos = Start + 8;
    for (auto& child : Children)
        if (!child->Write())
            return false;
    const TRiffRecord record{Id, DataPos};
    return File.CloseRecord(record, Size) && File.PatchSize(record);
}

// ---- TAviWriter ---------------------------------------------------------------------------------

TAviWriter::TAviWriter(IUiServices& ui, const std::string& indexFolder)
    : Ui(ui), IndexFolder(indexFolder) {
    if (IndexFolder.empty()) {
        QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (dir.isEmpty())
            dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (dir.isEmpty())
            dir = QDir::tempPath();
        IndexFolder = dir.toStdString();
    }
    IndexFileName = IndexFolder + "/Index.~tmp";
    // An index left by a run that did not finish is of no use to anyone.
    std::error_code ec;
    std::filesystem::remove(IndexFileName, ec);
}

TAviWriter::~TAviWriter() {
    CloseFiles();
}

void TAviWriter::SetMaxFileSize(int64_t bytes) {
    MaxFileSize = std::min(bytes, MaxAviFileSize);
}

void TAviWriter::Report(const std::string& text) {
    Stopped = true;
    Ui.ShowMessage(text, TMsgKind::Error);
}

void TAviWriter::ReportFileFailure(const TAviFile& file) {
    // The movie is written under a temporary name; the user knows it by the name they chose.
    const std::string& name = &file == &Out ? FileName : file.FileName();
    Report("Fail to write " + name + " (" + file.ErrorText() + ")");
}

void TAviWriter::CloseFiles() {
    Out.Discard();
    // A movie that was not completed never takes the place of the file at its name.
    Replacement.reset();
    Index.Discard();
    std::error_code ec;
    std::filesystem::remove(IndexFileName, ec);
    MainHeaderChunk = VideoHeaderChunk = AudioHeaderChunk = AudioFormatChunk = OdmlHeaderChunk =
        nullptr;
    Root.reset();
    OpenFlag = false;
}

bool TAviWriter::Open(const std::string& fileName, const TExportSettings& settings,
                      uint32_t videoHandler, const TBitmapInfoHeader& videoFormat) {
    // Settings that would make header fields meaningless are a fault of the caller.
    if (!UsableFrameRate(settings.FrameRate))
        throw EInvalidOperation("TAviWriter.Open: frame rate " +
                                std::to_string(double(settings.FrameRate)) + " is not usable");
    if (settings.Width <= 0 || settings.Height <= 0 || settings.Width > MaxFrameSide ||
        settings.Height > MaxFrameSide)
        throw EInvalidOperation("TAviWriter.Open: frame size " + std::to_string(settings.Width) +
                                " x " + std::to_string(settings.Height) + " is not usable");
    if (settings.HasAudio && settings.AudioFormat.Wfx.nBlockAlign == 0)
        throw EInvalidOperation("TAviWriter.Open: audio format has block align 0");
    if (!(settings.AudioPreloadTime >= 0))
        throw EInvalidOperation("TAviWriter.Open: negative audio pre-load time");
    const int32_t initialAudioFrames = Round(settings.FrameRate * settings.AudioPreloadTime);

    CloseFiles();
    Stopped = false;
    Settings = settings;
    FileName = fileName;
    StreamCount = settings.HasAudio ? 2 : 1;
    HeaderFrameRate = settings.FrameRate;
    InitialAudioFrames = initialAudioFrames;
    VideoHandler = videoHandler;
    EntryCount = 0;
    FramesWritten = 0;
    AudioBytesWritten = 0;
    AudioInBlocks = true;
    LargestVideoChunk = 0;
    LargestAudioChunk = 0;
    MoviPosition = 0;
    std::memset(MainHeader, 0, sizeof(MainHeader));
    std::memset(VideoStreamHeader, 0, sizeof(VideoStreamHeader));
    std::memset(AudioStreamHeader, 0, sizeof(AudioStreamHeader));
    std::memcpy(VideoFormat, &videoFormat, sizeof(VideoFormat));
    std::memcpy(AudioFormat, &settings.AudioFormat, sizeof(AudioFormat));
    std::memset(OdmlHeader, 0, sizeof(OdmlHeader));
    TLePut(OdmlHeader).U32(OdmlInitialFrames); // dwTotalFrames, final value at Close

    // A file written in place or directly is the caller's to keep or drop; any other goes to a
    // temporary name beside it until Close completes it.
    if (!InPlace && !Direct)
        Replacement = std::make_unique<TFileReplacement>(fileName);
    if (!Out.Create(Replacement ? Replacement->TempName() : fileName, InPlace)) {
        Report("Can not create file " + fileName + " (" + Out.ErrorText() + ")");
        return false;
    }
    auto fail = [this](const std::string& text) {
        Report(text);
        CloseFiles();
        return false;
    };
    if (!QDir().mkpath(QString::fromStdString(IndexFolder)))
        return fail("Can not create folder " + IndexFolder);
    std::error_code ec;
    if (std::filesystem::exists(IndexFileName, ec) && !std::filesystem::remove(IndexFileName, ec))
        return fail("Can not delete file " + IndexFileName);
    if (!Index.Create(IndexFileName))
        return fail("Can not create file " + IndexFileName + " (" + Index.ErrorText() + ")");

    FillHeaders();
    Root = std::make_unique<TAviList>(RIFF_ID_RIFF, Out, RIFF_ID_AVI);
    TAviList& hdrl = Root->AddList(RIFF_ID_HDRL);
    MainHeaderChunk = &hdrl.AddChunk(RIFF_ID_AVIH, MainHeader, sizeof(MainHeader));
    TAviList& videoList = hdrl.AddList(RIFF_ID_STRL);
    VideoHeaderChunk =
        &videoList.AddChunk(RIFF_ID_STRH, VideoStreamHeader, sizeof(VideoStreamHeader));
    videoList.AddChunk(RIFF_ID_STRF, VideoFormat, sizeof(VideoFormat));
    videoList.AddChunk(RIFF_ID_JUNK, ZeroFiller, HeaderJunkSize);
    if (settings.HasAudio) {
        TAviList& audioList = hdrl.AddList(RIFF_ID_STRL);
        AudioHeaderChunk =
            &audioList.AddChunk(RIFF_ID_STRH, AudioStreamHeader, sizeof(AudioStreamHeader));
        AudioFormatChunk = &audioList.AddChunk(RIFF_ID_STRF, AudioFormat, sizeof(AudioFormat));
        audioList.AddChunk(RIFF_ID_JUNK, ZeroFiller, HeaderJunkSize);
    }
    TAviList& odml = hdrl.AddList(RIFF_ID_ODML);
    OdmlHeaderChunk = &odml.AddChunk(RIFF_ID_DMLH, OdmlHeader, sizeof(OdmlHeader));
    hdrl.AddChunk(RIFF_ID_JUNK, ZeroFiller, OdmlJunkSize);

    if (!Out.Seek(0) || !Root->Write()) {
        ReportFileFailure(Out);
        CloseFiles();
        return false;
    }
    MoviPosition = Out.Position();
    if (!Out.WriteU32(RIFF_ID_LIST) || !Out.WriteU32(0) || !Out.WriteU32(RIFF_ID_MOVI)) {
        ReportFileFailure(Out);
        CloseFiles();
        return false;
    }
    OpenFlag = true;
    return true;
}

void TAviWriter::FillHeaders() {
    const uint16_t width = uint16_t(Settings.Width);
    const uint16_t height = uint16_t(Settings.Height);

    TLePut m(MainHeader);
    m.U32(uint32_t(Round(1000000.0L / HeaderFrameRate))); // dwMicroSecPerFrame
    m.U32(0);                                             // dwMaxBytesPerSec: not tracked
    m.U32(0);                                             // dwPaddingGranularity
    m.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);            // dwFlags
    m.U32(uint32_t(FramesWritten));                       // dwTotalFrames
    m.U32(0);                                             // dwInitialFrames
    m.U32(uint32_t(StreamCount));                         // dwStreams
    m.U32(0);                                             // dwSuggestedBufferSize
    m.U32(width);                                         // dwWidth
    m.U32(height);                                        // dwHeight
    for (int i = 0; i < 4; ++i)
        m.U32(0); // dwReserved[4]

    TLePut v(VideoStreamHeader);
    v.U32(RIFF_ID_VIDS);                                   // fccType
    v.U32(VideoHandler != 0 ? VideoHandler : RIFF_ID_DIB); // fccHandler
    v.U32(0);                                              // dwFlags
    v.U16(0);                                              // wPriority
    v.U16(0);                                              // wLanguage
    v.U32(0);                                              // dwInitialFrames
    v.U32(StreamScale);                                    // dwScale
    v.U32(uint32_t(Round(StreamScale * HeaderFrameRate))); // dwRate
    v.U32(0);                                              // dwStart
    v.U32(uint32_t(FramesWritten));                        // dwLength
    v.U32(LargestVideoChunk);                              // dwSuggestedBufferSize
    v.U32(StreamQuality);                                  // dwQuality
    v.U32(0);                                              // dwSampleSize: varies
    v.U16(0);                                              // rcFrame.left
    v.U16(0);                                              // rcFrame.top
    v.U16(width);                                          // rcFrame.right
    v.U16(height);                                         // rcFrame.bottom

    if (Settings.HasAudio) {
        const TWaveFormatEx& wfx = Settings.AudioFormat.Wfx;
        uint32_t rate = 0;
        if (wfx.wFormatTag == WAVE_FORMAT_PCM) {
            rate = wfx.nAvgBytesPerSec;
        } else {
            // Encoded sound: the average byte rate over the movie actually written.
            const Extended duration = Extended(FramesWritten) / Settings.FrameRate;
            if (duration > 0)
                rate = uint32_t(
                    std::min<int64_t>(Round64(Extended(AudioBytesWritten) / duration), 0xFFFFFFFF));
        }
        // A stream of framed sound cut anywhere is counted in bytes: its block align becomes 1
        // in the format too, or readers would count it in blocks after all.
        const bool byBytes = wfx.wFormatTag != WAVE_FORMAT_PCM && !AudioInBlocks;
        const uint32_t unit = byBytes ? 1 : wfx.nBlockAlign;
        if (byBytes)
            TLePut(AudioFormat + 12).U16(1); // nBlockAlign
        TLePut a(AudioStreamHeader);
        a.U32(RIFF_ID_AUDS);                       // fccType
        a.U32(0);                                  // fccHandler
        a.U32(0);                                  // dwFlags
        a.U16(0);                                  // wPriority
        a.U16(0);                                  // wLanguage
        a.U32(uint32_t(InitialAudioFrames));       // dwInitialFrames: pre-load
        a.U32(unit);                               // dwScale
        a.U32(rate);                               // dwRate
        a.U32(0);                                  // dwStart
        a.U32(uint32_t(AudioBytesWritten / unit)); // dwLength in units
        a.U32(LargestAudioChunk);                  // dwSuggestedBufferSize
        a.U32(StreamQuality);                      // dwQuality
        a.U32(unit);                               // dwSampleSize
        for (int i = 0; i < 4; ++i)
            a.U16(0); // rcFrame
    }
}

bool TAviWriter::WriteMovieChunk(uint32_t id, const void* data, uint32_t size, uint32_t flags) {
    if (Stopped)
        return false;
    const int64_t padded = int64_t(size) + (size & 1);
    const int64_t chunkPos = Out.Position();
    // The chunk, the "idx1" header and one more entry for it must still fit, so that Close can
    // always finish a valid file.
    const int64_t finalEnd = chunkPos + 8 + padded + 8 + 16 * (int64_t(EntryCount) + 1);
    if (finalEnd > MaxFileSize) {
        Report("The file " + FileName + " has reached the size limit of AVI files (" +
               std::to_string(MaxFileSize) + " bytes); the movie ends after " +
               std::to_string(FramesWritten) + " frames.");
        return false;
    }
    static const uint8_t pad = 0;
    if (!Out.WriteU32(id) || !Out.WriteU32(size) || !Out.Write(data, size) ||
        ((size & 1) && !Out.Write(&pad, 1))) {
        ReportFileFailure(Out);
        return false;
    }
    // Spooled only once the chunk is complete, so the index never names a torn chunk.
    uint8_t entry[16];
    TLePut e(entry);
    e.U32(id);                                    // ckid
    e.U32(flags);                                 // dwFlags
    e.U32(uint32_t(chunkPos - MoviPosition - 8)); // dwChunkOffset, from the "movi" FOURCC
    e.U32(size);                                  // dwChunkLength, without the pad byte
    if (!Index.Write(entry, sizeof(entry))) {
        ReportFileFailure(Index);
        return false;
    }
    ++EntryCount;
    return true;
}

bool TAviWriter::WriteVideoFrame(const void* data, uint32_t size, bool keyFrame) {
    if (!OpenFlag)
        throw EInvalidOperation("TAviWriter.WriteVideoFrame: the writer is not open");
    const bool compressed = VideoHandler != 0;
    // Every uncompressed frame stands alone.
    const uint32_t flags = (keyFrame || !compressed) ? AVIIF_KEYFRAME : 0;
    if (!WriteMovieChunk(compressed ? CompressedVideoId : PlainVideoId, data, size, flags))
        return false;
    LargestVideoChunk = std::max(LargestVideoChunk, size);
    Ui.ProcessMessages();
    if (size + (size & 1) > LargeChunk)
        Ui.Sleep(2);
    ++FramesWritten;
    return true;
}

bool TAviWriter::WriteAudio(const void* buffer, uint32_t size, uint32_t count) {
    // count (sample frames) is implied by size and the block align, which the header uses.
    (void)count;
    if (!OpenFlag)
        throw EInvalidOperation("TAviWriter.WriteAudio: the writer is not open");
    if (!Settings.HasAudio)
        return false;
    if (!WriteMovieChunk(AudioId, buffer, size, 0))
        return false;
    AudioBytesWritten += size;
    if (size % Settings.AudioFormat.Wfx.nBlockAlign != 0)
        AudioInBlocks = false;
    LargestAudioChunk = std::max(LargestAudioChunk, size);
    return true;
}

// Writes the index and the final sizes and counts; False at the first failure.
bool TAviWriter::Finish() {
    // The movie data ends where the index begins.
    if (!Out.PatchSize(TRiffRecord{RIFF_ID_LIST, MoviPosition + 8}))
        return false;
    const uint32_t indexBytes = CheckedMul<uint32_t>(uint32_t(EntryCount), 16);
    const TRiffRecord idx1{RIFF_ID_IDX1, Out.Position() + 8, indexBytes};
    if (!Out.WriteU32(RIFF_ID_IDX1) || !Out.WriteU32(indexBytes))
        return false;
    if (!Index.Seek(0))
        return false;
    std::vector<uint8_t> buffer(std::min<uint32_t>(indexBytes, 64 * 1024));
    for (uint32_t left = indexBytes; left > 0;) {
        const uint32_t n = std::min<uint32_t>(left, uint32_t(buffer.size()));
        if (!Index.Read(buffer.data(), n) || !Out.Write(buffer.data(), n))
            return false;
        left -= n;
    }
    uint32_t written = 0;
    if (!Out.CloseRecord(idx1, written) || !Out.PatchSize(TRiffRecord{RIFF_ID_RIFF, 8}))
        return false;
    const int64_t fileSize = Out.Position();
    FillHeaders();
    TLePut(OdmlHeader).U32(uint32_t(FramesWritten)); // dwTotalFrames
    if (!MainHeaderChunk->Write() || !VideoHeaderChunk->Write() ||
        (AudioHeaderChunk && !AudioHeaderChunk->Write()) ||
        (AudioFormatChunk && !AudioFormatChunk->Write()) || !OdmlHeaderChunk->Write())
        return false;
    return Out.Seek(fileSize);
}

bool TAviWriter::Close(Extended frameRate) {
    if (!OpenFlag)
        return false;
    // A rate the headers cannot express is ignored like a 0.
    if (frameRate != 0 && UsableFrameRate(frameRate))
        HeaderFrameRate = frameRate;
    // After a failed write (already reported) the file position is unknown: nothing more is
    // written, the file is only closed.
    const bool failedBefore = Out.Failed() || Index.Failed();
    bool ok = !failedBefore && Finish();
    ok = Out.Close() && ok; // buffered bytes may fail only now
    if (!ok && !failedBefore)
        ReportFileFailure(Index.Failed() ? Index : Out);
    // Only a complete file replaces the one at the name; a stopped export is complete too. The
    // new file is synced to disk before it takes the place of an older one, which a crash must
    // not cost; a file with a new name is not held up by it (the rename alone keeps a stopped
    // process from leaving half a file under the name).
    if (ok && Replacement && !Replacement->Commit(Replacement->ReplacesFile())) {
        Report("Fail to write " + FileName + " (" + Replacement->ErrorText() + ")");
        ok = false;
    }
    CloseFiles();
    return ok;
}
