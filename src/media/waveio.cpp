#include "waveio.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "MyByteOrder.h"

namespace {

// The 2-byte extra size behind the PCM part of a 'fmt ' chunk.
constexpr int64_t kExtraSizeBytes = WAVE_FORMAT_EX_SIZE - WAVE_PCM_FORMAT_SIZE;

// The tag of a format that names its real format in a sub-format GUID behind the extra size.
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
// Extra bytes of that format: valid bits, channel mask, then the GUID, whose first two bytes
// are the real format tag.
constexpr uint16_t kExtensibleExtraBytes = 22;
constexpr size_t kSubFormatTagAt = 6;

// Why a file with a format other than tag 1 is not read, in words that fit that file: tools write
// plain 32-bit and many-channel PCM with the extensible tag, which is not "compressed".
std::string NotReadReason(const TWaveFormatEx& format, const std::vector<uint8_t>& extra,
                          const std::string& fileName) {
    if (format.wFormatTag == kWaveFormatExtensible && extra.size() >= kExtensibleExtraBytes) {
        const uint16_t sub = Le16(extra.data() + kSubFormatTagAt);
        const std::string kind = sub == WAVE_FORMAT_PCM ? "PCM"
                                 : sub == 3             ? "floating-point"
                                                        : "format " + std::to_string(sub);
        return "Can not read " + fileName + ": its sound is " +
               std::to_string(format.wBitsPerSample) + "-bit " + kind +
               " in the extensible format (tag 0xFFFE). Only plain PCM (format tag 1) is read; "
               "save the file as 8 or 16-bit PCM.";
    }
    return "Only Uncompressed PCM format is supported. Can not read " + fileName +
           ": its format tag is " + std::to_string(format.wFormatTag) + ", not 1 (PCM).";
}

} // namespace

void TWaveStream::Fail(const std::string& message, int64_t offset) const {
    throw EReadError(message, FileName, offset);
}

TWaveStream::TWaveStream(TRiffFile& handle, const std::string& fileName)
    : Handle(handle), FileName(fileName) {
    if (!Handle.IsOpen() || Handle.Seek(0, TRiffOrigin::Begin) < 0 ||
        !Handle.Descend(RiffChunk, nullptr, TRiffFind::Next))
        Fail("Invalid multimedia file!", 0);
    if (RiffChunk.Id != RIFF_ID_RIFF || RiffChunk.FormType != RIFF_ID_WAVE)
        Fail("Not a wave file!", 0);

    TRiffChunk fmt;
    fmt.Id = RIFF_ID_FMT;
    if (!Handle.Descend(fmt, &RiffChunk, TRiffFind::Chunk))
        Fail("Couldn't find 'fmt' chunk!");
    // Size is already bounded by the bytes present, so reads below stay inside the chunk.
    if (fmt.Size < WAVE_PCM_FORMAT_SIZE)
        Fail("Abnormal 'fmt' size!", fmt.DataOffset - 8);
    uint8_t head[WAVE_PCM_FORMAT_SIZE];
    if (Handle.Read(head, WAVE_PCM_FORMAT_SIZE) != WAVE_PCM_FORMAT_SIZE)
        Fail("Error reading 'fmt' chunk!", fmt.DataOffset);
    Format.wFormatTag = Le16(head);          // format tag, 1 = PCM
    Format.nChannels = Le16(head + 2);       // channels
    Format.nSamplesPerSec = Le32(head + 4);  // sample frames per second
    Format.nAvgBytesPerSec = Le32(head + 8); // bytes per second
    Format.nBlockAlign = Le16(head + 12);    // bytes per sample frame
    Format.wBitsPerSample = Le16(head + 14); // bits per sample
    Format.cbSize = 0;

    if (Format.wFormatTag != WAVE_FORMAT_PCM) {
        // Other formats carry an extra size and that many extra bytes, all inside the chunk.
        uint8_t extraSize[kExtraSizeBytes];
        if (fmt.Size < WAVE_PCM_FORMAT_SIZE + kExtraSizeBytes ||
            Handle.Read(extraSize, kExtraSizeBytes) != kExtraSizeBytes)
            Fail("Error reading 'waveformatex' length!", fmt.DataOffset + WAVE_PCM_FORMAT_SIZE);
        uint16_t extra = Le16(extraSize);
        if (fmt.Size < WAVE_PCM_FORMAT_SIZE + kExtraSizeBytes + extra)
            Fail("Error reading 'waveformatex'!", fmt.DataOffset + WAVE_PCM_FORMAT_SIZE);
        std::vector<uint8_t> extraBytes(extra);
        if (Handle.Read(extraBytes.data(), extra) != extra)
            Fail("Error reading 'waveformatex'!", fmt.DataOffset + WAVE_PCM_FORMAT_SIZE);
        Format.cbSize = extra;
        Fail(NotReadReason(Format, extraBytes, FileName), fmt.DataOffset);
    }
    // A header whose block align disagrees with its channels and bits would make every later
    // size computation wrong (or divide by zero).
    if (Format.nChannels == 0 || Format.wBitsPerSample == 0 ||
        Format.nBlockAlign != Format.nChannels * ((Format.wBitsPerSample + 7) / 8) ||
        Format.nSamplesPerSec == 0 || Format.nSamplesPerSec > MaxPcmSampleRate)
        Fail("Invalid PCM format in " + FileName, fmt.DataOffset);

    if (!Handle.Ascend(fmt))
        Fail("Error ascending from 'fmt' chunk!", fmt.DataOffset);
    if (Handle.Seek(RiffChunk.DataOffset + 4, TRiffOrigin::Begin) < 0)
        Fail("Error seeking data!", RiffChunk.DataOffset + 4);
    DataChunk.Id = RIFF_ID_DATA;
    if (!Handle.Descend(DataChunk, &RiffChunk, TRiffFind::Chunk))
        Fail("Couldn't find 'data' chunk!");

    // A data chunk cut short (a recording that never finished) plays what is there.
    DataStart = DataChunk.DataOffset;
    Length = int64_t(DataChunk.Size) / Format.nBlockAlign;
    DataBytes = Length * Format.nBlockAlign;
    if (Handle.Seek(DataStart, TRiffOrigin::Begin) < 0)
        Fail("Error seeking data!", DataStart);
}

TAudioFormat TWaveStream::GetAudioFormat() const {
    TAudioFormat f{};
    f.Wfx = Format;
    return f;
}

int64_t TWaveStream::Read(void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const int64_t pos = Handle.Position(), end = DataStart + DataBytes;
    if (pos < DataStart || pos >= end)
        return 0;
    // Samples end with the data chunk, whatever chunks follow it.
    int64_t bytes = end - pos;
    if (count < bytes / Format.nBlockAlign)
        bytes = count * Format.nBlockAlign;
    int64_t got = Handle.Read(buffer, bytes);
    if (got < 0)
        Fail("Error reading from file.", pos);
    return got / Format.nBlockAlign;
}

int64_t TWaveStream::Seek(int64_t offset, int origin) {
    int64_t base = origin == 0   ? DataStart
                   : origin == 1 ? Handle.Position()
                                 : DataStart + DataBytes;
    int64_t bytes, target;
    if (__builtin_mul_overflow(offset, int64_t(Format.nBlockAlign), &bytes) ||
        __builtin_add_overflow(base, bytes, &target) || target < DataStart ||
        Handle.Seek(target, TRiffOrigin::Begin) < 0)
        Fail("Seeking to an invalid location in the file.", DataStart);
    return (target - DataStart) / Format.nBlockAlign;
}

int64_t TWaveStream::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (position >= Length)
        return 0;
    if (GetPosition() != position)
        Seek(position, 0);
    return Read(buffer, count);
}

TWaveFileHolder::TWaveFileHolder(const std::string& fileName) {
    if (!OwnedFile.Open(fileName, TRiffMode::Read))
        throw EReadError("Can not open file " + fileName, fileName);
}

TFileWaveStream::TFileWaveStream(const std::string& fileName)
    : TWaveFileHolder(fileName), TWaveStream(OwnedFile, fileName) {}
