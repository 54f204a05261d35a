// The audio codec layer's wave format blocks and its calls on drivers, format tags and format
// suggestions; the catalogue and the streams have files of their own.
#include "MyAcmLayer.h"

#include <cstring>

#include "MyAcmLayerCatalogue.h"

namespace AcmPart {

bool ParseFormat(const uint8_t* p, uint32_t size, TWaveFormat& f) {
    if (!p || size < WAVE_PCM_FORMAT_SIZE)
        return false;
    f.Tag = Get16(p);
    f.Channels = Get16(p + 2);
    f.Rate = Get32(p + 4);
    f.AvgBytes = Get32(p + 8);
    f.BlockAlign = Get16(p + 12);
    f.Bits = Get16(p + 14);
    f.ExtraSize = 0;
    if (f.Tag == WAVE_FORMAT_PCM)
        return true;
    if (size < WAVE_FORMAT_EX_SIZE)
        return false;
    f.ExtraSize = Get16(p + 16);
    if (f.ExtraSize > size - WAVE_FORMAT_EX_SIZE || f.ExtraSize > sizeof(f.Extra))
        return false;
    std::memcpy(f.Extra, p + WAVE_FORMAT_EX_SIZE, f.ExtraSize);
    return true;
}

bool WriteFormat(const TWaveFormat& f, uint8_t* p, uint32_t size) {
    if (size < WAVE_FORMAT_EX_SIZE + uint32_t(f.ExtraSize))
        return false;
    std::memset(p, 0, size);
    uint8_t* w = p;
    Put16(w, f.Tag);        // wFormatTag
    Put16(w, f.Channels);   // nChannels
    Put32(w, f.Rate);       // nSamplesPerSec
    Put32(w, f.AvgBytes);   // nAvgBytesPerSec
    Put16(w, f.BlockAlign); // nBlockAlign
    Put16(w, f.Bits);       // wBitsPerSample
    Put16(w, f.ExtraSize);  // cbSize
    std::memcpy(w, f.Extra, f.ExtraSize);
    return true;
}

bool SameFormat(const TWaveFormat& a, const TWaveFormat& b) {
    return a.Tag == b.Tag && a.Channels == b.Channels && a.Rate == b.Rate &&
           a.AvgBytes == b.AvgBytes && a.BlockAlign == b.BlockAlign && a.Bits == b.Bits &&
           a.ExtraSize == b.ExtraSize && std::memcmp(a.Extra, b.Extra, a.ExtraSize) == 0;
}

bool IsUsablePcm(const TWaveFormat& f) {
    if (f.Tag != WAVE_FORMAT_PCM)
        return false;
    if (f.Channels < 1 || f.Channels > MaxChannels)
        return false;
    if (f.Rate < 1 || f.Rate > MaxRate)
        return false;
    if (f.Bits != 8 && f.Bits != 16 && f.Bits != 32)
        return false;
    return f.BlockAlign == f.Channels * (f.Bits / 8);
}

AVSampleFormat PcmSampleFormat(uint16_t bits) {
    switch (bits) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    default:
        return AV_SAMPLE_FMT_S32;
    }
}

bool IsPcmFamily(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

} // namespace AcmPart

using namespace AcmPart;

// ---- Public calls -------------------------------------------------------------------------------

void AcmDriverEnum(const std::function<bool(TAcmDriverId id, uint32_t support)>& callback) {
    const auto& c = Catalogue();
    for (size_t i = 0; i < c.size(); ++i)
        if (!callback(TAcmDriverId(i + 1), c[i].Details.Support))
            break;
}

TAcmResult AcmDriverDetails(TAcmDriverId id, TAcmDriverDetails& details) {
    const TDriverEntry* d = DriverById(id);
    if (!d)
        return TAcmResult::InvalidHandle;
    details = d->Details;
    return TAcmResult::Ok;
}

TAcmResult AcmDriverOpen(TAcmDriverId id, TAcmDriverHandle& handle) {
    handle = 0;
    if (!DriverById(id))
        return TAcmResult::InvalidHandle;
    handle = id;
    return TAcmResult::Ok;
}

TAcmResult AcmDriverClose(TAcmDriverHandle handle) {
    return DriverById(handle) ? TAcmResult::Ok : TAcmResult::InvalidHandle;
}

TAcmResult AcmFormatTagDetails(TAcmDriverHandle handle, uint32_t index,
                               TAcmFormatTagDetails& details) {
    const TDriverEntry* d = DriverById(handle);
    if (!d)
        return TAcmResult::InvalidHandle;
    if (index >= d->Tags.size())
        return TAcmResult::InvalidParam;
    const TTagEntry& e = d->Tags[index];
    details.Index = index;
    details.FormatTag = e.Tag;
    details.FormatSize = e.FormatSize;
    details.CanEncode = e.Encode;
    details.Name = e.Name.substr(0, 47);
    return TAcmResult::Ok;
}

TAcmResult AcmFormatSuggest(const uint8_t* src, uint32_t srcSize, uint8_t* dst, uint32_t dstSize,
                            uint32_t flags) {
    return Guarded([&]() -> TAcmResult {
        if (!dst || dstSize < WAVE_FORMAT_EX_SIZE || (flags & ~AcmSuggestFormatTag))
            return TAcmResult::InvalidParam;
        TWaveFormat s;
        if (!ParseFormat(src, srcSize, s))
            return TAcmResult::BadFormat;
        const uint16_t tag = (flags & AcmSuggestFormatTag) ? Get16(dst) : WAVE_FORMAT_PCM;
        const bool srcPcm = s.Tag == WAVE_FORMAT_PCM;
        if (srcPcm && !IsUsablePcm(s))
            return TAcmResult::BadFormat;

        TWaveFormat d;
        if (tag == WAVE_FORMAT_PCM) {
            d.Tag = WAVE_FORMAT_PCM;
            d.Channels = s.Channels;
            d.Rate = s.Rate;
            d.Bits = srcPcm ? s.Bits : 16;
            d.BlockAlign = uint16_t(d.Channels * (d.Bits / 8));
            d.AvgBytes = CheckedMul<uint32_t>(d.BlockAlign, d.Rate);
            if (!srcPcm) {
                const TTagEntry* e = FindTag(s.Tag);
                if (!e || !OpenDecoder(*e, s))
                    return TAcmResult::NotPossible;
            }
        } else {
            const TTagEntry* e = FindTag(tag);
            if (!srcPcm || !e || !e->Encode)
                return TAcmResult::NotPossible;
            TEncoderRequest r;
            r.Rate = s.Rate;
            r.Channels = s.Channels;
            TCodecContextPtr c = OpenEncoder(avcodec_find_encoder(e->Id), r);
            if (!c || !EncoderFormat(c.get(), tag, d))
                return TAcmResult::NotPossible;
        }
        if (!WriteFormat(d, dst, dstSize))
            return TAcmResult::InvalidParam;
        return TAcmResult::Ok;
    });
}
