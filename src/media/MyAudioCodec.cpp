#include "MyAudioCodec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

namespace {

const char* const BadDriverMessage =
    "One or more ACM Audio codec installed is fake or wrongly coded.\n"
    "\n"
    "Disabled it first in Start\\Settings\\Control Panel\\System\\Hardware\\\n"
    "Device manager\\Sound video and Game controllers\\Audio codec\\Properties\\Properties.\n"
    "\n"
    "then select \"Do not use this audio codec\"\n"
    "\n"
    "To pin point, you may need to disable all of them, check using Tools\\List audio codec, \n"
    "then enable it one by one to locate the bad one.\n"
    "\n"
    "Good luck.";

const char* const NoDecoderMessage = "Debug: No decoder available for audio export!";

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && uint8_t(s[b]) <= ' ')
        ++b;
    while (e > b && uint8_t(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    // Appended, not joined, only to quiet g++ 12's false overlapping-copy warning at -O3.
    std::string padded = s;
    if (padded.size() < width)
        padded.append(width - padded.size(), ' ');
    return padded;
}

const uint8_t* Bytes(const TAudioFormat& f) {
    return reinterpret_cast<const uint8_t*>(&f);
}
uint8_t* Bytes(TAudioFormat& f) {
    return reinterpret_cast<uint8_t*>(&f);
}

// The name a tag entry goes by: its tag name, or its driver's name when that is blank.
std::string KindName(const TAudCodec& driver, const TAudCodecKind& kind) {
    return Trim(kind.TagName).empty() ? driver.Name : kind.TagName;
}

} // namespace

TAudCodecKind::TAudCodecKind(TAudCodec* owner) : Owner(owner) {
    static const uint32_t rates[] = {48000, 44100, 22050};
    static const uint16_t channels[] = {2, 1};
    static const uint16_t bits[] = {16, 8};
    for (uint32_t rate : rates)
        for (uint16_t ch : channels)
            for (uint16_t b : bits) {
                auto d = std::make_unique<TAudCodecDetail>();
                MakePcmFormat(d->PcmFormat, rate, ch, b);
                d->Label = PadLeft(std::to_string(rate), 7) + ", " +
                           PadRight(std::to_string(b), 2) + " bits " +
                           (ch == 2 ? "Stereo" : "Mono  ");
                Details.push_back(std::move(d));
            }
}

TAudioCodec::TAudioCodec(IUiServices* ui) : Ui(ui) {
    EnumerateDrivers();
}

TAudioCodec::~TAudioCodec() {
    CloseStream();
}

void TAudioCodec::EnumerateDrivers() {
    Drivers.clear();
    try {
        AcmDriverEnum([this](TAcmDriverId id, uint32_t support) {
            if (!(support & AcmDriverSupportCodec))
                return false;
            TAcmDriverHandle handle = 0;
            if (AcmDriverOpen(id, handle) != TAcmResult::Ok)
                return false;
            TAcmDriverDetails details;
            if (AcmDriverDetails(id, details) != TAcmResult::Ok) {
                AcmDriverClose(handle);
                return false;
            }
            auto driver = std::make_unique<TAudCodec>();
            driver->Details = details;
            driver->DriverId = id;
            driver->Name = details.LongName;
            TAudCodec* owner = driver.get();
            Drivers.push_back(std::move(driver));
            for (uint32_t i = 0; i < details.FormatTagCount; ++i) {
                TAcmFormatTagDetails tag;
                // A tag whose details cannot be read is not listed half-filled.
                if (AcmFormatTagDetails(handle, i, tag) != TAcmResult::Ok) {
                    AcmDriverClose(handle);
                    return false;
                }
                auto kind = std::make_unique<TAudCodecKind>(owner);
                kind->TagDetails = tag;
                kind->TagName = tag.Name;
                kind->FormatTag = tag.FormatTag;
                owner->Kinds.push_back(std::move(kind));
            }
            AcmDriverClose(handle);
            return true;
        });
    } catch (const std::exception&) {
        // The drivers read so far stay usable.
        if (Ui)
            Ui->ShowMessage(BadDriverMessage, TMsgKind::Error);
    }
}

bool TAudioCodec::OpenStream(const TAudioFormat& src, const TAudioFormat& dst) {
    CloseStream();
    WorkSize = 0;
    CarrySize = 0;
    if (CountTags(src) == 0) {
        if (Ui)
            Ui->ShowMessage(NoDecoderMessage, TMsgKind::Error);
        return false;
    }
    SourceFormat = src;
    DestFormat = dst;
    const TWaveFormatEx &s = src.Wfx, &d = dst.Wfx;
    TAudioFormat codecSource = SourceFormat;
    if (s.wFormatTag == WAVE_FORMAT_PCM && d.wFormatTag != WAVE_FORMAT_PCM &&
        (s.nSamplesPerSec != d.nSamplesPerSec || s.nChannels != d.nChannels)) {
        // Codecs keep the rate and channels of what they are given.
        MakePcmFormat(codecSource, d.nSamplesPerSec, d.nChannels, 16);
        if (AcmStreamOpen(PreStream, Bytes(SourceFormat), sizeof(TAudioFormat), Bytes(codecSource),
                          sizeof(TAudioFormat)) != TAcmResult::Ok)
            return false;
    }
    if (AcmStreamOpen(Stream, Bytes(codecSource), sizeof(TAudioFormat), Bytes(DestFormat),
                      sizeof(TAudioFormat)) != TAcmResult::Ok) {
        AcmStreamClose(PreStream);
        return false;
    }
    Opened = true;
    return true;
}

void TAudioCodec::CloseStream() {
    Opened = false;
    AcmStreamClose(Stream);
    AcmStreamClose(PreStream);
}

bool TAudioCodec::Collect(TAcmStream& stream, const uint8_t* src, uint32_t srcSize, uint32_t flags,
                          std::vector<uint8_t>& dst, uint32_t& used) {
    // The codec makes its output first and the buffer is then sized to exactly that: an
    // estimate from the format's header fields could ask for gigabytes.
    TAcmStreamHeader header;
    header.Src = src;
    header.SrcLength = srcSize;
    if (AcmStreamPrepareHeader(stream, header) != TAcmResult::Ok)
        return false;
    const TAcmResult r = AcmStreamConvert(stream, header, flags);
    AcmStreamUnprepareHeader(stream, header);
    if (r != TAcmResult::Ok)
        return false;
    used = header.SrcLengthUsed;
    uint32_t made = 0;
    if (AcmStreamPending(stream, made) != TAcmResult::Ok)
        return false;
    dst.resize(made);
    if (made == 0)
        return true;
    TAcmStreamHeader out;
    out.Dst = dst.data();
    out.DstLength = made;
    if (AcmStreamPrepareHeader(stream, out) != TAcmResult::Ok)
        return false;
    const TAcmResult d = AcmStreamConvert(stream, out, 0);
    AcmStreamUnprepareHeader(stream, out);
    dst.resize(out.DstLengthUsed);
    return d == TAcmResult::Ok;
}

bool TAudioCodec::PreConvert(const uint8_t*& in, uint32_t& size, uint32_t flags) {
    if (!PreStream)
        return true;
    uint32_t used = 0;
    if (!Collect(*PreStream, in, size, flags, PreBuffer, used))
        return false;
    // Whole sample frames go in, so nothing is left over on this side.
    in = PreBuffer.data();
    size = uint32_t(PreBuffer.size());
    return true;
}

bool TAudioCodec::RunStream(const uint8_t* src, uint32_t srcSize, uint32_t flags,
                            std::vector<uint8_t>& dst) {
    dst.clear();
    if (!Opened || !Stream || (srcSize && !src))
        return false;
    const uint32_t n = CheckedAdd(CarrySize, srcSize);
    // The carried bytes go in front of the new ones; without any, the caller's block is used
    // as it is.
    const uint8_t* in = src;
    if (CarrySize) {
        if (WorkBuffer.size() < n)
            WorkBuffer.resize(n);
        std::memcpy(WorkBuffer.data(), CarryBuffer.data(), CarrySize);
        if (srcSize)
            std::memcpy(WorkBuffer.data() + CarrySize, src, srcSize);
        WorkSize = n;
        in = WorkBuffer.data();
    }

    uint32_t consumed = 0;
    if (!Collect(*Stream, in, n, flags, dst, consumed)) {
        dst.clear();
        return false;
    }
    const uint32_t unconsumed = CheckedSub(n, consumed);
    if (unconsumed > 0) {
        if (CarryBuffer.size() < unconsumed)
            CarryBuffer.resize(unconsumed);
        // In and CarryBuffer never overlap: carried bytes were copied to the work buffer.
        std::memcpy(CarryBuffer.data(), in + consumed, unconsumed);
    }
    CarrySize = unconsumed;
    return true;
}

bool TAudioCodec::Convert(const uint8_t* src, uint32_t srcSize, std::vector<uint8_t>& dst) {
    return Encode(false, src, srcSize, dst);
}

bool TAudioCodec::Encode(bool last, const uint8_t* src, uint32_t srcSize,
                         std::vector<uint8_t>& dst) {
    dst.clear();
    const uint32_t flags = last ? AcmConvertEnd : AcmConvertBlockAlign;
    try {
        if (!Opened || !PreConvert(src, srcSize, flags))
            return false;
        return RunStream(src, srcSize, flags, dst);
    } catch (const std::bad_alloc&) {
        // A block the memory cannot hold is a failed block; the caller goes on or gives up.
        dst.clear();
        return false;
    }
}

bool TAudioCodec::SuggestFormat(uint32_t tag, const TAudioFormat& srcPcm, TAudioFormat& dst) {
    if (SuggestExact(tag, srcPcm, dst))
        return true;
    const TWaveFormatEx& s = srcPcm.Wfx;
    if (tag == WAVE_FORMAT_PCM || s.wFormatTag != WAVE_FORMAT_PCM || s.nSamplesPerSec == 0)
        return false;
    // The rates codecs commonly take, tried nearest to the source's first; the source's channel
    // count before mono.
    std::vector<uint32_t> rates = {
        s.nSamplesPerSec, 48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};
    std::stable_sort(rates.begin() + 1, rates.end(), [&s](uint32_t a, uint32_t b) {
        return std::llabs(int64_t(a) - s.nSamplesPerSec) <
               std::llabs(int64_t(b) - s.nSamplesPerSec);
    });
    for (uint16_t channels = s.nChannels; channels >= 1; channels = channels > 2 ? 2 : channels - 1)
        for (uint32_t rate : rates) {
            TAudioFormat pcm;
            MakePcmFormat(pcm, rate, channels, 16);
            if (SuggestExact(tag, pcm, dst))
                return true;
        }
    std::memset(&dst, 0, sizeof(dst));
    return false;
}

bool TAudioCodec::SuggestExact(uint32_t tag, const TAudioFormat& srcPcm, TAudioFormat& dst) {
    std::memset(&dst, 0, sizeof(dst));
    if (tag > 0xFFFF)
        return false;
    dst.Wfx.wFormatTag = uint16_t(tag);
    dst.Wfx.nChannels = srcPcm.Wfx.nChannels;
    dst.Wfx.wBitsPerSample = srcPcm.Wfx.wBitsPerSample;
    return AcmFormatSuggest(Bytes(srcPcm), sizeof(TAudioFormat), Bytes(dst), sizeof(TAudioFormat),
                            AcmSuggestFormatTag) == TAcmResult::Ok;
}

bool TAudioCodec::TestOpen(const TAudioFormat& src, const TAudioFormat& dst) {
    TAcmStreamPtr stream;
    const bool ok = AcmStreamOpen(stream, Bytes(src), sizeof(TAudioFormat), Bytes(dst),
                                  sizeof(TAudioFormat)) == TAcmResult::Ok;
    AcmStreamClose(stream);
    return ok;
}

bool TAudioCodec::FindDecoder(uint32_t tag, const TAudioFormat& src, TAudioFormat& dst) {
    if (TestOpen(src, dst))
        return true;
    for (const auto& driver : Drivers)
        for (const auto& kind : driver->Kinds) {
            if (kind->FormatTag != tag)
                continue;
            for (const auto& detail : kind->Details)
                if (TestOpen(src, detail->PcmFormat)) {
                    dst = detail->PcmFormat;
                    return true;
                }
        }
    // Sound at rates or channel counts outside the candidates (8 kHz speech, 32 kHz, surround)
    // decodes at its own rate and channels; the caller's PCM conversion takes it from there.
    TAudioFormat own{};
    own.Wfx.wFormatTag = WAVE_FORMAT_PCM;
    if (AcmFormatSuggest(Bytes(src), sizeof(TAudioFormat), Bytes(own), sizeof(TAudioFormat),
                         AcmSuggestFormatTag) != TAcmResult::Ok)
        return false;
    MakePcmFormat(own, own.Wfx.nSamplesPerSec, own.Wfx.nChannels, own.Wfx.wBitsPerSample);
    if (!TestOpen(src, own))
        return false;
    dst = own;
    return true;
}

bool TAudioCodec::ProbeEncoders(std::vector<std::string>& lines) {
    if (Drivers.empty())
        return false;
    int driverNo = 0;
    for (const auto& driver : Drivers) {
        ++driverNo;
        if (driverNo > 1)
            lines.emplace_back();
        lines.push_back(std::to_string(driverNo) + "." + driver->Name);
        const TAcmDriverDetails& d = driver->Details;
        lines.push_back("  Short name: " + d.ShortName);
        lines.push_back("  Copyright: " + d.Copyright);
        lines.push_back("  Licensing: " + d.Licensing);
        lines.push_back("  Features: " + d.Features);
        lines.emplace_back();
        lines.push_back("  Available format");
        int tagNo = 0;
        for (const auto& kind : driver->Kinds) {
            if (kind->FormatTag == WAVE_FORMAT_PCM)
                continue;
            ++tagNo;
            if (tagNo > 1)
                lines.emplace_back();
            kind->HeaderSize = kind->TagDetails.FormatSize;
            lines.push_back("     " + std::to_string(tagNo) + ". " +
                            PadRight("\"" + kind->TagName + "\"", 34) +
                            " Tag:" + PadRight(std::to_string(kind->FormatTag), 8) +
                            " Header:" + PadLeft(std::to_string(kind->HeaderSize), 5));
            kind->CanEncode = false;
            std::vector<std::string> usable;
            for (const auto& detail : kind->Details) {
                detail->Usable =
                    SuggestFormat(kind->FormatTag, detail->PcmFormat, detail->SuggestedFormat);
                if (detail->Usable) {
                    usable.push_back("       " + detail->Label);
                    kind->CanEncode = true;
                }
            }
            if (usable.empty()) {
                lines.push_back("       Can not compress!");
            } else {
                lines.push_back("       Compress:");
                lines.insert(lines.end(), usable.begin(), usable.end());
            }
        }
    }
    return true;
}

void TAudioCodec::FillExportCodecList(std::vector<TCodecListItem>& strings) {
    if (!Drivers.empty()) {
        std::vector<std::string> report;
        ProbeEncoders(report);
    }
    strings.clear();
    strings.push_back({"Uncompressed PCM", WAVE_FORMAT_PCM});
    for (const auto& driver : Drivers)
        for (const auto& kind : driver->Kinds)
            if (kind->FormatTag != WAVE_FORMAT_PCM && kind->CanEncode)
                strings.push_back({KindName(*driver, *kind), kind->FormatTag});
}

bool TAudioCodec::FillPCMSourceList(uint32_t tag, std::vector<std::string>& strings) {
    if (tag == WAVE_FORMAT_PCM) {
        static const char* const fixed[] = {"44100, 16 bits Stereo", "44100, 8  bits Stereo",
                                            "44100, 16 bits Mono",   "44100, 8  bits Mono",
                                            "22050, 16 bits Stereo", "22050, 8  bits Stereo",
                                            "22050, 16 bits Mono",   "22050, 8  bits Mono"};
        strings.insert(strings.end(), std::begin(fixed), std::end(fixed));
        return true;
    }
    if (Drivers.empty())
        return false;
    for (const auto& driver : Drivers)
        for (const auto& kind : driver->Kinds) {
            if (kind->FormatTag != tag)
                continue;
            for (const auto& detail : kind->Details) {
                detail->Usable = SuggestFormat(tag, detail->PcmFormat, detail->SuggestedFormat);
                const std::string label = Trim(detail->Label);
                if (detail->Usable && label.rfind("48000", 0) != 0)
                    strings.push_back(label);
            }
        }
    return true;
}

void TAudioCodec::GetCodecName(uint32_t tag, std::string& name) {
    name.clear();
    for (const auto& driver : Drivers)
        for (const auto& kind : driver->Kinds)
            if (kind->FormatTag == tag) {
                name = KindName(*driver, *kind);
                break;
            }
}

int32_t TAudioCodec::CountTags(const TAudioFormat& format) const {
    int32_t count = 0;
    for (const auto& driver : Drivers)
        for (const auto& kind : driver->Kinds)
            if (uint16_t(kind->FormatTag) == format.Wfx.wFormatTag)
                ++count;
    return count;
}
