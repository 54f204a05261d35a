// Sound delivery of TAviReader: one video frame's sound per call in the project's format, from
// PCM chunks read in place or from compressed chunks decoded ahead, and the sound-track copy into
// a WAV file.
#include <algorithm>
#include <cstring>
#include <new>

#include "MyAVIReader.h"
#include "MyBase.h"
#include "MyWavWriter.h"

std::atomic<bool> TAviReader::EscapePressed{false};

namespace {

// A run of chunks that decode to nothing is given up after this many.
constexpr int kMaxEmptyChunks = 101;

} // namespace

// ---- TCompAudBuffer -----------------------------------------------------------------------------

void TCompAudBuffer::Reset() {
    Data.reset();
    Capacity = 0;
    WantedSize = 0;
    ReadPos = 0;
    WritePos = 0;
    NextChunk = 0;
    FirstCall = true;
    SkipBytes = 0;
}

void TCompAudBuffer::Compact() {
    if (ReadPos == 0)
        return;
    const uint32_t n = Available();
    if (n > 0)
        std::memmove(Data.get(), Data.get() + ReadPos, n);
    ReadPos = 0;
    WritePos = n;
}

void TCompAudBuffer::RaiseSize(uint32_t newSize) {
    Compact();
    if (newSize < WritePos)
        throw Exception("RaiseSize error. Too small newsize=" + std::to_string(newSize));
    auto data = std::make_unique<uint8_t[]>(newSize);
    if (WritePos > 0)
        std::memcpy(data.get(), Data.get(), WritePos);
    Data = std::move(data);
    Capacity = newSize;
}

// ---- Preparing ----------------------------------------------------------------------------------

void TAviReader::PrepareAudio(const TAudioFormat& wanted, Extended fps) {
    UnprepareAudio();
    WantedFormat = wanted;
    AudioFrameRate = fps;
    PcmPosSet = false;
    PcmReadPos = 0;
    CompAudBuffer.Reset();
    if (!Loaded || !HasAudio() || !(fps > 0) || TPCMTrans::GetLayout(wanted) == plUnsupported ||
        wanted.Wfx.nSamplesPerSec == 0)
        return;
    try {
        const int32_t frameBytes = FrameAudioBytes(wanted, fps);
        if (frameBytes <= 0)
            return;
        if (IsAudioPCM()) {
            // The source's own frame size must be a whole block as well.
            if (FrameAudioBytes(DecodedPcmFormat, fps) <= 0)
                return;
            AudioReady = true;
            return;
        }
        CompAudBuffer.WantedSize = uint32_t(frameBytes);
        // Decoding straight into the wanted format spares the second conversion's work.
        DecodedPcmFormat = wanted;
        if (!DecodeCodec)
            DecodeCodec = std::make_unique<TAudioCodec>(Ui);
        if (!ConvertCodec)
            ConvertCodec = std::make_unique<TAudioCodec>(Ui);
        if (!DecodeCodec->FindDecoder(SourceAudioFormat.Wfx.wFormatTag, SourceAudioFormat,
                                      DecodedPcmFormat))
            return;
        if (!DecodeCodec->OpenStream(SourceAudioFormat, DecodedPcmFormat))
            return;
        if (!ConvertCodec->OpenStream(DecodedPcmFormat, WantedFormat)) {
            DecodeCodec->CloseStream();
            return;
        }
        AudioReady = true;
    } catch (const EIntOverflow&) {
        // A frame rate so low that one frame's sound does not fit a block: nothing to deliver.
        UnprepareAudio();
    }
}

void TAviReader::UnprepareAudio() {
    if (DecodeCodec)
        DecodeCodec->CloseStream();
    if (ConvertCodec)
        ConvertCodec->CloseStream();
    AudioReady = false;
}

// ---- Delivery -----------------------------------------------------------------------------------

bool TAviReader::ReadAudio(int32_t frame, std::vector<uint8_t>& buffer, Extended time,
                           int32_t samples) {
    if (!AudioReady || !Loaded || !Source) {
        buffer.clear();
        return false;
    }
    try {
        if (IsAudioPCM())
            return ReadAudioFrame(frame, buffer, time, samples);
        return ReadCompressedAudio(frame, buffer, samples);
    } catch (const std::bad_alloc&) {
        // Sound that memory cannot hold is no sound; the export and the playback go on.
        buffer.clear();
        return false;
    }
}

uint32_t TAviReader::WantedBlockBytes(int32_t samples) const {
    if (samples <= 0)
        return uint32_t(FrameAudioBytes(WantedFormat, AudioFrameRate));
    return uint32_t(CheckedMul<int32_t>(samples, GetBlockAlign(WantedFormat)));
}

void TAviReader::FillSilence(std::vector<uint8_t>& buffer, const TAudioFormat& format,
                             size_t size) const {
    buffer.assign(size, PcmSilenceByte(format));
}

void TAviReader::PlacePcmDelivery(Extended time) {
    const TWaveFormatEx& d = DecodedPcmFormat.Wfx;
    // Sound before the start of the source is not there; delivery begins at its start. The
    // chunks before the time's byte are passed over whole, and within its chunk the position is
    // held to a whole sample frame.
    const Extended target = d.nAvgBytesPerSec * std::max<Extended>(time, 0);
    PcmReadPos = 0;
    if (!(target < Extended(AudioTrackBytes))) {
        PcmReadPos = AudioTrackBytes;
    } else if (target > 0) {
        int64_t start = 0;
        AudioChunkAtByte(int64_t(target), start);
        const int64_t inside = Round64(target - start);
        PcmReadPos = start + inside / d.nBlockAlign * d.nBlockAlign;
    }
    PcmPosSet = true;
    PcmStartPos = PcmReadPos;
    PcmConsumed = 0;
    PcmTrans.ResetStream();
}

bool TAviReader::ReadAudioFrame(int32_t frame, std::vector<uint8_t>& buffer, Extended time,
                                int32_t samples) {
    (void)frame; // delivery is sequential from where the first call placed it
    const TWaveFormatEx& d = DecodedPcmFormat.Wfx;
    if (!PcmPosSet)
        PlacePcmDelivery(time);

    const uint32_t wantedFrameBytes = WantedBlockBytes(samples);
    const int64_t wantedSamples = wantedFrameBytes / GetBlockAlign(WantedFormat);
    // The track is read on its own sample line and converted as one signal, so the blocks'
    // edges are not heard and the sound does not drift.
    const int64_t frames =
        PcmTrans.StreamSourceFrames(DecodedPcmFormat, WantedFormat, wantedSamples);
    if (frames < 0)
        return false;
    const int64_t at = PcmStartPos + PcmConsumed * d.nBlockAlign;
    PcmConsumed += frames;
    const int64_t size = frames * d.nBlockAlign;
    // Read over whole and cut to what the track held.
    buffer.resize(size_t(size));

    int64_t start = 0;
    const size_t first = AudioChunkAtByte(at, start);
    int64_t offset = at - start;
    if (first >= AudioChunks.size()) {
        // Past the end of the track: a frame of silence, and the position stays.
        FillSilence(buffer, WantedFormat, wantedFrameBytes);
        return true;
    }

    PcmReadPos = at;
    int64_t filled = 0;
    for (size_t chunk = first; chunk < AudioChunks.size() && filled < size; ++chunk, offset = 0) {
        const TAudioInfo& a = AudioChunks[chunk];
        const int64_t n = std::min<int64_t>(int64_t(a.Size) - offset, size - filled);
        if (n <= 0)
            continue;
        if (!Source->ReadExact(ChunkDataPos(a.Offset) + offset, buffer.data() + filled,
                               size_t(n))) {
            buffer.clear();
            return false;
        }
        filled += n;
        PcmReadPos += n;
    }

    // Where the track ends the converter is told so, and what follows is silence.
    buffer.resize(size_t(filled));
    if (!PcmTrans.ConvertStream(DecodedPcmFormat, WantedFormat, buffer, wantedSamples)) {
        buffer.clear();
        return false;
    }
    return true;
}

bool TAviReader::ReadCompressedAudio(int32_t frame, std::vector<uint8_t>& buffer, int32_t samples) {
    buffer.clear();
    TCompAudBuffer& b = CompAudBuffer;
    if (b.WantedSize == 0)
        return false;
    const uint32_t wanted = WantedBlockBytes(samples);
    if (wanted == 0)
        return false;
    if (b.FirstCall && !PlaceCompressedAudio(frame))
        return false;
    if (!FillCompressedWhile(
            [&] { return b.Available() < 2 * uint64_t(wanted) || b.SkipBytes > 0; }))
        return false;
    if (!FillCompressedWhile([&] { return b.Free() >= 2 * uint64_t(wanted); }))
        return false;
    if (b.Capacity > MaxCompAudBuffer)
        return false;
    b.FirstCall = false;
    TakeCompressedBlock(buffer, wanted);
    return true;
}

bool TAviReader::PlaceCompressedAudio(int32_t frame) {
    // Decoding starts one chunk before the first one that runs past the frame, so the frame
    // lies inside what is decoded; the sound before the frame is dropped as it is decoded. The
    // chunks' last frames rise with their order.
    const auto past =
        std::partition_point(AudioChunks.begin(), AudioChunks.end(),
                             [frame](const TAudioInfo& a) { return a.LastFrame <= frame; });
    if (past == AudioChunks.end())
        return false;
    const size_t k = size_t(past - AudioChunks.begin());
    const size_t start = k > 0 ? k - 1 : 0;
    TCompAudBuffer& b = CompAudBuffer;
    b.NextChunk = int32_t(start);
    const int64_t frames = int64_t(frame) - AudioChunks[start].FirstFrame;
    // A frame before the track's first chunk starts at the track's start. Frames count in the
    // file's own frame rate.
    const Extended fileFps = GetFrameRate() > 0 ? GetFrameRate() : AudioFrameRate;
    b.SkipBytes =
        frames > 0 ? uint64_t(FrameSampleStart(frames, WantedFormat.Wfx.nSamplesPerSec, fileFps)) *
                         uint64_t(GetBlockAlign(WantedFormat))
                   : 0;
    return true;
}

bool TAviReader::FillCompressedWhile(const std::function<bool()>& more) {
    TCompAudBuffer& b = CompAudBuffer;
    const auto chunkCount = int32_t(AudioChunks.size());
    while (b.NextChunk < chunkCount && more()) {
        const int32_t before = b.NextChunk;
        try {
            if (!FillCompressData())
                return false;
        } catch (const Exception&) {
            if (Ui)
                Ui->ShowMessage("ReadCompressedAudio: Fail to do FillCompressData",
                                TMsgKind::Error);
            // Delivery goes on from what is there; a chunk that keeps failing is passed over.
            if (b.NextChunk == before)
                ++b.NextChunk;
        }
    }
    return true;
}

void TAviReader::TakeCompressedBlock(std::vector<uint8_t>& buffer, uint32_t wanted) {
    TCompAudBuffer& b = CompAudBuffer;
    FillSilence(buffer, WantedFormat, wanted);
    const uint32_t available = b.Available();
    if (available == 0)
        return;
    const uint32_t n = std::min(available, wanted);
    if (b.ReadPos > b.WritePos || b.WritePos > b.Capacity || !b.Data) {
        // Positions out of step: report them and hand out silence rather than stray bytes.
        if (Ui) {
            Ui->TextViewClear();
            Ui->TextViewAdd("ReadCompressedAudio: Fail to fill Buffer.");
            Ui->TextViewAdd("BufferSize=" + std::to_string(b.Capacity));
            Ui->TextViewAdd("DataPos=" + std::to_string(b.ReadPos));
            Ui->TextViewAdd("TopLevel=" + std::to_string(b.WritePos));
            Ui->TextViewShow();
        }
    } else {
        std::memcpy(buffer.data(), b.Data.get() + b.ReadPos, n);
    }
    b.ReadPos += n;
    if (b.ReadPos >= b.WritePos) {
        b.ReadPos = 0;
        b.WritePos = 0;
    }
}

bool TAviReader::FillCompressData() {
    TCompAudBuffer& b = CompAudBuffer;
    const int32_t chunkCount = int32_t(AudioChunks.size());
    if (b.NextChunk >= chunkCount)
        return true;
    std::vector<uint8_t> decoded;
    for (int tries = 0; tries < kMaxEmptyChunks && b.NextChunk < chunkCount; ++tries) {
        if (!ReadNextAudioChunk(decoded))
            return false;
        if (!decoded.empty())
            break;
    }
    if (decoded.empty())
        return true;

    // The last chunk flushes what the converter still holds back.
    const bool last = b.NextChunk >= chunkCount;
    if (!ConvertCodec ||
        !ConvertCodec->Encode(last, decoded.data(), uint32_t(decoded.size()), Converted))
        return false;

    const uint8_t* from = Converted.data();
    uint64_t n = Converted.size();
    const uint64_t drop = std::min(b.SkipBytes, n);
    b.SkipBytes -= drop;
    from += drop;
    n -= drop;
    if (n == 0)
        return true;

    b.Compact();
    if (b.Free() < n) {
        const uint64_t need = uint64_t(b.Available()) + n;
        // Beyond the ceiling nothing is grown; the caller gives up on the track.
        if (need > MaxCompAudBuffer)
            return false;
        b.RaiseSize(uint32_t(need));
    }
    std::memcpy(b.Data.get() + b.WritePos, from, size_t(n));
    b.WritePos += uint32_t(n);
    return true;
}

bool TAviReader::ReadNextAudioChunk(std::vector<uint8_t>& decoded) {
    decoded.clear();
    TCompAudBuffer& b = CompAudBuffer;
    if (b.NextChunk < 0 || b.NextChunk >= int32_t(AudioChunks.size()) || !DecodeCodec)
        return false;
    const int32_t index = b.NextChunk++;
    if (!ReadAudioChunk(index, ChunkBuffer))
        return false;
    const bool last = b.NextChunk >= int32_t(AudioChunks.size());
    return DecodeCodec->Encode(last, ChunkBuffer.data(), uint32_t(ChunkBuffer.size()), decoded);
}

// ---- Sound-track extraction ---------------------------------------------------------------------

bool TAviReader::ExtractAudioToWav(bool raw, const std::string& fileName, IUiServices& ui) {
    // However the extraction ends, the status bar says so last.
    auto done = MakeScopeExit([&] { ui.SetStatusText("Done writing " + fileName); });
    if (!Loaded || !HasAudioStream)
        return false;
    // Chunks are copied as stored, so a compressed track keeps its own format in the file.
    const TAudioFormat& format = IsAudioPCM() ? DecodedPcmFormat : SourceAudioFormat;
    if (format.Wfx.wFormatTag == 0)
        return false;

    bool result = false;
    {
        std::vector<uint8_t> copy;
        copy.reserve(64000);
        TWavWriter writer(ui);
        TBusyCursorGuard cursor(&ui);
        if (writer.Initiate(raw, fileName, format)) {
            EscapePressed = false;
            result = true;
            const size_t count = AudioChunks.size();
            for (size_t i = 0; i < count; ++i) {
                ui.ProcessMessages();
                // A single chunk is the whole track.
                const size_t percent = count > 1 ? i * 100 / (count - 1) : 100;
                ui.SetStatusText("Progress: " + std::to_string(percent) +
                                 "% (Press Escape to stop)");
                if (EscapePressed.exchange(false))
                    break;
                if (!ReadAudioChunk(int32_t(i), copy) ||
                    !writer.WriteData(copy.data(), int64_t(copy.size()))) {
                    result = false;
                    break;
                }
            }
        }
        // A file whose header could not be completed is no result.
        if (writer.IsOpen() && !writer.CloseFile())
            result = false;
    }
    return result;
}
