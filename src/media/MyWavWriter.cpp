#include "MyWavWriter.h"

#include <cerrno>
#include <cstring>

namespace {

// The 'fmt ' chunk of PCM holds the 16-byte PCM header that every player reads; other formats
// keep the whole audio format block with the codec's extra bytes.
constexpr uint32_t kOtherFmtBytes = sizeof(TAudioFormat);
constexpr int64_t kMaxRiffBytes = 0xFFFFFFFFLL;

} // namespace

TWavWriter::TWavWriter(IUiServices& ui) : Ui(ui) {}

TWavWriter::~TWavWriter() {
    if (File.IsOpen())
        CloseFile();
}

bool TWavWriter::Initiate(bool raw, const std::string& fileName, const TAudioFormat& format) {
    Raw = raw;
    if (raw && format.Wfx.wFormatTag == WAVE_FORMAT_PCM &&
        Ui.Ask("Saving PCM data without header will most likely unreadable. Continue?",
               TMsgButtons::OKCancel) != TMsgResult::OK)
        return false;
    if (File.IsOpen())
        throw EInvalidOperation("TWavWriter: Calling Initiation again before CloseFile");
    if (FileExists(fileName)) {
        if (Ui.Ask("File " + fileName + " overwrite it?", TMsgButtons::OKCancel) != TMsgResult::OK)
            return false;
        if (IsFileInUse(fileName)) {
            Ui.ShowMessage("File " + fileName + " is in use.", TMsgKind::Error);
            return false;
        }
    }
    Failure.clear();
    Replacement = std::make_unique<TFileReplacement>(fileName);
    errno = 0;
    if (!File.Open(Replacement->TempName(), TRiffMode::Create)) {
        // A read-only folder and a full disk call for different remedies.
        const std::string why = std::strerror(errno ? errno : EIO);
        Replacement.reset();
        Ui.ShowMessage("Can not write file " + fileName + " (" + why + ")", TMsgKind::Error);
        return false;
    }
    if (Raw)
        return true;

    // The WAVE form holds the format chunk (the 16 bytes of the PCM header, or the whole format
    // block with the codec's extra bytes) and the data chunk, whose size like the form's is
    // patched on closing.
    const uint32_t fmtBytes =
        format.Wfx.wFormatTag == WAVE_FORMAT_PCM ? WAVE_PCM_FORMAT_SIZE : kOtherFmtBytes;
    RiffChunk = TRiffChunk{};
    RiffChunk.FormType = RIFF_ID_WAVE;
    TRiffChunk fmt;
    fmt.Id = RIFF_ID_FMT;
    DataChunk = TRiffChunk{};
    DataChunk.Id = RIFF_ID_DATA;
    const bool ok = File.CreateChunk(RiffChunk, TRiffCreate::Riff) &&
                    File.CreateChunk(fmt, TRiffCreate::Chunk, fmtBytes) &&
                    File.Write(&format, fmtBytes) == fmtBytes && File.Ascend(fmt) &&
                    File.CreateChunk(DataChunk);
    if (!ok) {
        Fail("writing the header");
        Abandon();
        return false;
    }
    return true;
}

bool TWavWriter::Fail(const char* what) {
    if (Failure.empty())
        Failure = std::string(what) + " at offset " + std::to_string(File.Position()) + ": " +
                  std::strerror(errno ? errno : EIO);
    return false;
}

void TWavWriter::Abandon() {
    File.Close();
    Replacement.reset();
}

bool TWavWriter::WriteData(const void* buffer, int64_t length) {
    if (!File.IsOpen() || length < 0)
        return false;
    // The header's sizes are 32-bit; samples beyond them would make the file unreadable. The
    // RIFF size counts everything after its own field, a pad byte included.
    if (!Raw && length > kMaxRiffBytes + 8 - 1 - File.Position())
        return false;
    if (!Failure.empty())
        return false;
    errno = 0;
    if (File.Write(buffer, length) != length)
        return Fail("writing");
    return true;
}

bool TWavWriter::CloseFile() {
    if (!File.IsOpen())
        return false;
    // The data chunk gets its pad byte, which counts in the form's size only.
    errno = 0;
    bool ok = Failure.empty() && (Raw || (File.Ascend(DataChunk) && File.Ascend(RiffChunk)));
    if (!ok && Failure.empty() && File.ErrorText().empty())
        Fail("writing");
    errno = 0;
    if (!File.Close() && ok)
        ok = Fail("writing");
    // Only a complete file replaces the old one, which goes to the trash where there is one;
    // after a failure the old file stays as it was.
    if (ok && FileExists(Replacement->TargetName()))
        RecycleFile(Replacement->TargetName());
    if (ok && !Replacement->Commit()) {
        Failure = Replacement->ErrorText();
        ok = false;
    }
    Replacement.reset();
    return ok;
}
