#include "MyWavWriter.h"

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

bool TWavWriter::WriteId(uint32_t id) {
    return WriteSize(id);
}

bool TWavWriter::WriteSize(uint32_t value) {
    const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                          uint8_t(value >> 24)};
    return File.Write(b, 4) == 4;
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
        if (!RecycleFile(fileName)) {
            Ui.ShowMessage("File " + fileName + " is in use.", TMsgKind::Error);
            return false;
        }
    }
    if (!File.Open(fileName, TRiffMode::Create)) {
        Ui.ShowMessage("Can not write file " + fileName, TMsgKind::Error);
        return false;
    }
    DataBytes = 0;
    DataSizePos = 0;
    if (Raw)
        return true;

    const uint32_t fmtBytes =
        format.Wfx.wFormatTag == WAVE_FORMAT_PCM ? WAVE_PCM_FORMAT_SIZE : kOtherFmtBytes;
    bool ok = WriteId(RIFF_ID_RIFF) &&                     // RIFF header
              WriteSize(0) &&                              // file size - 8, written at close
              WriteId(RIFF_ID_WAVE) &&                     // form type
              WriteId(RIFF_ID_FMT) &&                      // format chunk
              WriteSize(fmtBytes) &&                       // 16 for PCM, 128 otherwise
              File.Write(&format, fmtBytes) == fmtBytes && // the format block's first bytes
              WriteId(RIFF_ID_DATA);                       // sample chunk
    DataSizePos = File.Position();
    ok = ok && WriteSize(0); // data size, written at close
    if (!ok) {
        File.Close();
        return false;
    }
    return true;
}

bool TWavWriter::WriteData(const void* buffer, int64_t length) {
    if (!File.IsOpen() || length < 0)
        return false;
    // The header's sizes are 32-bit; samples beyond them would make the file unreadable. The
    // RIFF size counts everything after its own field, a pad byte included.
    if (!Raw && length > kMaxRiffBytes + 8 - 1 - File.Position())
        return false;
    if (File.Write(buffer, length) != length)
        return false;
    DataBytes += length;
    return true;
}

bool TWavWriter::CloseFile() {
    if (!File.IsOpen())
        return false;
    bool ok = true;
    if (!Raw) {
        int64_t end = File.Position();
        if (DataBytes & 1) {
            // Chunks end on even offsets; the pad byte counts in the RIFF size only.
            const uint8_t pad = 0;
            ok = File.Write(&pad, 1) == 1;
        }
        int64_t fileSize = File.Position();
        ok = ok && File.Seek(4, TRiffOrigin::Begin) == 4 &&
             WriteSize(uint32_t(fileSize - 8)) && // RIFF size: everything after this field
             File.Seek(DataSizePos, TRiffOrigin::Begin) == DataSizePos &&
             WriteSize(uint32_t(end - DataSizePos - 4)) && // data size, pad excluded
             File.Seek(0, TRiffOrigin::End) == fileSize;
    }
    ok = File.Close() && ok;
    return ok;
}
