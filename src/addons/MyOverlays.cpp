#include "MyOverlays.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

#include "MyCommonParams.h"
#include "MyCommonServices.h"
#include "MyMovieInterface.h"
#include "MyPictureLoader.h"
#include "MyTimeData.h"

namespace {

// Picture columns X0..X1-1 and rows Y0..Y1-1 of a w x h picture at (px, py) land on the frame.
struct TSpan {
    int32_t X0 = 0, X1 = 0, Y0 = 0, Y1 = 0;
};

// The part of a picture placed at (px, py) that the frame shows; False when none does.
bool ClipToFrame(int32_t w, int32_t h, int64_t px, int64_t py, const TBitmap& frame, TSpan& s) {
    const int64_t x0 = std::max<int64_t>(0, -px), x1 = std::min<int64_t>(w, frame.Width() - px);
    const int64_t y0 = std::max<int64_t>(0, -py), y1 = std::min<int64_t>(h, frame.Height() - py);
    if (x0 >= x1 || y0 >= y1)
        return false;
    s = TSpan{static_cast<int32_t>(x0), static_cast<int32_t>(x1), static_cast<int32_t>(y0),
              static_cast<int32_t>(y1)};
    return true;
}

// Frame byte under picture column x0 of picture row y.
inline uint8_t* FramePixel(TBitmap& frame, int64_t px, int64_t py, int32_t x0, int32_t y) {
    return frame.ScanLine(static_cast<int32_t>(py + y)) + (px + x0) * 3;
}

inline bool SamePixel(const uint8_t* a, const uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

inline void CopyPixel(const uint8_t* s, uint8_t* d) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

inline void GreyPixel(uint8_t* d) {
    const uint8_t g = static_cast<uint8_t>((d[0] + d[1] + d[2]) / 3);
    d[0] = d[1] = d[2] = g;
}

// Copies the picture pixels that differ from key onto the frame.
void CopyKeyed(const TBitmap& picture, const uint8_t key[3], TBitmap& frame, int64_t px,
               int64_t py) {
    TSpan s;
    if (!ClipToFrame(picture.Width(), picture.Height(), px, py, frame, s))
        return;
    for (int32_t y = s.Y0; y < s.Y1; ++y) {
        const uint8_t* src = picture.ScanLine(y) + s.X0 * 3;
        uint8_t* dst = FramePixel(frame, px, py, s.X0, y);
        for (int32_t x = s.X0; x < s.X1; ++x, src += 3, dst += 3)
            if (!SamePixel(src, key))
                CopyPixel(src, dst);
    }
}

// Round of a value that may lie far outside what any frame shows; such values are pinned well
// outside the frame instead of overflowing.
int64_t RoundPinned(Extended v) {
    constexpr Extended limit = 1e12L;
    if (!(v > -limit))
        return -static_cast<int64_t>(limit);
    if (v > limit)
        return static_cast<int64_t>(limit);
    return Round64(v);
}

// Sizing outside -1..1 (extrapolated curves, values from files) is held at its ends, so a
// picture never grows past its own size.
Extended SizingFactor(const TNodeInfo& info) {
    const Extended s = std::isnan(info.Sizing) ? 0 : std::clamp(info.Sizing, -1.0L, 1.0L);
    return (s + 1.0L) / 2.0L;
}

// Scaled size of a w x h picture: the width by the factor, the height keeping the aspect; each at
// least one pixel.
void ScaledSize(int32_t w, int32_t h, Extended factor, int32_t& sw, int32_t& sh) {
    sw = Round(w * factor);
    sh = w == 0 ? 0 : Round((static_cast<Extended>(h) * sw) / w);
    sw = std::max(sw, 1);
    sh = std::max(sh, 1);
}

// Frames larger than any picture we load are not drawn: a movie header may claim any size.
bool SizeFits(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= MaxPictureSide && h <= MaxPictureSide &&
           w * h <= MaxPicturePixels;
}

std::string FormatRate(Extended rate) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(rate),
                                 std::chars_format::general, 6);
    std::string s(buf, r.ptr);
    std::replace(s.begin(), s.end(), '.', GetDecimalSeparator());
    return s;
}

} // namespace

// ---- RotateBitmap
// ---------------------------------------------------------------------------------

TBitmap RotateBitmap(const TBitmap& source, uint32_t colour, Extended degrees) {
    const int32_t w = source.Width(), h = source.Height();
    TBitmap result(w, h);
    if (w <= 0 || h <= 0)
        return result;
    uint8_t fill[3];
    ColorToBGR(colour, fill);
    const int32_t cx = w / 2, cy = h / 2;
    const double theta =
        std::isfinite(degrees) ? static_cast<double>(degrees) * std::numbers::pi / 180.0 : 0.0;
    const double s = std::sin(theta), c = std::cos(theta);
    // Offsets are doubled and odd, so the centre lies between pixels and 0 degrees maps every
    // pixel onto itself.
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* d = result.ScanLine(y);
        const double dy = (y - cy) * 2 + 1;
        for (int32_t x = 0; x < w; ++x, d += 3) {
            const double dx = (x - cx) * 2 + 1;
            const int64_t u = Round64(dx * c - dy * s);
            const int64_t v = Round64(dx * s + dy * c);
            const int64_t sx = (u - 1) / 2 + cx;
            const int64_t sy = (v - 1) / 2 + cy;
            if (sx >= 0 && sx < w && sy >= 0 && sy < h)
                CopyPixel(source.ScanLine(static_cast<int32_t>(sy)) + sx * 3, d);
            else
                CopyPixel(fill, d);
        }
    }
    return result;
}

// ---- TOverlay
// -------------------------------------------------------------------------------------

void TOverlay::ComposeChildren(TBitmap& target) {
    if (Bridge->BeforeDraw)
        Bridge->BeforeDraw(&target, Time);
}

bool TOverlay::GetSnapshot(TNodeInfo& info) {
    return Bitmap && GetNodeInfo && GetNodeInfo(info);
}

void TOverlay::Placement(const TNodeInfo& info, int32_t w, int32_t h, int64_t& px,
                         int64_t& py) const {
    TPoint p;
    ToFramePoint(info, p);
    px = static_cast<int64_t>(p.X) - w / 2;
    py = static_cast<int64_t>(p.Y) - h / 2;
}

void TOverlay::LoadPicture(const std::string& text) {
    Params = text;
    if (text.empty() || !FileExists(text))
        return;
    // Loaded into the bridge's own picture: in the add-on preview the work bitmap is the
    // shared preview picture, which no overlay may replace.
    TBitmap& kept = Bridge->WorkBitmap;
    try {
        TPictureLoader loader;
        TBitmap loaded;
        loader.LoadFromFile(text, loaded);
        kept.Assign(loaded);
    } catch (const std::exception& e) {
        // A damaged picture must not stop the project from loading: the overlay shows nothing
        // and says its format is unknown.
        kept.SetSize(0, 0);
        LoadMessages.Add("Can not load picture " + text + ": " + e.what());
    }
}

const TBitmap* TOverlay::ComposedPicture() {
    const TBitmap* kept = GetWorkBitmap();
    if (kept->Empty())
        return nullptr;
    if (!Bridge->BeforeDraw)
        return kept;
    Composed.Assign(*kept);
    ComposeChildren(Composed);
    return &Composed;
}

bool TOverlay::PictureInfo(std::vector<std::string>& lines, const std::string& what) {
    lines.clear();
    const TBitmap* picture = GetWorkBitmap();
    if (!picture->Empty()) {
        lines.push_back(what);
        lines.push_back("Width:  " + std::to_string(picture->Width()));
        lines.push_back("Height: " + std::to_string(picture->Height()));
        return true;
    }
    lines.push_back(what + (Params.empty() ? " is not yet loaded." : " format is unknown."));
    return false;
}

// ---- picture overlays
// -----------------------------------------------------------------------------

TBitmapOverlay::TBitmapOverlay(TAddOnBridge& bridge) : TOverlay(bridge) {
    ExternalKind = ekPicture;
    UsesPicture = true;
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckPosition, "");
}

void TBitmapOverlay::SetParams(const std::string& text) {
    LoadPicture(text);
}

bool TBitmapOverlay::GetInfo(std::vector<std::string>& lines) {
    return PictureInfo(lines, "Bitmap");
}

bool TBitmapOverlay::DoOverlay(int32_t, int32_t, Extended, Extended) {
    TNodeInfo info;
    if (GetWorkBitmap()->Empty() || !GetSnapshot(info))
        return true;
    const TBitmap* picture = ComposedPicture();
    int64_t px, py;
    Placement(info, picture->Width(), picture->Height(), px, py);
    TSpan s;
    if (ClipToFrame(picture->Width(), picture->Height(), px, py, *Bitmap, s))
        Bitmap->Canvas().Draw(static_cast<int32_t>(px), static_cast<int32_t>(py), *picture);
    return true;
}

bool TOpaqueBitmapOverlay::DoOverlay(int32_t, int32_t, Extended, Extended) {
    TNodeInfo info;
    if (GetWorkBitmap()->Empty() || !GetSnapshot(info))
        return true;
    // The key is the loaded picture's corner, whatever the children draw there.
    uint8_t key[3];
    std::memcpy(key, GetWorkBitmap()->ScanLine(0), 3);
    const TBitmap* picture = ComposedPicture();
    int64_t px, py;
    Placement(info, picture->Width(), picture->Height(), px, py);
    CopyKeyed(*picture, key, *Bitmap, px, py);
    return true;
}

TFocusOverlay::TFocusOverlay(TAddOnBridge& bridge) : TBitmapOverlay(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckPick, "Color as opaque");
}

bool TFocusOverlay::DoOverlay(int32_t, int32_t, Extended, Extended) {
    TNodeInfo info;
    if (GetWorkBitmap()->Empty() || !GetSnapshot(info))
        return true;
    uint8_t key[3], window[3];
    std::memcpy(key, GetWorkBitmap()->ScanLine(0), 3);
    ColorToBGR(info.Color, window);
    const TBitmap* picture = ComposedPicture();
    const int32_t w = picture->Width(), h = picture->Height();
    int64_t px, py;
    Placement(info, w, h, px, py);

    // Grey everywhere but strictly inside the picture's area (its first row and column are
    // greyed as well).
    const int32_t fw = Bitmap->Width(), fh = Bitmap->Height();
    const int64_t innerL = std::clamp<int64_t>(px + 1, 0, fw);
    const int64_t innerR = std::clamp<int64_t>(px + w, innerL, fw);
    for (int32_t y = 0; y < fh; ++y) {
        uint8_t* row = Bitmap->ScanLine(y);
        const bool inside = px + 1 < px + w && py < y && y < py + h;
        const int64_t l = inside ? innerL : fw, r = inside ? innerR : fw;
        for (int64_t x = 0; x < l; ++x)
            GreyPixel(row + x * 3);
        for (int64_t x = r; x < fw; ++x)
            GreyPixel(row + x * 3);
    }

    TSpan s;
    if (!ClipToFrame(w, h, px, py, *Bitmap, s))
        return true;
    for (int32_t y = s.Y0; y < s.Y1; ++y) {
        const uint8_t* src = picture->ScanLine(y) + s.X0 * 3;
        uint8_t* dst = FramePixel(*Bitmap, px, py, s.X0, y);
        for (int32_t x = s.X0; x < s.X1; ++x, src += 3, dst += 3) {
            if (SamePixel(src, key))
                GreyPixel(dst);
            else if (!SamePixel(src, window))
                CopyPixel(src, dst);
        }
    }
    return true;
}

TRotateOverlay::TRotateOverlay(TAddOnBridge& bridge) : TBitmapOverlay(bridge) {
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckPick, "Color as opaque");
        RegisterTimeEffect(ckLevel, "Rotation speed");
        RegisterTimeEffect(ckSizing, "Bitmap sizing");
        RegisterTimeEffect(ckPosition, "");
    }
}

bool TRotateOverlay::DoOverlay(int32_t, int32_t, Extended, Extended) {
    if (Busy)
        return true;
    Busy = true;
    auto clear = MakeScopeExit([this] { Busy = false; });

    TNodeInfo info;
    if (GetWorkBitmap()->Empty() || !GetSnapshot(info))
        return true;
    const TBitmap* picture = ComposedPicture();
    int32_t sw, sh;
    ScaledSize(picture->Width(), picture->Height(), SizingFactor(info), sw, sh);
    Scaled.SetSize(sw, sh);
    Scaled.Canvas().StretchDraw(Rect(0, 0, sw, sh), *picture);
    int64_t px, py;
    Placement(info, sw, sh, px, py);
    const TBitmap rotated = RotateBitmap(Scaled, info.Color, -info.Level * 180.0L);
    uint8_t key[3];
    ColorToBGR(info.Color, key);
    CopyKeyed(rotated, key, *Bitmap, px, py);
    return true;
}

TCreditOverlay::TCreditOverlay(TAddOnBridge& bridge) : TOverlay(bridge) {
    ExternalKind = ekPicture;
    UsesPicture = true;
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckPosition, "");
        RegisterTimeEffect(ckLevel, "Scrolling speed");
    }
}

void TCreditOverlay::SetParams(const std::string& text) {
    LoadPicture(text);
}

bool TCreditOverlay::GetInfo(std::vector<std::string>& lines) {
    return PictureInfo(lines, "Credit title bitmap");
}

bool TCreditOverlay::DoOverlay(int32_t frame, int32_t, Extended, Extended) {
    TNodeInfo info;
    if (GetWorkBitmap()->Empty() || !GetSnapshot(info))
        return true;
    uint8_t key[3];
    std::memcpy(key, GetWorkBitmap()->ScanLine(0), 3);
    const TBitmap* picture = ComposedPicture();
    const int64_t scroll = RoundPinned((info.Level + 1.0L) * 3.0L * frame);
    int64_t px, py;
    Placement(info, picture->Width(), picture->Height(), px, py);
    // Picture row r shows on frame row r - (scroll - py): centred at frame 0, then moving up.
    CopyKeyed(*picture, key, *Bitmap, px, py - scroll);
    return true;
}

// ---- movie overlays
// -------------------------------------------------------------------------------

TMovieOverlay::TMovieOverlay(TAddOnBridge& bridge) : TOverlay(bridge) {
    ExternalKind = ekMovie;
    if (Bridge->CreateMovieInterface)
        Movie = Bridge->CreateMovieInterface(this);
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckPosition, "");
        RegisterTimeEffect(ckSizing, "");
    }
}

TMovieOverlay::~TMovieOverlay() {
    if (Movie && Bridge->FreeMovieInterface)
        Bridge->FreeMovieInterface(Movie);
}

void TMovieOverlay::SetParams(const std::string& text) {
    Params = text;
    if (!Movie || !Movie->Open(text))
        return;
    if (SizeFits(Movie->GetWidth(), Movie->GetHeight()))
        FrameBitmap().SetSize(Movie->GetWidth(), Movie->GetHeight());
    const Extended d = Movie->GetDuration();
    if (d > 0) {
        HasDuration = true;
        Duration = d;
    }
}

bool TMovieOverlay::GetInfo(std::vector<std::string>& lines) {
    lines.clear();
    if (!Movie)
        return false;
    if (!Movie->IsOpen()) {
        lines.push_back(Movie->GetFileName().empty() ? "Movie is not yet loaded."
                                                     : "Movie format is unknown.");
        return false;
    }
    lines.push_back("Video");
    lines.push_back("Duration:     " + FormatTimeText(Movie->GetDuration()));
    lines.push_back("Frame width:  " + std::to_string(Movie->GetWidth()));
    lines.push_back("Frame height: " + std::to_string(Movie->GetHeight()));
    lines.push_back("Frame rate:   " + FormatRate(Movie->GetFrameRate()));
    lines.push_back("Frame count:  " + std::to_string(Movie->GetFrameCount()));
    lines.push_back("");
    lines.push_back("Sound will not be included");
    return true;
}

TMovieOverlay::TMovieFrame TMovieOverlay::PrepareFrame(Extended time, Extended fps, TNodeInfo& info,
                                                       int64_t& px, int64_t& py) {
    if (!Movie)
        return TMovieFrame::NoMovie;
    if (!Movie->IsOpen())
        return TMovieFrame::NotOpen;
    if (!GetSnapshot(info))
        return TMovieFrame::NoInfo;
    const int32_t mw = Movie->GetWidth(), mh = Movie->GetHeight();
    if (!SizeFits(mw, mh))
        return TMovieFrame::NoFrame;
    int32_t w, h;
    ScaledSize(mw, mh, SizingFactor(info), w, h);
    TBitmap& target = FrameBitmap();
    if (target.Width() != w || target.Height() != h)
        target.SetSize(w, h);
    Placement(info, w, h, px, py);
    if (!Movie->GetFrameAt(target, time, fps))
        return TMovieFrame::NoFrame;
    ComposeChildren(target);
    return TMovieFrame::Ready;
}

bool TMovieOverlay::DoOverlay(int32_t, int32_t, Extended time, Extended fps) {
    TNodeInfo info;
    int64_t px, py;
    // A movie that could not be opened draws nothing and is no failure.
    if (const TMovieFrame f = PrepareFrame(time, fps, info, px, py); f != TMovieFrame::Ready)
        return f == TMovieFrame::NotOpen;
    const TBitmap& picture = FrameBitmap();
    TSpan s;
    if (ClipToFrame(picture.Width(), picture.Height(), px, py, *Bitmap, s))
        Bitmap->Canvas().Draw(static_cast<int32_t>(px), static_cast<int32_t>(py), picture);
    return true;
}

TTransMovieOverlay::TTransMovieOverlay(TAddOnBridge& bridge) : TMovieOverlay(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Opacity level");
}

bool TTransMovieOverlay::DoOverlay(int32_t, int32_t, Extended time, Extended fps) {
    TNodeInfo info;
    int64_t px, py;
    switch (PrepareFrame(time, fps, info, px, py)) {
    case TMovieFrame::NoMovie:
    case TMovieFrame::NoInfo:
        return false;
    case TMovieFrame::Ready:
        break;
    default:
        return true;
    }
    // Levels past -1..1 are held at the ends, so the weights stay within 0..10000.
    const Extended level = std::isnan(info.Level) ? 0 : std::clamp(info.Level, -1.0L, 1.0L);
    const uint32_t a = static_cast<uint32_t>(Round((level + 1.0L) / 2.0L * 10000.0L));
    const uint32_t b = 10000 - a;
    const TBitmap& picture = FrameBitmap();
    TSpan s;
    if (!ClipToFrame(picture.Width(), picture.Height(), px, py, *Bitmap, s))
        return true;
    std::array<uint32_t, 256> sa, db;
    for (uint32_t v = 0; v < 256; ++v) {
        sa[v] = v * a;
        db[v] = v * b;
    }
    const size_t bytes = static_cast<size_t>(s.X1 - s.X0) * 3;
    for (int32_t y = s.Y0; y < s.Y1; ++y) {
        const uint8_t* src = picture.ScanLine(y) + s.X0 * 3;
        uint8_t* dst = FramePixel(*Bitmap, px, py, s.X0, y);
        for (size_t i = 0; i < bytes; ++i)
            dst[i] = static_cast<uint8_t>((sa[src[i]] + db[dst[i]]) / 10000);
    }
    return true;
}

const std::vector<uint8_t>& TRoundMovieOverlay::GetMask(int32_t w, int32_t h) {
    if (w == MaskWidth && h == MaskHeight && !Mask.empty())
        return Mask;
    // The circle is drawn by the canvas, so its edge is the canvas's own ellipse.
    TBitmap shape(w, h);
    TCanvas& c = shape.Canvas();
    c.Pen.Color = 0xFFFFFF;
    c.Brush.Color = 0xFFFFFF;
    c.Brush.Style = bsSolid;
    const int32_t d = std::min(w, h);
    const int32_t shift = std::abs(w - h) / 2;
    const int32_t left = w > h ? shift : 0, top = h > w ? shift : 0;
    c.Ellipse(Rect(left, top, left + d, top + d));
    Mask.assign(static_cast<size_t>(w) * h, 0);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = shape.ScanLine(y);
        for (int32_t x = 0; x < w; ++x)
            Mask[static_cast<size_t>(y) * w + x] = row[x * 3] != 0;
    }
    MaskWidth = w;
    MaskHeight = h;
    return Mask;
}

bool TRoundMovieOverlay::DoOverlay(int32_t, int32_t, Extended time, Extended fps) {
    TNodeInfo info;
    int64_t px, py;
    // A movie that could not be opened draws nothing and is no failure.
    if (const TMovieFrame f = PrepareFrame(time, fps, info, px, py); f != TMovieFrame::Ready)
        return f == TMovieFrame::NotOpen;
    const TBitmap& picture = FrameBitmap();
    const int32_t w = picture.Width();
    const std::vector<uint8_t>& mask = GetMask(w, picture.Height());
    TSpan s;
    if (!ClipToFrame(w, picture.Height(), px, py, *Bitmap, s))
        return true;
    for (int32_t y = s.Y0; y < s.Y1; ++y) {
        const uint8_t* m = mask.data() + static_cast<size_t>(y) * w;
        const uint8_t* src = picture.ScanLine(y) + s.X0 * 3;
        uint8_t* dst = FramePixel(*Bitmap, px, py, s.X0, y);
        for (int32_t x = s.X0; x < s.X1; ++x, src += 3, dst += 3)
            if (m[x])
                CopyPixel(src, dst);
    }
    return true;
}
