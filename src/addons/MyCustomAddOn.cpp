#include "MyCustomAddOn.h"

#include "MyTimeData.h"
#include "MyValueStream.h"

namespace {

constexpr uint32_t clPathLine = 0x0000FF;    // red
constexpr uint32_t clPathPoint = 0xFFFFFF;   // white
constexpr uint32_t clPathCurrent = 0xFFFF00; // aqua

// The 7 x 7 box drawn around a key point.
TRect PointBox(const TPoint& p) {
    return Rect(p.X - 3, p.Y - 3, p.X + 4, p.Y + 4);
}

TPoint CurvePixel(const TDataPoint& point, int32_t w, int32_t h) {
    Extended x, y;
    point.GetPosition(x, y);
    return Point(w / 2 + Round(w * x), h / 2 + Round(h * y));
}

} // namespace

TCustomAddOn::TCustomAddOn(TAddOnBridge& bridge)
    : Bridge(&bridge), RegisterTimeEffect(bridge.RegisterTimeEffect),
      GetNodeInfo(bridge.GetNodeInfo) {}

TBitmap* TCustomAddOn::GetWorkBitmap() const {
    if (AddOnPreview.Active && AddOnPreview.Picture)
        return AddOnPreview.Picture;
    return &Bridge->WorkBitmap;
}

void TCustomAddOn::ToFramePoint(const TNodeInfo& info, TPoint& p) const {
    p = Point(info.X, info.Y);
    if (!Bitmap)
        return;
    p.X += Bitmap->Width() / 2;
    p.Y += Bitmap->Height() / 2;
}

void TCustomAddOn::DrawMotionPath() {
    if (!GetNodeInfo || !Bitmap)
        return;
    TNodeInfo info;
    if (!GetNodeInfo(info) || !info.IsEdited)
        return;
    if (Bridge->NoPath || !info.Curves)
        return;
    TTimeData* curve = info.Curves->FindByKind(ckPosition);
    if (!curve || curve->GetCount() == 0)
        return;

    const int32_t w = Bitmap->Width();
    const int32_t h = Bitmap->Height();
    TCanvas& c = Bitmap->Canvas();
    const int n = curve->GetCount();

    c.Pen.Color = clPathLine;
    const TPoint first = CurvePixel(*curve->GetPoint(0), w, h);
    c.MoveTo(first.X, first.Y);
    for (int i = 1; i < n; ++i) {
        const TPoint p = CurvePixel(*curve->GetPoint(i), w, h);
        c.LineTo(p.X, p.Y);
    }
    c.Brush.Color = clPathPoint;
    for (int i = 0; i < n; ++i)
        c.FillRect(PointBox(CurvePixel(*curve->GetPoint(i), w, h)));
    // The point at the current time, between or on the keys.
    const TRect current = PointBox(CurvePixel(curve->CurrentPoint, w, h));
    c.Brush.Color = clPathCurrent;
    c.FillRect(current);
    c.Brush.Color = clPathLine;
    c.FrameRect(current);
    for (int i = 0; i < n; ++i)
        c.FrameRect(PointBox(CurvePixel(*curve->GetPoint(i), w, h)));
}

bool TCustomFilter::Run(int32_t frame, int32_t frame2) {
    const bool result = Apply(frame, frame2);
    DrawMotionPath();
    return result;
}

// The parameter text of picture and movie overlays is a file name: bytes, kept exactly.
static bool ParamsNameAFile(uint8_t kind) {
    return kind == ekPicture || kind == ekMovie;
}

void TCustomOverlay::WriteData(TValueWriter& writer) const {
    if (ParamsNameAFile(ExternalKind))
        writer.WriteFileName(Params);
    else
        writer.WriteString(Params);
    writer.WriteString(ID);
}

void TCustomOverlay::ReadData(TValueReader& reader) {
    SetParams(ParamsNameAFile(ExternalKind) ? reader.ReadFileName() : reader.ReadString());
    ID = reader.ReadString();
}

void TCustomOverlay::CallBeforeDraw() {
    if (Bridge->BeforeDraw)
        Bridge->BeforeDraw(GetWorkBitmap(), Time);
}

bool TCustomOverlay::Run(int32_t frame, int32_t sourceFrame, Extended time, Extended fps) {
    Time = time;
    CallBeforeDraw();
    const bool result = DoOverlay(frame, sourceFrame, time, fps);
    DrawMotionPath();
    return result;
}

void FillBitmap(TBitmap& bitmap, uint32_t color) {
    TCanvas& c = bitmap.Canvas();
    const TBrush kept = c.Brush;
    c.Brush.Color = color;
    c.Brush.Style = bsSolid;
    c.FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()));
    c.Brush = kept;
}
