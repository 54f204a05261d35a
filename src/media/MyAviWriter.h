// Writes movie exports as AVI 1.0 files: a RIFF "AVI " form with one video stream and, with
// sound, one audio stream. Headers are laid out once with fixed filler so they can be rewritten in
// place at the end, and the "idx1" index is spooled through a temporary file so memory stays flat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "IUiServices.h"
#include "MyBase.h"
#include "MyCommonParams.h"
#include "MyFileReplace.h"
#include "MyRiffIO.h"

// What the export loop hands the movie writers for one export (zero-filled, then filled).
struct TExportSettings {
    bool HasAudio = false;
    Extended FrameRate = 0; // frames per second
    int32_t Width = 0;      // pixels of the output frame
    int32_t Height = 0;
    TAudioFormat AudioFormat{};    // format of every block handed to WriteAudio
    Extended AudioPreloadTime = 0; // seconds of sound ahead of the first picture
    int32_t FrameCount = 0;        // frames the project has (the headers count those written)
};

// Shown by the caller when the video encoder cannot be prepared for an export.
inline constexpr const char* AviEncoderInitFailedText =
    "Can not initiate encoding with this codec.\nMost likely it can only be used for decoding.";

// Output file of the writer: 64-bit position kept by us, first failure remembered with its
// offset and the system's reason, and every write after a failure refused.
class TAviFile {
public:
    TAviFile() = default;
    ~TAviFile();
    TAviFile(const TAviFile&) = delete;
    TAviFile& operator=(const TAviFile&) = delete;

    // Creates or empties the file, open for reading and writing. keepSpace: an existing file is
    // written over as it stands, its length and reserved space kept.
    bool Create(const std::string& fileName, bool keepSpace = false);
    bool IsOpen() const { return F != nullptr; }
    bool Write(const void* data, size_t size);
    // Reads exactly size bytes; a short read is a failure.
    bool Read(void* data, size_t size);
    bool WriteU32(uint32_t value);
    bool Seek(int64_t position);
    int64_t Position() const { return Pos; }
    // Checks a record whose data ends at the current position, as TRiffRecord does, and gives
    // the size for its header. A record that fails the check fails the file, with the reason
    // as its error text.
    bool CloseRecord(const TRiffRecord& record, uint32_t& size);
    // Closes a record whose size was left open: checks it, writes the size into its header and
    // comes back to the current position.
    bool PatchSize(const TRiffRecord& record);
    // Flushes and closes; False when anything written since Create did not reach the file.
    bool Close();
    // Closes without caring whether buffered bytes reach the file (error paths).
    void Discard();
    bool Failed() const { return !Error.empty(); }
    // "at offset N: reason" of the first failure; empty when none.
    const std::string& ErrorText() const { return Error; }
    const std::string& FileName() const { return Name; }

private:
    void Fail(const char* what);
    bool FailRecord(const std::string& why);

    std::FILE* F = nullptr;
    int64_t Pos = 0;
    std::string Name;
    std::string Error;
};

// One RIFF chunk: id, 32-bit size and the bytes it points to (not owned). Written once in order;
// a second Write rewrites it in place, so its data may change but not its size. Each write checks
// that the data ends where the size says.
class TAviChunk {
public:
    TAviChunk(uint32_t id, const void* data, uint32_t size, TAviFile& file);
    virtual ~TAviChunk() = default;
    TAviChunk(const TAviChunk&) = delete;
    TAviChunk& operator=(const TAviChunk&) = delete;

    virtual bool Write();
    uint32_t GetId() const { return Id; }
    uint32_t GetSize() const { return Size; }
    // File position of the chunk's data; -1 until written.
    int64_t GetDataPosition() const { return DataPos; }

protected:
    uint32_t Id;
    const void* Data;
    uint32_t Size;
    int64_t DataPos = -1;
    TAviFile& File;
};

// A "RIFF" or "LIST" node with a list type and owned children, written depth first; its size
// field is patched once the children are out.
class TAviList : public TAviChunk {
public:
    TAviList(uint32_t id, TAviFile& file, uint32_t listType);
    ~TAviList() override;

    TAviList& AddList(uint32_t listType);
    TAviChunk& AddChunk(uint32_t id, const void* data, uint32_t size);
    bool Write() override;
    uint32_t GetListType() const { return ListType; }
    // File position of the list's FOURCC; -1 until written.
    int64_t GetStart() const { return Start; }

private:
    uint32_t ListType;
    int64_t Start = -1;
    std::vector<std::unique_ptr<TAviChunk>> Children;
};

// The AVI export writer. Calling order: Open, any mix of WriteAudio and WriteVideoFrame
// (the export writes a frame's sound first), Close; Open may follow again.
//
// The video encoder stays outside: the caller prepares it, passes its FOURCC (0 = uncompressed
// 24-bit DIB) and its 40-byte output format to Open, hands each encoded frame's bytes and key flag
// to WriteVideoFrame, and ends it after Close.
class TAviWriter {
public:
    // Largest file the writer produces: every size and offset of AVI 1.0 is 32-bit and most
    // readers take them as signed.
    static constexpr int64_t MaxAviFileSize = 0x7FFFFFFF;

    // indexFolder: where the temporary index goes; empty = the user's cache folder.
    explicit TAviWriter(IUiServices& ui, const std::string& indexFolder = {});
    ~TAviWriter();
    TAviWriter(const TAviWriter&) = delete;
    TAviWriter& operator=(const TAviWriter&) = delete;

    // Creates the file (under a temporary name beside fileName, which Close renames over it) and
    // writes the headers. videoHandler: the encoder's FOURCC, 0 for
    // uncompressed frames; videoFormat: the encoder's output format (the "strf" of the video).
    // False with a message shown when a file cannot be created or written.
    bool Open(const std::string& fileName, const TExportSettings& settings, uint32_t videoHandler,
              const TBitmapInfoHeader& videoFormat);
    // One encoded frame. False (message shown once) when the write failed or the file would pass
    // its size limit; the frame is then not in the file and nothing later is written.
    bool WriteVideoFrame(const void* data, uint32_t size, bool keyFrame);
    // One block of sound, size in bytes, count in sample frames. False without an audio stream.
    bool WriteAudio(const void* buffer, uint32_t size, uint32_t count);
    // Writes the index, rewrites the headers with the final counts and closes the file. A non-zero
    // frameRate replaces the settings' rate in the headers. True only when the file is complete;
    // it then replaces any file of that name. After a failed write the temporary file is removed
    // and a file at the name stays as it was. The temporary index is removed however it ends.
    bool Close(Extended frameRate);

    bool IsOpen() const { return OpenFlag; }
    int32_t GetFramesWritten() const { return FramesWritten; }
    const std::string& GetIndexFileName() const { return IndexFileName; }
    // Lowers the size limit (small media, tests); values above MaxAviFileSize are cut to it.
    void SetMaxFileSize(int64_t bytes);
    // Open writes into the file as it stands instead of emptying it, so space reserved for it
    // stays; the file keeps its length and the caller cuts it to the movie's after Close.
    void SetWriteInPlace(bool inPlace) { InPlace = inPlace; }
    // Open writes straight under the file name instead of beside it, for a caller that keeps a
    // working file of its own and puts it in place itself.
    void SetWriteDirect(bool direct) { Direct = direct; }

private:
    bool WriteMovieChunk(uint32_t id, const void* data, uint32_t size, uint32_t flags);
    void FillHeaders();
    bool Finish();
    void Report(const std::string& text);
    void ReportFileFailure(const TAviFile& file);
    void CloseFiles();

    IUiServices& Ui;
    std::string IndexFolder;
    std::string IndexFileName;
    std::string FileName;
    int64_t MaxFileSize = MaxAviFileSize;
    bool InPlace = false;
    bool Direct = false;

    TAviFile Out;
    TAviFile Index;
    // The movie goes to a temporary name beside FileName until Close completes it.
    std::unique_ptr<TFileReplacement> Replacement;
    bool OpenFlag = false;
    // Set once a write failed or was refused: the user has been told, later writes are refused.
    bool Stopped = false;
    std::unique_ptr<TAviList> Root;

    // Stream settings of this export.
    TExportSettings Settings;
    int32_t StreamCount = 1;
    Extended HeaderFrameRate = 0;
    int32_t InitialAudioFrames = 0;
    uint32_t VideoHandler = 0;

    // Counters since Open.
    int32_t EntryCount = 0;
    int32_t FramesWritten = 0;
    int64_t AudioBytesWritten = 0;
    // Every sound chunk so far held whole blocks of the format's block align. Encoders of
    // framed sound (MPEG audio, AC-3) cut their output anywhere: their stream is then timed by
    // the byte, as readers expect of such a stream.
    bool AudioInBlocks = true;
    uint32_t LargestVideoChunk = 0;
    uint32_t LargestAudioChunk = 0;
    int64_t MoviPosition = 0;

    // The header records as they go into the file.
    uint8_t MainHeader[56] = {};
    uint8_t VideoStreamHeader[56] = {};
    uint8_t AudioStreamHeader[56] = {};
    uint8_t VideoFormat[40] = {};
    uint8_t AudioFormat[128] = {};
    uint8_t OdmlHeader[248] = {};
    // The chunks rewritten at Close (owned by Root).
    TAviChunk* MainHeaderChunk = nullptr;
    TAviChunk* VideoHeaderChunk = nullptr;
    TAviChunk* AudioHeaderChunk = nullptr;
    TAviChunk* AudioFormatChunk = nullptr;
    TAviChunk* OdmlHeaderChunk = nullptr;
};
