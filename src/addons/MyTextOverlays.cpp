#include "MyTextOverlays.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "MyCommonParams.h"
#include "MyTimeData.h"

namespace {

int32_t ToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

} // namespace

TSimpleTextOverlay::TSimpleTextOverlay(TAddOnBridge& bridge) : TCustomOverlay(bridge) {
    ExternalKind = ekText;
    Collapse();
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckText, "");
        RegisterTimeEffect(ckSizing, "Variable font size");
        RegisterTimeEffect(ckFont, "");
        RegisterTimeEffect(ckPosition, "");
    }
}

void TSimpleTextOverlay::Collapse() {
    Rendered.reset();
    TextImage.SetSize(1, 1);
    std::memset(TextImage.ScanLine(0), 0, 3);
    TextOrigin = TPoint{};
    TextBlock = TRect{};
}

void TSimpleTextOverlay::ReadData(TValueReader& reader) {
    TCustomOverlay::ReadData(reader);
    RenderText(nullptr, nullptr, 1.0L);
}

void TSimpleTextOverlay::RenderText(const std::vector<std::string>* lines, const TFontInfo* font,
                                    Extended scale, const TPoint& centre, int32_t frameW,
                                    int32_t frameH) {
    if (!lines || !font || Extended(font->Size) * scale <= 1.0L) {
        Collapse();
        return;
    }
    TCanvas& canvas = TextImage.Canvas();
    canvas.Font.Name = font->Name;
    canvas.Font.Size = Round(std::min(Extended(font->Size) * scale, Extended(MaxTextFontSize)));
    canvas.Font.Style = font->Style;
    canvas.Font.Color = font->Color;
    // A title that stays as it was over a run of frames is laid out and drawn once.
    if (Rendered && Rendered->Lines == *lines && Rendered->Font == canvas.Font &&
        Rendered->Centre == centre && Rendered->FrameW == frameW && Rendered->FrameH == frameH)
        return;
    Rendered.reset();

    FLines.resize(lines->size());
    int64_t width = 0;
    for (size_t i = 0; i < lines->size(); ++i) {
        FLines[i] = CutShortString((*lines)[i]);
        width = std::max<int64_t>(width, canvas.TextWidth(FLines[i]));
    }
    const int64_t lineHeight = std::max(canvas.TextHeight("M^j"), 1);
    const int64_t height = std::max<int64_t>(static_cast<int64_t>(FLines.size()) * lineHeight, 1);
    width = std::max<int64_t>(width, 1);

    // The block is centred on the position; the image covers only what the frame shows of it.
    const int64_t left = centre.X - width / 2, top = centre.Y - height / 2;
    TextBlock = Rect(ToInt32(left), ToInt32(top), ToInt32(left + width), ToInt32(top + height));
    const int64_t l = std::max<int64_t>(left, 0), r = std::min<int64_t>(left + width, frameW);
    const int64_t t = std::max<int64_t>(top, 0), b = std::min<int64_t>(top + height, frameH);
    if (r <= l || b <= t) {
        const TRect block = TextBlock;
        Collapse();
        TextBlock = block;
        return;
    }
    TextImage.SetSize(static_cast<int32_t>(r - l), static_cast<int32_t>(b - t));
    FillBitmap(TextImage, 0);
    TextOrigin = Point(static_cast<int32_t>(l), static_cast<int32_t>(t));

    // Lines in order, each on a black cell that covers what the line above hung into it; one
    // line either side of the visible ones, for glyphs reaching past their cells.
    canvas.Brush.Color = 0;
    canvas.Brush.Style = bsSolid;
    const int64_t last = static_cast<int64_t>(FLines.size()) - 1;
    const int64_t first = std::max<int64_t>((t - top) / lineHeight - 1, 0);
    const int64_t end = std::min<int64_t>((b - 1 - top) / lineHeight + 1, last);
    for (int64_t i = first; i <= end; ++i)
        canvas.TextOut(static_cast<int32_t>(left - l),
                       static_cast<int32_t>(top + i * lineHeight - t), FLines[i]);
    Rendered = TRendered{*lines, canvas.Font, centre, frameW, frameH};
}

bool TSimpleTextOverlay::PrepareText() {
    if (!Bitmap || !GetNodeInfo)
        return false;
    TNodeInfo info;
    if (!GetNodeInfo(info))
        return false;
    TPoint centre;
    ToFramePoint(info, centre);
    RenderText(info.Lines, info.Font, std::clamp(info.Sizing, -1.0L, 1.0L) + 1.0L, centre,
               Bitmap->Width(), Bitmap->Height());
    return true;
}

bool TSimpleTextOverlay::DoOverlay(int32_t frame, int32_t, Extended, Extended) {
    if (!PrepareText())
        return false;
    return DrawText(frame);
}

bool TSimpleTextOverlay::DrawText(int32_t) {
    TNodeInfo info;
    if (!Bitmap || !GetNodeInfo || !GetNodeInfo(info))
        return false;
    DrawImage(10000);
    return true;
}

void TSimpleTextOverlay::DrawImage(int32_t weight) {
    if (weight <= 0)
        return;
    const int64_t w = Bitmap->Width(), h = Bitmap->Height();
    const int64_t iw = TextImage.Width(), ih = TextImage.Height();
    // The image's columns and rows that fall on the frame.
    const int64_t x0 = std::max<int64_t>(0, -int64_t(TextOrigin.X));
    const int64_t x1 = std::min<int64_t>(iw, w - TextOrigin.X);
    const int64_t y0 = std::max<int64_t>(0, -int64_t(TextOrigin.Y));
    const int64_t y1 = std::min<int64_t>(ih, h - TextOrigin.Y);
    if (x1 <= x0)
        return;
    const int32_t keep = 10000 - std::min(weight, 10000);
    for (int64_t y = y0; y < y1; ++y) {
        const uint8_t* s = TextImage.ScanLine(int32_t(y)) + x0 * 3;
        uint8_t* d = Bitmap->ScanLine(int32_t(TextOrigin.Y + y)) + (TextOrigin.X + x0) * 3;
        for (int64_t x = x0; x < x1; ++x, s += 3, d += 3) {
            if ((s[0] | s[1] | s[2]) == 0)
                continue;
            if (keep == 0) {
                std::memcpy(d, s, 3);
            } else {
                for (int k = 0; k < 3; ++k)
                    d[k] = static_cast<uint8_t>((s[k] * weight + d[k] * keep) / 10000);
            }
        }
    }
}

TOpaqueSimpleTextOverlay::TOpaqueSimpleTextOverlay(TAddOnBridge& bridge)
    : TSimpleTextOverlay(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Opacity level");
}

bool TOpaqueSimpleTextOverlay::DrawText(int32_t) {
    TNodeInfo info;
    if (!Bitmap || !GetNodeInfo || !GetNodeInfo(info))
        return false;
    const Extended level = std::clamp(info.Level, -1.0L, 1.0L);
    DrawImage(Round((level + 1.0L) / 2.0L * 10000.0L));
    return true;
}
