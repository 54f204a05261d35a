// 24-bit bitmaps and the canvas that draws on them: the frame buffers that renders, effects and
// writers share. Pixels are B, G, R bytes, rows top-down, each row padded to 4 bytes. Fills,
// copies and stretches are our own pixel code; text, lines and ellipses are drawn by Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    bool operator==(const TPoint&) const = default;
};

inline TPoint Point(int32_t x, int32_t y) {
    return TPoint{x, y};
}

// A rectangle whose right and bottom edges lie outside it: (0, 0, 2, 2) holds four pixels.
struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return TRect{left, top, right, bottom};
}

// Pixel formats a bitmap header can describe. A TBitmap itself is always pf24bit.
enum TPixelFormat {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};

enum TBrushStyle { bsSolid, bsClear };

// Colours throughout are 0x00BBGGRR; the top byte is ignored when drawing.
struct TPen {
    uint32_t Color = 0x000000;
    int32_t Width = 1; // 0 draws as 1
};

struct TBrush {
    uint32_t Color = 0xFFFFFF;
    TBrushStyle Style = bsSolid;
};

using TFontStyles = uint8_t;

struct TFont {
    // Style bits; the same values as the font styles stored in project files.
    static constexpr TFontStyles fsBold = 1;
    static constexpr TFontStyles fsItalic = 2;
    static constexpr TFontStyles fsUnderline = 4;
    static constexpr TFontStyles fsStrikeOut = 8;

    std::string Name = "Arial";
    int32_t Size = 8; // points at 96 dpi
    TFontStyles Style = 0;
    uint32_t Color = 0x000000;
    bool operator==(const TFont&) const = default;
};

class TBitmap;
class TYuvPicture;

// Nearest-neighbour source index of destination index i when n source pixels are spread over
// m destination pixels: the source pixel under the destination pixel's centre. With n == m it
// is i itself, so plain copies and stretches follow one rule. Every stretch of ours uses it, so
// a picture comes out the same whichever path draws it.
inline int64_t StretchSourceIndex(int64_t i, int64_t n, int64_t m) {
    return ((2 * i + 1) * n) / (2 * m);
}

// What GetPixel answers for a point outside the bitmap.
constexpr uint32_t clInvalidPixel = 0xFFFFFFFF;

// Drawing state and operations of one bitmap. Rectangles exclude their right and bottom edges,
// lines leave out their end pixel, and everything is clipped to the bitmap.
class TCanvas {
public:
    TPen Pen;
    TBrush Brush;
    TFont Font;
    TPoint PenPos;

    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    ~TCanvas();

    TBitmap& Bitmap() const { return *FOwner; }

    // Fills r with the brush (nothing with bsClear).
    void FillRect(const TRect& r);
    // One-pixel border just inside r in the brush colour (nothing with bsClear).
    void FrameRect(const TRect& r);
    // Pen outline along the inside of r, brush fill within it.
    void Rectangle(const TRect& r);
    void Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
        Rectangle(Rect(x1, y1, x2, y2));
    }
    // Ellipse inscribed in r: pen outline, brush fill.
    void Ellipse(const TRect& r);
    void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) { Ellipse(Rect(x1, y1, x2, y2)); }
    void MoveTo(int32_t x, int32_t y);
    // Line from the pen position to (x, y); the pen moves to (x, y). A one-pixel pen leaves
    // out the end pixel, so a polyline draws each joint once; wider pens have round ends.
    void LineTo(int32_t x, int32_t y);

    // Text needs a QGuiApplication (for its fonts); everything else works without one.
    // Writes UTF-8 text with its cell's top-left corner at (x, y), on the brush colour unless
    // the brush is bsClear; the pen moves to the end of the text.
    void TextOut(int32_t x, int32_t y, const std::string& text);
    int32_t TextWidth(const std::string& text) const;
    // Cell height of the current font (ascent + descent), whatever the text.
    int32_t TextHeight(const std::string& text) const;

    // Copies the whole of src with its top-left corner at (x, y).
    void Draw(int32_t x, int32_t y, const TBitmap& src);
    // Scales the whole of src into dest, nearest neighbour.
    void StretchDraw(const TRect& dest, const TBitmap& src);
    // Copies srcRect of the source into dest, scaling nearest neighbour when the sizes differ.
    // Destination pixels whose source pixel lies outside the source bitmap stay as they are.
    void CopyRect(const TRect& dest, const TCanvas& src, const TRect& srcRect);
    void CopyRect(const TRect& dest, const TBitmap& src, const TRect& srcRect);

    uint32_t GetPixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, uint32_t color);

private:
    friend class TBitmap;
    struct TFontCache;

    explicit TCanvas(TBitmap& owner);
    void TakeState(TCanvas& other);
    const TFontCache& CurrentFont() const;

    TBitmap* FOwner;
    mutable std::unique_ptr<TFontCache> FFont;
};

// A 24-bit bitmap that owns its pixels and its canvas. Move-only: a frame is copied only on
// purpose, through Assign. A moved-from bitmap is empty.
class TBitmap {
public:
    TBitmap();
    TBitmap(int32_t width, int32_t height);
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap();

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }
    // Bytes of one row, padded to a multiple of 4.
    int32_t RowBytes() const { return FRowBytes; }
    TPixelFormat GetPixelFormat() const { return pf24bit; }

    // Resizes, keeping the pixels of the area both sizes share; new pixels are black. The same
    // size again changes nothing. A negative size raises EInvalidGraphic.
    void SetSize(int32_t width, int32_t height);

    // First byte of row y (0 = top); EListError outside 0..Height-1.
    uint8_t* ScanLine(int32_t y) {
        Touch(y);
        FHeld = false;
        return FBits.data() + size_t(y) * size_t(FRowBytes);
    }
    const uint8_t* ScanLine(int32_t y) const {
        Touch(y);
        return FBits.data() + size_t(y) * size_t(FRowBytes);
    }

    // All rows, RowBytes() apart; null when the bitmap is empty.
    uint8_t* Bits() {
        Settle();
        FHeld = false;
        return FBits.empty() ? nullptr : FBits.data();
    }
    const uint8_t* Bits() const {
        Settle();
        return FBits.empty() ? nullptr : FBits.data();
    }

    // Takes the size and pixels of src; the canvas state stays.
    void Assign(const TBitmap& src);

    // Moving whole frames between bitmaps of the same size without copying them, for pipelines
    // that hand a frame from one stage to the next.
    //
    // Takes other's pixels; other is left with this bitmap's former buffer, whose content is
    // unspecified (the caller overwrites it). A copy this bitmap owed is dropped; one other owed
    // is made first. False, and nothing changes, when the sizes differ.
    bool TakePixelsOf(TBitmap& other);
    // From now on the pixels read as a copy of src's (same size). The copy is made when they are
    // first touched (ScanLine, Bits, Assign, SetSize, a move, Settle), or never when TakePixelsOf
    // replaces them first; until then src must keep its pixels and stay alive. False, and
    // nothing changes, when the sizes differ.
    bool OweCopyOf(const TBitmap& src);
    // Makes an owed copy, and the rows of planes held, now.
    void Settle() const {
        if (FOwed || (FHeld && !FRowsMade))
            SettleNow();
    }

    // A frame decoded from a JPEG picture and coded to JPEG again, with nothing drawn over it
    // between, can keep the decoder's Y, Cb, Cr planes: the encoder takes them instead of rows.
    // A writer may leave planes only in a bitmap that allows it (one an encoder that takes them
    // reads). The planes move with the pixels (TakePixelsOf, a move, an owed copy) and stay the
    // pixels until they are written: a read makes their rows as well, a write (the non-const
    // ScanLine and Bits, Assign, a new size) drops them. So whether a frame reaches the encoder
    // as planes depends on what was drawn, never on who looked at it.
    void AllowPlanes(bool allow) { FPlanesAllowed = allow; }
    bool PlanesAllowed() const { return FPlanesAllowed; }
    // For a writer that replaces every pixel: planes of this bitmap's size to fill; HoldPlanes
    // then makes them the pixels (and drops a copy owed). A writer that fails between leaves
    // the pixels partly written, as a failed write to rows would.
    TYuvPicture& PlanesToFill();
    void HoldPlanes();
    // The planes the pixels are (or those of the bitmap a copy is owed of); null when the pixels
    // are rows only. Reading them changes nothing, so a worker may code them while another
    // thread reads this bitmap or makes a copy owed of it.
    const TYuvPicture* HeldPlanes() const;

    TCanvas& Canvas() { return FCanvas; }
    const TCanvas& Canvas() const { return FCanvas; }

private:
    void Touch(int32_t y) const {
        if (y < 0 || y >= FHeight)
            ThrowScanLine(y);
        Settle();
    }
    [[noreturn]] void ThrowScanLine(int32_t y) const;
    void SettleNow() const;
    // Makes the owed copy: planes when the source holds planes, else rows.
    void PayOwed() const;
    // The planes kept for reuse, made the first time they are wanted.
    TYuvPicture& OwnPlanes() const;

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FRowBytes = 0;
    std::vector<uint8_t> FBits;
    // The bitmap whose pixels these are owed a copy of; null when they are the bitmap's own.
    mutable const TBitmap* FOwed = nullptr;
    // Planes kept for reuse; whether they are the pixels now (never together with FOwed), and
    // whether the rows hold them too.
    mutable std::unique_ptr<TYuvPicture> FPlanes;
    mutable bool FHeld = false;
    mutable bool FRowsMade = false;
    bool FPlanesAllowed = false;
    TCanvas FCanvas;
};
