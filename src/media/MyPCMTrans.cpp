#include "MyPCMTrans.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

static_assert(std::endian::native == std::endian::little,
              "PCM samples are read and written as little-endian memory");

namespace {

// How many spare sample buffers the mixer keeps for reuse.
constexpr size_t kMaxSpareBuffers = 64;
// Products beyond this are saturated anyway; bounding them keeps the rounding in range.
constexpr double kProductLimit = 1e9;
// Gain beyond this is saturating noise whatever the sample; bounding keeps products finite.
constexpr Extended kFactorLimit = 1e6L;

constexpr bool IsStereo(int layout) {
    return layout == plStereo8 || layout == plStereo16;
}
constexpr bool Is16(int layout) {
    return layout == plMono16 || layout == plStereo16;
}

inline int32_t Get16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Put16(uint8_t* p, int32_t v) {
    int16_t s = static_cast<int16_t>(v);
    std::memcpy(p, &s, 2);
}

// 8-bit samples are unsigned in buffers (silence 0x80) and signed inside.
inline int32_t Get8(const uint8_t* p) {
    return int32_t(*p) - 128;
}
inline void Put8(uint8_t* p, int32_t v) {
    *p = static_cast<uint8_t>(v + 128);
}

// Sample i of a buffer in layout S, in layout D. 16-bit values keep their level in 8 bits by
// dropping the low byte; stereo into mono averages the channels (halves toward zero).
template <int S, int D> inline TPcmSample Read(const uint8_t* p, int64_t i) {
    int32_t l, r;
    if constexpr (S == plMono8) {
        l = r = Get8(p + i);
    } else if constexpr (S == plMono16) {
        l = r = Get16(p + 2 * i);
    } else if constexpr (S == plStereo8) {
        l = Get8(p + 2 * i);
        r = Get8(p + 2 * i + 1);
    } else {
        l = Get16(p + 4 * i);
        r = Get16(p + 4 * i + 2);
    }
    constexpr int shift = Is16(D) == Is16(S) ? 0 : Is16(D) ? 8 : -8;
    auto scale = [](int32_t v) {
        if constexpr (shift > 0)
            return v * 256;
        else if constexpr (shift < 0)
            return v >> 8;
        else
            return v;
    };
    if constexpr (IsStereo(D)) {
        return {scale(l), scale(r)};
    } else if constexpr (IsStereo(S)) {
        int32_t m = scale((l + r) / 2);
        if constexpr (S == plStereo8 && D == plMono16)
            m = (l + r) * 128; // keeps the half bit
        return {m, m};
    } else {
        return {scale(l), scale(l)};
    }
}

template <int D> inline void Write(uint8_t* p, int64_t i, const TPcmSample& s) {
    if constexpr (D == plMono8) {
        Put8(p + i, s.Left);
    } else if constexpr (D == plMono16) {
        Put16(p + 2 * i, s.Left);
    } else if constexpr (D == plStereo8) {
        Put8(p + 2 * i, s.Left);
        Put8(p + 2 * i + 1, s.Right);
    } else {
        Put16(p + 4 * i, s.Left);
        Put16(p + 4 * i + 2, s.Right);
    }
}

// How the sample rate changes: whole factors repeat (Up) or drop (Down) samples; any other ratio
// is resampled by linear interpolation, stepping Step/Den source frames per output frame.
struct TRatePlan {
    enum { Same, Up, Down, Resample } Kind = Same;
    int64_t Factor = 1;
    int64_t Step = 1; // source rate / gcd
    int64_t Den = 1;  // destination rate / gcd
};

TRatePlan PlanRate(uint32_t srcRate, uint32_t dstRate) {
    TRatePlan plan;
    if (srcRate == dstRate)
        return plan;
    if (dstRate > srcRate && dstRate % srcRate == 0) {
        plan.Kind = TRatePlan::Up;
        plan.Factor = dstRate / srcRate;
    } else if (srcRate > dstRate && srcRate % dstRate == 0) {
        plan.Kind = TRatePlan::Down;
        plan.Factor = srcRate / dstRate;
    } else {
        plan.Kind = TRatePlan::Resample;
        uint32_t g = std::gcd(srcRate, dstRate);
        plan.Step = srcRate / g;
        plan.Den = dstRate / g;
    }
    return plan;
}

// Where output frame j of a stream takes its source frames. The source line starts at Base: a
// converter that goes on from an earlier block holds that block's last frames in front of the new
// ones. Positions past the frames at hand hold the last one.
struct TStreamSpan {
    int64_t Base = 0;   // source index of src[0]
    int64_t First = 0;  // index of the first output frame
    int64_t Frames = 0; // source frames at hand
};

template <int S, int D>
void ConvertLoop(const uint8_t* src, const TStreamSpan& span, uint8_t* dst, int64_t m,
                 const TRatePlan& plan) {
    const int64_t last = span.Frames - 1;
    auto at = [&](int64_t index) { return std::clamp<int64_t>(index - span.Base, 0, last); };
    switch (plan.Kind) {
    case TRatePlan::Same:
        for (int64_t j = 0; j < m; ++j)
            Write<D>(dst, j, Read<S, D>(src, at(span.First + j)));
        break;
    case TRatePlan::Up:
        for (int64_t j = 0; j < m; ++j)
            Write<D>(dst, j, Read<S, D>(src, at((span.First + j) / plan.Factor)));
        break;
    case TRatePlan::Down:
        for (int64_t j = 0; j < m; ++j)
            Write<D>(dst, j, Read<S, D>(src, at((span.First + j) * plan.Factor)));
        break;
    case TRatePlan::Resample: {
        // Output frame j sits at source position j x Step / Den; the integer part and the
        // remainder are stepped along, so nothing overflows and the pitch is exact.
        const int64_t whole = plan.Step / plan.Den, part = plan.Step % plan.Den;
        int64_t idx = span.First * plan.Step / plan.Den, rem = span.First * plan.Step % plan.Den;
        for (int64_t j = 0; j < m; ++j) {
            TPcmSample sa = Read<S, D>(src, at(idx)), sb = Read<S, D>(src, at(idx + 1));
            TPcmSample out{sa.Left + int32_t((sb.Left - sa.Left) * rem / plan.Den),
                           sa.Right + int32_t((sb.Right - sa.Right) * rem / plan.Den)};
            Write<D>(dst, j, out);
            idx += whole;
            rem += part;
            if (rem >= plan.Den) {
                rem -= plan.Den;
                ++idx;
            }
        }
        break;
    }
    }
}

// Output frames a source line of n frames makes.
int64_t OutputCount(const TRatePlan& plan, int64_t n) {
    switch (plan.Kind) {
    case TRatePlan::Same:
        return n;
    case TRatePlan::Up:
        return CheckedMul<int64_t>(n, plan.Factor);
    case TRatePlan::Down:
        return n / plan.Factor;
    case TRatePlan::Resample:
        return Round64(Extended(n) * plan.Den / plan.Step);
    }
    return 0;
}

// Source frames [0, end) that output frames [0, j) read.
int64_t SourceEnd(const TRatePlan& plan, int64_t j) {
    if (j <= 0)
        return 0;
    switch (plan.Kind) {
    case TRatePlan::Same:
        return j;
    case TRatePlan::Up:
        return (j - 1) / plan.Factor + 1;
    case TRatePlan::Down:
        return (j - 1) * plan.Factor + 1;
    case TRatePlan::Resample:
        return (j - 1) * plan.Step / plan.Den + 2;
    }
    return 0;
}

using TConvertFn = void (*)(const uint8_t*, const TStreamSpan&, uint8_t*, int64_t,
                            const TRatePlan&);

template <int S> constexpr TConvertFn ConvertFor(int d) {
    switch (d) {
    case plMono8:
        return ConvertLoop<S, plMono8>;
    case plMono16:
        return ConvertLoop<S, plMono16>;
    case plStereo8:
        return ConvertLoop<S, plStereo8>;
    default:
        return ConvertLoop<S, plStereo16>;
    }
}

TConvertFn ConvertFn(int s, int d) {
    switch (s) {
    case plMono8:
        return ConvertFor<plMono8>(d);
    case plMono16:
        return ConvertFor<plMono16>(d);
    case plStereo8:
        return ConvertFor<plStereo8>(d);
    default:
        return ConvertFor<plStereo16>(d);
    }
}

template <int S> TPcmSample ReadFor(int d, const uint8_t* p, int64_t i) {
    switch (d) {
    case plMono8:
        return Read<S, plMono8>(p, i);
    case plMono16:
        return Read<S, plMono16>(p, i);
    case plStereo8:
        return Read<S, plStereo8>(p, i);
    default:
        return Read<S, plStereo16>(p, i);
    }
}

// Gain runs on every sample of every source: the factors go to double, whose 53 bits hold any
// 16-bit sample times any factor exactly enough, and lrint rounds halves to even like Round.
inline int32_t GainValue(int32_t v, double factor) {
    double p = v * factor;
    if (p > kProductLimit)
        p = kProductLimit;
    if (p < -kProductLimit)
        p = -kProductLimit;
    return int32_t(std::lrint(p));
}

bool ValidLayout(int layout) {
    return layout >= plMono8 && layout <= plStereo16;
}

} // namespace

uint8_t PcmSilenceByte(const TAudioFormat& format) {
    return format.Wfx.wBitsPerSample == 8 ? 0x80 : 0x00;
}

int32_t FrameAudioBytes(const TAudioFormat& format, Extended fps) {
    if (!(fps > 0))
        return 0;
    return CheckedMul<int32_t>(Round(format.Wfx.nSamplesPerSec / fps), GetBlockAlign(format));
}

int64_t FrameSampleStart(int64_t frame, uint32_t rate, Extended fps) {
    if (!(fps > 0))
        return 0;
    return Round64(Extended(frame) * rate / fps);
}

int32_t FrameSampleCount(int64_t frame, uint32_t rate, Extended fps) {
    const int64_t n = FrameSampleStart(frame + 1, rate, fps) - FrameSampleStart(frame, rate, fps);
    if (n > INT32_MAX)
        throw EIntOverflow("FrameSampleCount: block too long");
    return int32_t(n);
}

int64_t ScaleSamples(int64_t n, uint32_t from, uint32_t to) {
    if (from == to)
        return n;
    if (from == 0)
        return 0;
    return Round64(Extended(n) * to / from);
}

// ---- Queue ------------------------------------------------------------------------------------

bool TPCMTrans::AddSource(TAudioSourceInfo&& info) {
    Sources.push_back(std::move(info));
    return true;
}

void TPCMTrans::ClearSources() {
    for (auto& s : Sources) {
        if (s.Buffer.capacity() > 0 && Spare.size() < kMaxSpareBuffers) {
            s.Buffer.clear();
            Spare.push_back(std::move(s.Buffer));
        }
    }
    Sources.clear();
}

std::vector<uint8_t> TPCMTrans::TakeBuffer() {
    if (Spare.empty())
        return {};
    std::vector<uint8_t> b = std::move(Spare.back());
    Spare.pop_back();
    b.clear();
    return b;
}

// ---- Sample operations ------------------------------------------------------------------------

int TPCMTrans::GetLayout(const TAudioFormat& format) {
    // The block align alone would take 32-bit mono for 16-bit stereo and 8-bit quadro for it too.
    const uint16_t bits = format.Wfx.wBitsPerSample, channels = format.Wfx.nChannels;
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2))
        return plUnsupported;
    switch (GetBlockAlign(format)) {
    case 1:
        return plMono8;
    case 2:
        return format.Wfx.nChannels == 1 ? plMono16 : plStereo8;
    case 4:
        return plStereo16;
    default:
        return plUnsupported;
    }
}

bool TPCMTrans::SameFormat(const TAudioFormat& a, const TAudioFormat& b) {
    return a.Wfx.nChannels == b.Wfx.nChannels && a.Wfx.nSamplesPerSec == b.Wfx.nSamplesPerSec &&
           a.Wfx.wBitsPerSample == b.Wfx.wBitsPerSample;
}

int64_t TPCMTrans::ConvertedCount(const TAudioFormat& src, const TAudioFormat& dst, int64_t n) {
    if (!ValidLayout(GetLayout(src)) || !ValidLayout(GetLayout(dst)) || n < 0)
        return -1;
    uint32_t sr = src.Wfx.nSamplesPerSec, dr = dst.Wfx.nSamplesPerSec;
    if (sr == 0 || dr == 0)
        return -1;
    return OutputCount(PlanRate(sr, dr), n);
}

bool TPCMTrans::ConvertSamples(const TAudioFormat& src, const TAudioFormat& dst,
                               const uint8_t* srcBuffer, uint8_t* dstBuffer, int64_t& n) {
    int64_t m = ConvertedCount(src, dst, n);
    if (m < 0)
        return false;
    if (n > 0 && m > 0) {
        TRatePlan plan = PlanRate(src.Wfx.nSamplesPerSec, dst.Wfx.nSamplesPerSec);
        ConvertFn(GetLayout(src), GetLayout(dst))(srcBuffer, TStreamSpan{0, 0, n}, dstBuffer, m,
                                                  plan);
    }
    n = m;
    return true;
}

TPcmSample TPCMTrans::ReadSample(int srcLayout, int dstLayout, const uint8_t* buffer, int64_t i) {
    switch (srcLayout) {
    case plMono8:
        return ReadFor<plMono8>(dstLayout, buffer, i);
    case plMono16:
        return ReadFor<plMono16>(dstLayout, buffer, i);
    case plStereo8:
        return ReadFor<plStereo8>(dstLayout, buffer, i);
    default:
        return ReadFor<plStereo16>(dstLayout, buffer, i);
    }
}

void TPCMTrans::WriteSample(int layout, uint8_t* buffer, int64_t i, const TPcmSample& sample) {
    switch (layout) {
    case plMono8:
        return Write<plMono8>(buffer, i, sample);
    case plMono16:
        return Write<plMono16>(buffer, i, sample);
    case plStereo8:
        return Write<plStereo8>(buffer, i, sample);
    default:
        return Write<plStereo16>(buffer, i, sample);
    }
}

TPcmGain TPCMTrans::GainFactors(int layout, Extended balance, Extended volume) {
    TPcmGain g;
    // Values from damaged curves must not turn into noise or phase inversion.
    if (!std::isfinite(balance))
        balance = 0;
    if (!std::isfinite(volume))
        volume = 0;
    if (balance == 0 && volume == 0)
        return g;
    g.Unity = false;
    if (IsStereo(layout)) {
        balance = std::clamp<Extended>(balance, -1, 1);
        g.Left = 1 - balance;
        g.Right = 1 + balance;
    }
    if (volume < 0) {
        Extended m = std::max<Extended>(0, 1 + volume);
        g.Left *= m;
        g.Right *= m;
    } else if (volume > 0) {
        // 0.0625 is unity: stored volume curves count on it.
        Extended m = std::min(16 * volume, kFactorLimit);
        g.Left *= m;
        g.Right *= m;
    }
    return g;
}

void TPCMTrans::ApplyGain(int layout, const TPcmGain& gain, TPcmSample& sample) {
    if (gain.Unity)
        return;
    if (Is16(layout)) {
        sample.Left = Clip16(GainValue(sample.Left, gain.Left));
        if (IsStereo(layout))
            sample.Right = Clip16(GainValue(sample.Right, gain.Right));
    } else {
        sample.Left = Clip8(GainValue(sample.Left, gain.Left));
        if (IsStereo(layout))
            sample.Right = Clip8(GainValue(sample.Right, gain.Right));
    }
}

int32_t TPCMTrans::Clip8(int64_t value) {
    if (value < -128) {
        Clipped = true;
        return -128;
    }
    if (value > 127) {
        Clipped = true;
        return 127;
    }
    return int32_t(value);
}

int32_t TPCMTrans::Clip16(int64_t value) {
    if (value < -32768) {
        Clipped = true;
        return -32768;
    }
    if (value > 32767) {
        Clipped = true;
        return 32767;
    }
    return int32_t(value);
}

// ---- Conversion and mixing --------------------------------------------------------------------

bool TPCMTrans::ConvertBuffer(const TAudioFormat& srcFormat, const TAudioFormat& dstFormat,
                              std::vector<uint8_t>& buffer) {
    if (SameFormat(srcFormat, dstFormat))
        return true;
    int32_t srcAlign = GetBlockAlign(srcFormat), dstAlign = GetBlockAlign(dstFormat);
    int64_t n = int64_t(buffer.size()) / std::max(srcAlign, 1);
    int64_t m = ConvertedCount(srcFormat, dstFormat, n);
    if (m < 0 || m > std::numeric_limits<int32_t>::max() / dstAlign)
        return false;
    Scratch.resize(size_t(m * dstAlign));
    if (!ConvertSamples(srcFormat, dstFormat, buffer.data(), Scratch.data(), n))
        return false;
    // The old block's memory serves the next conversion.
    std::swap(buffer, Scratch);
    return true;
}

bool TPCMTrans::StreamContinues(const TAudioFormat& src, const TAudioFormat& dst) const {
    return Stream.Open && SameFormat(Stream.Src, src) && SameFormat(Stream.Dst, dst);
}

int64_t TPCMTrans::StreamSourceFrames(const TAudioFormat& src, const TAudioFormat& dst,
                                      int64_t frames) const {
    if (ConvertedCount(src, dst, 0) < 0 || frames < 0)
        return -1;
    const TRatePlan plan = PlanRate(src.Wfx.nSamplesPerSec, dst.Wfx.nSamplesPerSec);
    const bool goesOn = StreamContinues(src, dst);
    const int64_t in = goesOn ? Stream.In : 0, out = goesOn ? Stream.Out : 0;
    return std::max<int64_t>(SourceEnd(plan, out + frames) - in, 0);
}

bool TPCMTrans::ConvertStream(const TAudioFormat& src, const TAudioFormat& dst,
                              std::vector<uint8_t>& buffer, int64_t frames) {
    const int64_t need = StreamSourceFrames(src, dst, frames);
    const int64_t srcAlign = GetBlockAlign(src), dstAlign = GetBlockAlign(dst);
    if (need < 0 || frames > std::numeric_limits<int32_t>::max() / dstAlign)
        return false;
    if (!StreamContinues(src, dst))
        Stream = TStreamState{src, dst, true};
    const int64_t given = std::min<int64_t>(int64_t(buffer.size()) / srcAlign, need);
    const TRatePlan plan = PlanRate(src.Wfx.nSamplesPerSec, dst.Wfx.nSamplesPerSec);

    // The held frames go in front of the new ones, so the loop sees one piece of the line.
    const int64_t held = Stream.HeldFrames, total = held + given;
    buffer.insert(buffer.begin(), Stream.Held, Stream.Held + held * srcAlign);
    const TStreamSpan span{Stream.In - held, Stream.Out, total};
    // Where the source has ended, output beyond its end is silence.
    const int64_t made =
        given < need
            ? std::clamp<int64_t>(OutputCount(plan, Stream.In + given) - Stream.Out, 0, frames)
            : frames;
    Scratch.assign(size_t(frames * dstAlign), PcmSilenceByte(dst));
    if (made > 0 && total > 0)
        ConvertFn(GetLayout(src), GetLayout(dst))(buffer.data(), span, Scratch.data(), made, plan);

    Stream.HeldFrames = std::min<int64_t>(total, 2);
    std::memcpy(Stream.Held, buffer.data() + (total - Stream.HeldFrames) * srcAlign,
                size_t(Stream.HeldFrames * srcAlign));
    // Only frames at hand count, so past the source's end the output stays silence.
    Stream.In += given;
    Stream.Out += frames;
    std::swap(buffer, Scratch);
    return true;
}

template <int L> void TPCMTrans::Accumulate(const TAudioSourceInfo& source, int64_t n) {
    const uint8_t* p = source.Buffer.data();
    const TPcmGain gain = GainFactors(L, source.Balance, source.Volume);
    int64_t* sum = Sums.data();
    auto add = [sum](int64_t i, const TPcmSample& s) {
        if constexpr (IsStereo(L)) {
            sum[2 * i] += s.Left;
            sum[2 * i + 1] += s.Right;
        } else {
            sum[i] += s.Left;
        }
    };
    if (gain.Unity) {
        for (int64_t i = 0; i < n; ++i)
            add(i, Read<L, L>(p, i));
        return;
    }
    // ApplyGain with the factors and the clipped flag held in locals, for the inner loop.
    const double left = double(gain.Left), right = double(gain.Right);
    constexpr int32_t lo = Is16(L) ? -32768 : -128, hi = Is16(L) ? 32767 : 127;
    bool clipped = false;
    auto clip = [&clipped](int32_t v) {
        if (v < lo || v > hi) {
            clipped = true;
            return v < lo ? lo : hi;
        }
        return v;
    };
    for (int64_t i = 0; i < n; ++i) {
        TPcmSample s = Read<L, L>(p, i);
        s.Left = clip(GainValue(s.Left, left));
        if constexpr (IsStereo(L))
            s.Right = clip(GainValue(s.Right, right));
        add(i, s);
    }
    if (clipped)
        Clipped = true;
}

template <int L> void TPCMTrans::WriteMix(uint8_t* out, int64_t n) {
    // Each sum clipped to the sample range, the clipped flag held in a local for the loop.
    const int64_t* sum = Sums.data();
    constexpr int64_t lo = Is16(L) ? -32768 : -128, hi = Is16(L) ? 32767 : 127;
    bool clipped = false;
    auto clip = [&clipped](int64_t v) {
        if (v < lo || v > hi) {
            clipped = true;
            return int32_t(v < lo ? lo : hi);
        }
        return int32_t(v);
    };
    for (int64_t i = 0; i < n; ++i) {
        TPcmSample s{};
        if constexpr (IsStereo(L)) {
            s.Left = clip(sum[2 * i]);
            s.Right = clip(sum[2 * i + 1]);
        } else {
            s.Left = clip(sum[i]);
        }
        Write<L>(out, i, s);
    }
    if (clipped)
        Clipped = true;
}

bool TPCMTrans::MixSources(TMixBuffer& out) {
    Clipped = false;
    if (Sources.empty())
        return false;
    const int layout = GetLayout(out.Format);
    if (!ValidLayout(layout)) {
        // A failed mix must not leave this frame's blocks to be mixed into the next one.
        ClearSources();
        return false;
    }

    const size_t size = Sources.front().Buffer.size();
    const uint8_t silence = PcmSilenceByte(out.Format);
    for (auto& s : Sources) {
        if (s.Buffer.size() != size)
            s.Buffer.resize(size, silence); // cut, or pad with silence
    }

    const int64_t align = GetBlockAlign(out.Format);
    const int64_t n = int64_t(size) / align;
    out.Buffer.resize(size);
    // A trailing part-frame, if any, is silence rather than whatever the buffer held.
    std::fill(out.Buffer.begin() + n * align, out.Buffer.end(), silence);

    Sums.assign(size_t(n * (IsStereo(layout) ? 2 : 1)), 0);
    for (const auto& s : Sources) {
        switch (layout) {
        case plMono8:
            Accumulate<plMono8>(s, n);
            break;
        case plMono16:
            Accumulate<plMono16>(s, n);
            break;
        case plStereo8:
            Accumulate<plStereo8>(s, n);
            break;
        default:
            Accumulate<plStereo16>(s, n);
            break;
        }
    }
    switch (layout) {
    case plMono8:
        WriteMix<plMono8>(out.Buffer.data(), n);
        break;
    case plMono16:
        WriteMix<plMono16>(out.Buffer.data(), n);
        break;
    case plStereo8:
        WriteMix<plStereo8>(out.Buffer.data(), n);
        break;
    default:
        WriteMix<plStereo16>(out.Buffer.data(), n);
        break;
    }

    ClearSources();
    out.Clipped = Clipped;
    out.FirstLeft = out.FirstRight = 0;
    if (n > 0) {
        TPcmSample first = ReadSample(layout, layout, out.Buffer.data(), 0);
        if (Is16(layout)) {
            first.Left /= 256;
            first.Right /= 256;
        }
        out.FirstLeft = first.Left;
        out.FirstRight = IsStereo(layout) ? first.Right : first.Left;
    }
    return true;
}
