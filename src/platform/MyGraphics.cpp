#include "MyGraphics.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "MyBase.h"
#include "MyExceptions.h"
#include "MyYuvPicture.h"

namespace {

// Rectangles are worked on in 64 bits so that callers' coordinates near the int32 limits cannot
// overflow on the way.
struct TRect64 {
    int64_t Left, Top, Right, Bottom;
    TRect64(int64_t l, int64_t t, int64_t r, int64_t b) : Left(l), Top(t), Right(r), Bottom(b) {}
    TRect64(const TRect& r) : Left(r.Left), Top(r.Top), Right(r.Right), Bottom(r.Bottom) {}
};

struct TSpan {
    int64_t From = 0;
    int64_t To = 0; // exclusive
    bool Empty() const { return To <= From; }
};

TSpan Clip(int64_t from, int64_t to, int64_t limit) {
    return TSpan{std::max<int64_t>(from, 0), std::min<int64_t>(to, limit)};
}

inline void PutBGR(uint8_t* p, uint32_t color) {
    p[0] = static_cast<uint8_t>(color >> 16);
    p[1] = static_cast<uint8_t>(color >> 8);
    p[2] = static_cast<uint8_t>(color);
}

QColor ToQColor(uint32_t color) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// Solid fill of [l, r) x [t, b), clipped. The first row is built pixel by pixel and copied to
// the others, which keeps large fills at memcpy speed.
void FillSolid(TBitmap& bmp, int64_t l, int64_t t, int64_t r, int64_t b, uint32_t color) {
    TSpan xs = Clip(l, r, bmp.Width());
    TSpan ys = Clip(t, b, bmp.Height());
    if (xs.Empty() || ys.Empty())
        return;
    uint8_t* bits = bmp.Bits();
    const size_t stride = static_cast<size_t>(bmp.RowBytes());
    const size_t offset = static_cast<size_t>(xs.From) * 3;
    const size_t bytes = static_cast<size_t>(xs.To - xs.From) * 3;
    uint8_t* first = bits + static_cast<size_t>(ys.From) * stride + offset;
    for (size_t i = 0; i < bytes; i += 3)
        PutBGR(first + i, color);
    for (int64_t y = ys.From + 1; y < ys.To; ++y)
        std::memcpy(bits + static_cast<size_t>(y) * stride + offset, first, bytes);
}

// The copy behind Draw, StretchDraw and CopyRect. dst and src must be different bitmaps.
void StretchCopy(TBitmap& dst, const TRect64& d, const TBitmap& src, const TRect64& s) {
    const int64_t dw = d.Right - d.Left, dh = d.Bottom - d.Top;
    const int64_t sw = s.Right - s.Left, sh = s.Bottom - s.Top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || src.Empty() || dst.Empty())
        return;

    const size_t dstStride = static_cast<size_t>(dst.RowBytes());
    const size_t srcStride = static_cast<size_t>(src.RowBytes());
    uint8_t* dbits = dst.Bits();
    const uint8_t* sbits = src.Bits();

    if (dw == sw && dh == sh) {
        // Same size: the destination span is cut to the destination and to where the
        // source pixels exist, then copied row by row.
        TSpan xs = Clip(d.Left, d.Right, dst.Width());
        xs.From = std::max(xs.From, d.Left - s.Left);
        xs.To = std::min(xs.To, d.Left - s.Left + src.Width());
        TSpan ys = Clip(d.Top, d.Bottom, dst.Height());
        ys.From = std::max(ys.From, d.Top - s.Top);
        ys.To = std::min(ys.To, d.Top - s.Top + src.Height());
        if (xs.Empty() || ys.Empty())
            return;
        const int64_t sx = xs.From - d.Left + s.Left;
        const size_t bytes = static_cast<size_t>(xs.To - xs.From) * 3;
        for (int64_t y = ys.From; y < ys.To; ++y) {
            const int64_t sy = y - d.Top + s.Top;
            std::memcpy(
                dbits + static_cast<size_t>(y) * dstStride + static_cast<size_t>(xs.From) * 3,
                sbits + static_cast<size_t>(sy) * srcStride + static_cast<size_t>(sx) * 3, bytes);
        }
        return;
    }

    // Source columns only grow with the destination column, so the columns that have a source
    // pixel form one run; the table holds each one's source byte offset.
    TSpan xs = Clip(d.Left, d.Right, dst.Width());
    std::vector<size_t> columns;
    int64_t firstX = -1;
    if (!xs.Empty())
        columns.reserve(static_cast<size_t>(xs.To - xs.From));
    for (int64_t x = xs.From; x < xs.To; ++x) {
        const int64_t sx = s.Left + StretchSourceIndex(x - d.Left, sw, dw);
        if (sx < 0)
            continue;
        if (sx >= src.Width())
            break;
        if (firstX < 0)
            firstX = x;
        columns.push_back(static_cast<size_t>(sx) * 3);
    }
    if (columns.empty())
        return;
    const size_t dstOffset = static_cast<size_t>(firstX) * 3;
    const size_t rowBytes = columns.size() * 3;

    TSpan ys = Clip(d.Top, d.Bottom, dst.Height());
    int64_t lastSy = -1;
    const uint8_t* lastRow = nullptr;
    for (int64_t y = ys.From; y < ys.To; ++y) {
        const int64_t sy = s.Top + StretchSourceIndex(y - d.Top, sh, dh);
        if (sy < 0)
            continue;
        if (sy >= src.Height())
            break;
        uint8_t* out = dbits + static_cast<size_t>(y) * dstStride + dstOffset;
        if (sy == lastSy) {
            // Enlarging repeats source rows; the row just made is copied whole.
            std::memcpy(out, lastRow, rowBytes);
            continue;
        }
        const uint8_t* in = sbits + static_cast<size_t>(sy) * srcStride;
        uint8_t* p = out;
        for (size_t c : columns) {
            p[0] = in[c];
            p[1] = in[c + 1];
            p[2] = in[c + 2];
            p += 3;
        }
        lastSy = sy;
        lastRow = out;
    }
}

void CopyBitmapRect(TBitmap& dst, const TRect64& d, const TBitmap& src, const TRect64& s) {
    if (&dst == &src) {
        // Copying within one bitmap: read from a snapshot so overlapping areas come out as
        // if the source had been taken first.
        TBitmap snapshot;
        snapshot.Assign(src);
        StretchCopy(dst, d, snapshot, s);
    } else {
        StretchCopy(dst, d, src, s);
    }
}

// A QImage over the bitmap's own memory (no copy) with a painter that draws hard edges.
class TPainterView {
public:
    explicit TPainterView(TBitmap& bmp)
        : Image(bmp.Bits(), bmp.Width(), bmp.Height(), bmp.RowBytes(), QImage::Format_BGR888),
          Painter(&Image) {
        Painter.setRenderHint(QPainter::Antialiasing, false);
        Painter.setRenderHint(QPainter::TextAntialiasing, false);
    }
    QImage Image;
    QPainter Painter;
};

QPen MakePen(const TPen& pen) {
    QPen result(ToQColor(pen.Color));
    if (pen.Width <= 1) {
        result.setWidth(1);
        result.setCapStyle(Qt::SquareCap);
    } else {
        // Wide pens end and join round.
        result.setWidth(pen.Width);
        result.setCapStyle(Qt::RoundCap);
        result.setJoinStyle(Qt::RoundJoin);
    }
    return result;
}

void RegisterFontSubstitutes() {
    static std::once_flag once;
    // The default face: Liberation Sans has the same metrics, so layouts keep their widths
    // where fontconfig has no alias for it.
    std::call_once(once, [] { QFont::insertSubstitution("Arial", "Liberation Sans"); });
}

} // namespace

// ---- TCanvas ------------------------------------------------------------------------------------

struct TCanvas::TFontCache {
    TFontCache(const TFont& f, int pixelSize)
        : Name(f.Name), PixelSize(pixelSize), Style(f.Style), Font(MakeFont(f, pixelSize)),
          Metrics(Font) {}

    static QFont MakeFont(const TFont& f, int pixelSize) {
        RegisterFontSubstitutes();
        QFont font(QString::fromUtf8(f.Name.data(), static_cast<qsizetype>(f.Name.size())));
        font.setPixelSize(pixelSize);
        font.setBold(f.Style & TFont::fsBold);
        font.setItalic(f.Style & TFont::fsItalic);
        font.setUnderline(f.Style & TFont::fsUnderline);
        font.setStrikeOut(f.Style & TFont::fsStrikeOut);
        // Glyphs in the pixels' own colour only, so renders are exact and keyable.
        font.setStyleStrategy(QFont::NoAntialias);
        return font;
    }

    std::string Name;
    int PixelSize;
    TFontStyles Style;
    QFont Font;
    QFontMetrics Metrics;
    // Where TextOut draws its glyphs before they go into the bitmap, reused from call to call.
    mutable QImage Scratch;
};

namespace {

// Draws s in color with its baseline starting at (x, baseline), as a painter on the 24-bit
// bitmap itself would. Qt rasterises glyphs above 64 pixels as outlines and fills those on 24-bit
// pictures on a slow path (split across its worker threads, which costs more than it saves), so
// such text is drawn white on a black 32-bit picture just large enough for it, and every pixel
// the glyphs cover takes the colour: the glyphs are aliased (the font is made without smoothing),
// so a pixel is either covered or not, whatever the picture's format.
void DrawGlyphs(TBitmap& bmp, const QFont& font, const QFontMetrics& metrics, QImage& scratch,
                const QString& s, int64_t width, int64_t x, int64_t baseline, uint32_t color) {
    if (font.pixelSize() <= 64) {
        TPainterView view(bmp);
        view.Painter.setFont(font);
        view.Painter.setPen(ToQColor(color));
        view.Painter.drawText(QPoint(static_cast<int>(x), static_cast<int>(baseline)), s);
        return;
    }
    // The ink's bounds and the text's cell (underlines span its width), widened for rounding,
    // within the bitmap.
    const QRect ink = metrics.boundingRect(s);
    const int64_t margin = 2 + metrics.height() / 4;
    const int64_t left = std::min<int64_t>(ink.left(), 0) - margin;
    const int64_t right = std::max<int64_t>(ink.right() + 1, width) + margin;
    const int64_t top = std::min<int64_t>(ink.top(), -metrics.ascent()) - margin;
    const int64_t bottom = std::max<int64_t>(ink.bottom() + 1, metrics.descent()) + margin;
    const TSpan xs = Clip(x + left, x + right, bmp.Width());
    const TSpan ys = Clip(baseline + top, baseline + bottom, bmp.Height());
    if (xs.Empty() || ys.Empty())
        return;
    const int w = static_cast<int>(xs.To - xs.From), h = static_cast<int>(ys.To - ys.From);
    if (scratch.width() < w || scratch.height() < h)
        scratch = QImage(std::max(w, scratch.width()), std::max(h, scratch.height()),
                         QImage::Format_RGB32);
    if (scratch.isNull())
        return;
    for (int r = 0; r < h; ++r)
        std::memset(scratch.scanLine(r), 0, size_t(w) * 4);
    {
        QPainter painter(&scratch);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(
            QPoint(static_cast<int>(x - xs.From), static_cast<int>(baseline - ys.From)), s);
    }
    for (int r = 0; r < h; ++r) {
        const uchar* row = scratch.constScanLine(r);
        uint8_t* dst = bmp.ScanLine(static_cast<int32_t>(ys.From + r)) + size_t(xs.From) * 3;
        for (int c = 0; c < w;) {
            // Most of the picture is the black between the glyphs: it is passed two by two.
            uint64_t pair = 0;
            if (c + 1 < w) {
                std::memcpy(&pair, row + size_t(c) * 4, 8);
                if ((pair & 0x00FFFFFF00FFFFFFull) == 0) {
                    c += 2;
                    continue;
                }
            }
            uint32_t px;
            std::memcpy(&px, row + size_t(c) * 4, 4);
            if (px & 0xFFFFFF)
                PutBGR(dst + size_t(c) * 3, color);
            ++c;
        }
    }
}

} // namespace

TCanvas::TCanvas(TBitmap& owner) : FOwner(&owner) {}

TCanvas::~TCanvas() = default;

void TCanvas::TakeState(TCanvas& other) {
    Pen = other.Pen;
    Brush = other.Brush;
    Font = std::move(other.Font);
    PenPos = other.PenPos;
    FFont = std::move(other.FFont);
    other.Font = TFont();
}

const TCanvas::TFontCache& TCanvas::CurrentFont() const {
    // Font sizes are points at 96 dpi.
    const int pixelSize = std::max(1, Round(Extended(Font.Size) * 96 / 72));
    if (!FFont || FFont->Name != Font.Name || FFont->PixelSize != pixelSize ||
        FFont->Style != Font.Style)
        FFont = std::make_unique<TFontCache>(Font, pixelSize);
    return *FFont;
}

void TCanvas::FillRect(const TRect& r) {
    if (Brush.Style == bsClear)
        return;
    FillSolid(*FOwner, r.Left, r.Top, r.Right, r.Bottom, Brush.Color);
}

void TCanvas::FrameRect(const TRect& r) {
    if (Brush.Style == bsClear || r.Right <= r.Left || r.Bottom <= r.Top)
        return;
    const int64_t l = r.Left, t = r.Top, rr = r.Right, b = r.Bottom;
    FillSolid(*FOwner, l, t, rr, t + 1, Brush.Color);
    FillSolid(*FOwner, l, b - 1, rr, b, Brush.Color);
    FillSolid(*FOwner, l, t, l + 1, b, Brush.Color);
    FillSolid(*FOwner, rr - 1, t, rr, b, Brush.Color);
}

void TCanvas::Rectangle(const TRect& r) {
    int64_t l = std::min(r.Left, r.Right), rr = std::max(r.Left, r.Right);
    int64_t t = std::min(r.Top, r.Bottom), b = std::max(r.Top, r.Bottom);
    if (rr == l || b == t)
        return;
    if (Brush.Style != bsClear)
        FillSolid(*FOwner, l + 1, t + 1, rr - 1, b - 1, Brush.Color);
    // The outline runs through the outermost pixels of the rectangle; a wide pen is centred
    // on that line, its extra odd pixel going inwards.
    const int64_t w = std::max(1, Pen.Width);
    const int64_t out = (w - 1) / 2, in = w - 1 - out;
    const uint32_t c = Pen.Color;
    FillSolid(*FOwner, l - out, t - out, rr + out, t + in + 1, c);
    FillSolid(*FOwner, l - out, b - 1 - in, rr + out, b + out, c);
    FillSolid(*FOwner, l - out, t - out, l + in + 1, b + out, c);
    FillSolid(*FOwner, rr - 1 - in, t - out, rr + out, b + out, c);
}

void TCanvas::Ellipse(const TRect& r) {
    int32_t l = std::min(r.Left, r.Right), rr = std::max(r.Left, r.Right);
    int32_t t = std::min(r.Top, r.Bottom), b = std::max(r.Top, r.Bottom);
    if (rr == l || b == t || FOwner->Empty())
        return;
    TPainterView view(*FOwner);
    view.Painter.setPen(MakePen(Pen));
    if (Brush.Style == bsClear)
        view.Painter.setBrush(Qt::NoBrush);
    else
        view.Painter.setBrush(ToQColor(Brush.Color));
    // An aliased Qt outline covers width + 1 pixels; one less keeps it off the right and
    // bottom edges.
    view.Painter.drawEllipse(QRect(l, t, int64_t(rr) - l - 1, int64_t(b) - t - 1));
}

void TCanvas::MoveTo(int32_t x, int32_t y) {
    PenPos = Point(x, y);
}

void TCanvas::LineTo(int32_t x, int32_t y) {
    const TPoint from = PenPos;
    PenPos = Point(x, y);
    if (from == PenPos || FOwner->Empty())
        return;
    TBitmap& bmp = *FOwner;
    const bool thin = Pen.Width <= 1;
    // Qt draws both end points of a thin line (and with a flat cap leaves out whichever end it
    // happens to rasterise last), so the end pixel is saved and put back.
    const bool endInside = x >= 0 && y >= 0 && x < bmp.Width() && y < bmp.Height();
    uint8_t saved[3] = {};
    uint8_t* end = endInside ? bmp.ScanLine(y) + size_t(x) * 3 : nullptr;
    if (thin && end)
        std::memcpy(saved, end, 3);
    {
        TPainterView view(bmp);
        view.Painter.setPen(MakePen(Pen));
        view.Painter.drawLine(QPoint(from.X, from.Y), QPoint(x, y));
    }
    if (thin && end)
        std::memcpy(end, saved, 3);
}

void TCanvas::TextOut(int32_t x, int32_t y, const std::string& text) {
    const TFontCache& font = CurrentFont();
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const int64_t width = font.Metrics.horizontalAdvance(s);
    if (Brush.Style != bsClear)
        FillSolid(*FOwner, x, y, x + width, int64_t(y) + font.Metrics.height(), Brush.Color);
    // Glyphs may overhang their cell a little (italics, accents), so a cell is only known to
    // miss the bitmap when it lies a whole line height away from it.
    const int64_t h = font.Metrics.height();
    const TBitmap& bmp = *FOwner;
    const bool visible = !bmp.Empty() && !s.isEmpty() && x - h < bmp.Width() && x + width + h > 0 &&
                         y - h < bmp.Height() && y + 2 * h > 0;
    if (visible)
        DrawGlyphs(*FOwner, font.Font, font.Metrics, font.Scratch, s, width, x,
                   int64_t(y) + font.Metrics.ascent(), Font.Color);
    PenPos = Point(static_cast<int32_t>(std::clamp<int64_t>(x + width, INT32_MIN, INT32_MAX)), y);
}

int32_t TCanvas::TextWidth(const std::string& text) const {
    return CurrentFont().Metrics.horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

int32_t TCanvas::TextHeight(const std::string&) const {
    return CurrentFont().Metrics.height();
}

void TCanvas::Draw(int32_t x, int32_t y, const TBitmap& src) {
    CopyBitmapRect(*FOwner, TRect64(x, y, int64_t(x) + src.Width(), int64_t(y) + src.Height()), src,
                   TRect64(0, 0, src.Width(), src.Height()));
}

void TCanvas::StretchDraw(const TRect& dest, const TBitmap& src) {
    CopyBitmapRect(*FOwner, dest, src, TRect64(0, 0, src.Width(), src.Height()));
}

void TCanvas::CopyRect(const TRect& dest, const TCanvas& src, const TRect& srcRect) {
    CopyBitmapRect(*FOwner, dest, *src.FOwner, srcRect);
}

void TCanvas::CopyRect(const TRect& dest, const TBitmap& src, const TRect& srcRect) {
    CopyBitmapRect(*FOwner, dest, src, srcRect);
}

uint32_t TCanvas::GetPixel(int32_t x, int32_t y) const {
    const TBitmap& bmp = *FOwner;
    if (x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height())
        return clInvalidPixel;
    const uint8_t* p = bmp.ScanLine(y) + size_t(x) * 3;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

void TCanvas::SetPixel(int32_t x, int32_t y, uint32_t color) {
    TBitmap& bmp = *FOwner;
    if (x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height())
        return;
    PutBGR(bmp.ScanLine(y) + size_t(x) * 3, color);
}

// ---- TBitmap ------------------------------------------------------------------------------------

TBitmap::TBitmap() : FCanvas(*this) {}

TBitmap::TBitmap(int32_t width, int32_t height) : FCanvas(*this) {
    SetSize(width, height);
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : FWidth(other.FWidth), FHeight(other.FHeight), FRowBytes(other.FRowBytes),
      FBits((other.FOwed ? other.PayOwed() : void(), std::move(other.FBits))),
      FPlanes(std::move(other.FPlanes)), FHeld(std::exchange(other.FHeld, false)),
      FRowsMade(other.FRowsMade), FCanvas(*this) {
    FCanvas.TakeState(other.FCanvas);
    other.FWidth = other.FHeight = other.FRowBytes = 0;
    other.FBits.clear();
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this == &other)
        return *this;
    if (other.FOwed)
        other.PayOwed();
    FOwed = nullptr;
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FRowBytes = other.FRowBytes;
    FBits = std::move(other.FBits);
    FPlanes = std::move(other.FPlanes);
    FHeld = std::exchange(other.FHeld, false);
    FRowsMade = other.FRowsMade;
    FCanvas.TakeState(other.FCanvas);
    other.FWidth = other.FHeight = other.FRowBytes = 0;
    other.FBits.clear();
    return *this;
}

TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width == FWidth && height == FHeight)
        return;
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid bitmap size");
    Settle();
    // ((width * 24 + 31) div 32) * 4: 24-bit pixels, rows padded to whole 32-bit words.
    const int32_t rowBytes =
        width == 0 ? 0
                   : CheckedMul<int32_t>(CheckedAdd<int32_t>(CheckedMul(width, 24), 31) / 32, 4);
    const size_t total = CheckedCast<size_t>(CheckedMul<int64_t>(rowBytes, height));
    // Room behind the last row: the image scaler's vector code may write up to a few dozen bytes
    // past the end of a row, which must land in memory of ours.
    constexpr size_t ScalerSlack = 128;
    std::vector<uint8_t> bits(total + ScalerSlack, 0);
    const int32_t keepRows = std::min(height, FHeight);
    const size_t keepBytes = size_t(std::min(width, FWidth)) * 3;
    for (int32_t y = 0; y < keepRows && keepBytes > 0; ++y)
        std::memcpy(bits.data() + size_t(y) * rowBytes, FBits.data() + size_t(y) * FRowBytes,
                    keepBytes);
    FBits.swap(bits);
    FHeld = false;
    FWidth = width;
    FHeight = height;
    FRowBytes = rowBytes;
    if (Empty())
        FBits.clear();
}

void TBitmap::ThrowScanLine(int32_t y) const {
    throw EListError("Scan line index out of range", y, FHeight);
}

void TBitmap::SettleNow() const {
    if (FOwed)
        PayOwed();
    if (FHeld && !FRowsMade) {
        // The rows were not read while the planes were the pixels; making them now changes
        // nothing a reader can see.
        auto& bits = const_cast<std::vector<uint8_t>&>(FBits);
        if (!FPlanes->ToRows(bits.data(), FRowBytes))
            std::fill(bits.begin(), bits.end(), uint8_t(0));
        FRowsMade = true;
    }
}

void TBitmap::PayOwed() const {
    const TBitmap* src = FOwed;
    FOwed = nullptr;
    if (src->FOwed)
        src->PayOwed();
    // The pixels read as src's all along; making the copy changes nothing a reader can see. src
    // itself is only read: an encoder may be reading its planes.
    if (src->FHeld) {
        OwnPlanes().Assign(*src->FPlanes);
        FHeld = true;
        FRowsMade = false;
        return;
    }
    FHeld = false;
    auto& bits = const_cast<std::vector<uint8_t>&>(FBits);
    std::copy(src->FBits.begin(), src->FBits.end(), bits.begin());
}

bool TBitmap::TakePixelsOf(TBitmap& other) {
    if (&other == this)
        return true;
    if (other.FWidth != FWidth || other.FHeight != FHeight)
        return false;
    if (other.FOwed)
        other.PayOwed();
    FOwed = nullptr;
    FBits.swap(other.FBits);
    FPlanes.swap(other.FPlanes);
    FHeld = std::exchange(other.FHeld, false);
    FRowsMade = other.FRowsMade;
    return true;
}

bool TBitmap::OweCopyOf(const TBitmap& src) {
    if (&src == this)
        return true;
    if (src.FWidth != FWidth || src.FHeight != FHeight)
        return false;
    if (src.FOwed)
        src.PayOwed();
    FOwed = Empty() ? nullptr : &src;
    FHeld = false;
    return true;
}

TYuvPicture& TBitmap::OwnPlanes() const {
    if (!FPlanes)
        FPlanes = std::make_unique<TYuvPicture>();
    return *FPlanes;
}

TYuvPicture& TBitmap::PlanesToFill() {
    OwnPlanes().SetSize(FWidth, FHeight);
    // Planes that are the pixels are being overwritten: their rows are made again when read.
    FRowsMade = false;
    return *FPlanes;
}

void TBitmap::HoldPlanes() {
    if (!FPlanes || Empty() || FPlanes->Width() != FWidth || FPlanes->Height() != FHeight)
        return;
    FOwed = nullptr;
    FHeld = true;
    FRowsMade = false;
}

const TYuvPicture* TBitmap::HeldPlanes() const {
    const TBitmap& b = FOwed ? *FOwed : *this;
    return b.FHeld ? b.FPlanes.get() : nullptr;
}

void TBitmap::Assign(const TBitmap& src) {
    if (this == &src)
        return;
    src.Settle();
    FOwed = nullptr;
    FHeld = false;
    if (src.FWidth != FWidth || src.FHeight != FHeight) {
        // Resizing would first copy the old pixels, which are about to be overwritten.
        FBits.assign(src.FBits.size(), 0);
        FWidth = src.FWidth;
        FHeight = src.FHeight;
        FRowBytes = src.FRowBytes;
    }
    std::copy(src.FBits.begin(), src.FBits.end(), FBits.begin());
}
