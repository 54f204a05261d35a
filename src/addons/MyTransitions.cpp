#include "MyTransitions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

void Darken(int32_t amount, const TBitmap& source, TBitmap& target) {
    const int32_t w = std::min(source.Width(), target.Width());
    const int32_t h = std::min(source.Height(), target.Height());
    if (w <= 0 || h <= 0)
        return;
    const int a = std::clamp(amount, 0, 255);
    const size_t bytes = static_cast<size_t>(w) * 3;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = source.ScanLine(y);
        uint8_t* d = target.ScanLine(y);
        for (size_t i = 0; i < bytes; ++i) {
            const int v = s[i] - a;
            d[i] = static_cast<uint8_t>(v < 0 ? 0 : v);
        }
    }
}

void CopyMiddleBand(int32_t rows, const TBitmap& source, TBitmap& target) {
    const int32_t half = rows / 2;
    const int32_t last = std::min(target.Height() - half - 1, source.Height() - 1);
    const int32_t w = std::min(source.Width(), target.Width());
    if (w <= 0)
        return;
    const size_t bytes = static_cast<size_t>(w) * 3;
    for (int32_t y = std::max(half, 0); y <= last; ++y)
        std::memcpy(target.ScanLine(y), source.ScanLine(y), bytes);
}

namespace {

// A weighed byte v * Q / 65536 rounded to an integer: with x = v * Q, the whole part x >> 16
// goes up by one when the fraction x & 0xFFFF is above a threshold. The threshold may differ
// with the parity of the whole part, which is how halves rounded to even come out exactly.
// A threshold shared by both parities whose low byte is 0xFF needs only x's top 16 bits, so
// one multiplication per byte does (Coarse).
enum class TKind { Coarse, Fine, Parity };

struct TWeight {
    uint16_t Q = 0;
    uint16_t Above[2] = {0, 0};
    TKind Kind = TKind::Fine;
};

inline unsigned Weigh(unsigned v, const TWeight& w) {
    const uint32_t x = v * w.Q;
    const uint32_t whole = x >> 16;
    return whole + ((x & 0xFFFF) > w.Above[whole & 1]);
}

// Thresholds for weight q that give every entry of table, if there are any: for each parity
// the fractions of the entries rounded down must all lie below those of the entries rounded up.
bool FitThresholds(const std::array<uint16_t, 256>& table, uint16_t q, TWeight& weight) {
    int32_t highestDown[2] = {0, 0}, lowestUp[2] = {0x10000, 0x10000};
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t x = v * q;
        const uint32_t whole = x >> 16;
        const int32_t fraction = static_cast<int32_t>(x & 0xFFFF);
        if (table[v] == whole)
            highestDown[whole & 1] = std::max(highestDown[whole & 1], fraction);
        else if (table[v] == whole + 1)
            lowestUp[whole & 1] = std::min(lowestUp[whole & 1], fraction);
        else
            return false;
    }
    if (highestDown[0] >= lowestUp[0] || highestDown[1] >= lowestUp[1])
        return false;
    weight.Q = q;
    const int32_t low = std::max(highestDown[0], highestDown[1]);
    const int32_t high = std::min(lowestUp[0], lowestUp[1]) - 1;
    if (low > high) {
        weight.Kind = TKind::Parity;
        weight.Above[0] = static_cast<uint16_t>(highestDown[0]);
        weight.Above[1] = static_cast<uint16_t>(highestDown[1]);
        return true;
    }
    const bool coarse = (low | 0xFF) <= high;
    weight.Kind = coarse ? TKind::Coarse : TKind::Fine;
    weight.Above[0] = weight.Above[1] = static_cast<uint16_t>(coarse ? low | 0xFF : low);
    return true;
}

// An integer weight next to share * 65536 that reproduces table exactly: the thresholds found
// for it put every entry's fraction on the side of its rounding.
bool FitWeight(const std::array<uint16_t, 256>& table, Extended share, TWeight& weight) {
    const int64_t nearest =
        std::clamp<int64_t>(static_cast<int64_t>(std::nearbyintl(share * 65536)), 0, 0xFFFF);
    for (int64_t q : {nearest, nearest - 1, nearest + 1})
        if (q >= 0 && q <= 0xFFFF && FitThresholds(table, static_cast<uint16_t>(q), weight))
            return true;
    return false;
}

#ifdef __SSE2__
struct TWeightLanes {
    __m128i Q;
    __m128i Above[2]; // with the top bit flipped, for signed comparison
    __m128i Bias;     // Coarse: (x >> 8) + Bias carries into the whole part above the threshold
    explicit TWeightLanes(const TWeight& w)
        : Q(_mm_set1_epi16(static_cast<int16_t>(w.Q))),
          Above{_mm_set1_epi16(static_cast<int16_t>(w.Above[0] ^ 0x8000)),
                _mm_set1_epi16(static_cast<int16_t>(w.Above[1] ^ 0x8000))},
          Bias(_mm_set1_epi16(static_cast<int16_t>(0xFF - (w.Above[0] >> 8)))) {}
};

// The low or high eight of sixteen bytes weighed as Weigh does, in 16-bit lanes.
template <TKind K, bool High> inline __m128i WeighLanes(__m128i bytes, const TWeightLanes& w) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (K == TKind::Coarse) {
        // v << 8 times Q, top 16 bits: x >> 8.
        const __m128i v8 = High ? _mm_unpackhi_epi8(zero, bytes) : _mm_unpacklo_epi8(zero, bytes);
        return _mm_srli_epi16(_mm_add_epi16(_mm_mulhi_epu16(v8, w.Q), w.Bias), 8);
    } else {
        const __m128i v = High ? _mm_unpackhi_epi8(bytes, zero) : _mm_unpacklo_epi8(bytes, zero);
        const __m128i fraction = _mm_xor_si128(_mm_mullo_epi16(v, w.Q), _mm_set1_epi16(-0x8000));
        const __m128i whole = _mm_mulhi_epu16(v, w.Q);
        __m128i above = w.Above[0];
        if constexpr (K == TKind::Parity) {
            const __m128i one = _mm_set1_epi16(1);
            const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(whole, one), one);
            above = _mm_xor_si128(above, _mm_and_si128(odd, _mm_xor_si128(above, w.Above[1])));
        }
        return _mm_sub_epi16(whole, _mm_cmpgt_epi16(fraction, above));
    }
}
#endif

template <TKind A, TKind B>
void BlendRow(const uint8_t* sa, const uint8_t* sb, uint8_t* d, size_t bytes, const TWeight& wa,
              const TWeight& wb) {
    size_t i = 0;
#ifdef __SSE2__
    const TWeightLanes la(wa), lb(wb);
    for (; i + 16 <= bytes; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sa + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sb + i));
        const __m128i low =
            _mm_add_epi16(WeighLanes<A, false>(va, la), WeighLanes<B, false>(vb, lb));
        const __m128i high =
            _mm_add_epi16(WeighLanes<A, true>(va, la), WeighLanes<B, true>(vb, lb));
        // The sums stay below 511, so the pack saturates them to 255 as the clamp would.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < bytes; ++i) {
        const unsigned v = Weigh(sa[i], wa) + Weigh(sb[i], wb);
        d[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
}

using TBlendRow = void (*)(const uint8_t*, const uint8_t*, uint8_t*, size_t, const TWeight&,
                           const TWeight&);

// A row kernel for each pair of weight kinds, by the kinds' order in TKind.
template <TKind A>
constexpr std::array<TBlendRow, 3> BlendRowsFor = {
    BlendRow<A, TKind::Coarse>, BlendRow<A, TKind::Fine>, BlendRow<A, TKind::Parity>};
constexpr std::array<std::array<TBlendRow, 3>, 3> BlendRows = {
    BlendRowsFor<TKind::Coarse>, BlendRowsFor<TKind::Fine>, BlendRowsFor<TKind::Parity>};

} // namespace

void Blend(const TBitmap& a, const TBitmap& b, Extended p, TBitmap& target) {
    const int32_t w = std::min({a.Width(), b.Width(), target.Width()});
    const int32_t h = std::min({a.Height(), b.Height(), target.Height()});
    if (w <= 0 || h <= 0)
        return;
    // Both weighted terms are rounded on their own, so one table per source holds every
    // value a byte can take.
    std::array<uint16_t, 256> fa;
    std::array<uint16_t, 256> fb;
    for (int v = 0; v < 256; ++v) {
        fa[v] = static_cast<uint16_t>(Round(v * (1 - p)));
        fb[v] = static_cast<uint16_t>(Round(v * p));
    }
    const size_t bytes = static_cast<size_t>(w) * 3;
    // Integer weights that give both tables exactly let the rows be weighed many bytes at a
    // time; the few progresses where no 16-bit weight does keep the table lookups.
    TWeight wa, wb;
    if (FitWeight(fa, 1 - p, wa) && FitWeight(fb, p, wb)) {
        const TBlendRow row = BlendRows[size_t(wa.Kind)][size_t(wb.Kind)];
        for (int32_t y = 0; y < h; ++y)
            row(a.ScanLine(y), b.ScanLine(y), target.ScanLine(y), bytes, wa, wb);
        return;
    }
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* sa = a.ScanLine(y);
        const uint8_t* sb = b.ScanLine(y);
        uint8_t* d = target.ScanLine(y);
        for (size_t i = 0; i < bytes; ++i) {
            const unsigned v = fa[sa[i]] + fb[sb[i]];
            d[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
}

namespace {

// Fade of a lone clip: to black when it is the from clip, from black when it is the to clip.
void DimLone(TBitmap* fromBmp, TBitmap* toBmp, Extended p, TBitmap& target) {
    if (fromBmp)
        Darken(Round(p * 255), *fromBmp, target);
    else
        Darken(Round((1 - p) * 255), *toBmp, target);
}

// The from picture leaves and the to picture enters by the same distance along one axis; a lone
// clip slides against black.
bool Slide(TBitmap* target, TBitmap* fromBmp, TBitmap* toBmp, Extended progress, bool vertical) {
    if (!target)
        return false;
    const int32_t length = vertical ? target->Height() : target->Width();
    const int32_t s = Round(length * progress);
    const auto drawAt = [&](const TBitmap& picture, int32_t offset) {
        if (vertical)
            target->Canvas().Draw(0, offset, picture);
        else
            target->Canvas().Draw(offset, 0, picture);
    };
    if (!fromBmp != !toBmp)
        FillBitmap(*target, 0);
    if (fromBmp)
        drawAt(*fromBmp, -s);
    if (toBmp)
        drawAt(*toBmp, length - s);
    return true;
}

} // namespace

bool TTransHorzSlide::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    return Slide(Bitmap, fromBmp, toBmp, progress, false);
}

bool TTransVertSlide::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    return Slide(Bitmap, fromBmp, toBmp, progress, true);
}

bool TTransDimmed::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    if (!fromBmp || !toBmp) {
        DimLone(fromBmp, toBmp, progress, *Bitmap);
    } else if (progress <= 0.5L) {
        Darken(Round(progress * 2 * 255), *fromBmp, *Bitmap);
    } else {
        Darken(Round((1 - (progress - 0.5L) * 2) * 255), *toBmp, *Bitmap);
    }
    return true;
}

bool TTransEyesOpen::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    const int32_t h = Bitmap->Height();
    TBitmap* source;
    int32_t rows;
    if (fromBmp && !toBmp) {
        source = fromBmp;
        rows = Round(h * progress);
    } else if (toBmp && !fromBmp) {
        source = toBmp;
        rows = Round(h * (1 - progress));
    } else if (progress <= 0.5L) {
        source = fromBmp;
        rows = Round(h * (progress * 2));
    } else {
        source = toBmp;
        rows = Round(h * (1 - (progress - 0.5L) * 2));
    }
    FillBitmap(*Bitmap, 0);
    CopyMiddleBand(rows, *source, *Bitmap);
    return true;
}

bool TTransDissolve::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    if (!fromBmp || !toBmp)
        DimLone(fromBmp, toBmp, progress, *Bitmap);
    else
        Blend(*fromBmp, *toBmp, progress, *Bitmap);
    return true;
}
