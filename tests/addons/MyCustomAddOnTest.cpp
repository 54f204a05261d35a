// Add-on base classes: instance identifiers, callbacks taken from the bridge, the Run wrappers,
// frame coordinates, the overlay record, the preview picture standing in for the work bitmap and
// for a movie, and the motion path pixels.
#include <gtest/gtest.h>

#include "AddOnRig.h"
#include "MyCustExtern.h"
#include "MyCustomAddOn.h"
#include "MyFilters.h"
#include "MyLocalMovieInterface.h"
#include "MyTimeData.h"
#include "MyValueStream.h"
#include "TestData.h"

using namespace addonrig;

namespace {

class SpyFilter : public TCustomFilter {
public:
    SpyFilter(TAddOnBridge& b, std::string& log) : TCustomFilter(b), Log(log) {}
    bool Apply(int32_t f, int32_t f2) override {
        Log += "Apply " + std::to_string(f) + " " + std::to_string(f2) + ";";
        FillBitmap(*Bitmap, 0x00FF00);
        return false;
    }
    std::string& Log;
};

class SpyOverlay : public TCustomOverlay {
public:
    SpyOverlay(TAddOnBridge& b, std::string& log) : TCustomOverlay(b), Log(log) {}
    bool DoOverlay(int32_t f, int32_t sf, Extended time, Extended fps) override {
        Log += "DoOverlay " + std::to_string(f) + " " + std::to_string(sf) + " " +
               std::to_string(double(time)) + " " + std::to_string(double(fps)) + ";";
        return false;
    }
    void SetParams(const std::string& text) override {
        Log += "SetParams " + std::to_string(text.size()) + ";";
        TCustomOverlay::SetParams(text);
    }
    std::string& Log;
};

// A node stand-in: a curve set with a position curve and a snapshot callback.
struct PathRig {
    TTimeDataSet Set;
    TTimeData* Curve;
    TAddOnBridge Bridge;
    bool Edited = true;
    TBitmap Frame{64, 48};

    PathRig() {
        Curve = Set.AddFromTemplate({"{pos}", "On-screen positioning", vmPosition, ckPosition, 1});
        Curve->SetEnabled(true);
        Curve->GetPoint(0)->SetPosition(-0.25L, 0); // (16, 24)
        Bridge.GetNodeInfo = [this](TNodeInfo& info) {
            info = TNodeInfo{.IsEdited = Edited, .Curves = &Set};
            return true;
        };
    }
    void Draw() {
        std::string log;
        SpyFilter f(Bridge, log);
        f.Bitmap = &Frame;
        f.DrawMotionPath();
    }
};

} // namespace

TEST(CustExtern, OwnGuidAndRecordOfOneString) {
    TCustomExtern a, b;
    EXPECT_EQ(a.ID.size(), 38u);
    EXPECT_NE(a.ID, b.ID);
    a.ID = "{ABC}";
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    a.WriteData(w);
    EXPECT_EQ(bytes, HexBytes("0605 7b4142437d"));
    TValueReader r(bytes.data(), bytes.size());
    b.ReadData(r);
    EXPECT_EQ(b.ID, "{ABC}");
    EXPECT_TRUE(r.AtEnd());
}

TEST(CustomAddOn, CallbacksAreCopiedOnceAtCreation) {
    Rig rig;
    TBrightnessFilter f(rig.Bridge);
    EXPECT_EQ(rig.Registered, (std::vector<std::pair<int, std::string>>{{ckLevel, "Level"}}));
    // A callback bound after creation does not reach the add-on; the identifier is read live.
    rig.Bridge.GetNodeInfo = [](TNodeInfo& info) { return (info.X = 99); };
    TNodeInfo info;
    f.GetNodeInfo(info);
    EXPECT_EQ(info.X, 0);
    rig.Bridge.ID = "{X}";
    EXPECT_EQ(f.GetAddOnID(), "{X}");
}

TEST(CustomAddOn, SizeAndFramePointFollowTheBitmap) {
    // Without a bitmap the point is the position itself; with one it is measured from its centre,
    // rounded down on odd sizes. Each row: bitmap, position, point, size.
    TAddOnBridge bridge;
    TCustomFilter f(bridge);
    TBitmap even(320, 240), odd(321, 241);
    const TNodeInfo at{.X = -5, .Y = 7};
    const std::tuple<TBitmap*, TNodeInfo, TPoint, TPoint> rows[] = {
        {nullptr, at, Point(-5, 7), Point(0, 0)},
        {&even, {}, Point(160, 120), Point(320, 240)},
        {&even, at, Point(155, 127), Point(320, 240)},
        {&odd, {}, Point(160, 120), Point(321, 241)},
        {&odd, at, Point(155, 127), Point(321, 241)}};
    for (const auto& [bitmap, info, want, size] : rows) {
        f.Bitmap = bitmap;
        TPoint p;
        f.ToFramePoint(info, p);
        EXPECT_EQ(p, want) << size.X;
        EXPECT_EQ(Point(f.GetWidth(), f.GetHeight()), size);
    }
}

TEST(AddOnPreview, PictureStandsInForWorkBitmapAndMovieAndIsNeverDrawnInto) {
    TBitmap picture(2, 1);
    picture.ScanLine(0)[0] = 11;
    picture.ScanLine(0)[3] = 22;
    const TBitmap kept = Copy(picture);
    AddOnPreview.Picture = &picture;
    AddOnPreview.Width = 320;
    AddOnPreview.Height = 240;
    TAddOnBridge bridge;
    TCustomOverlay o(bridge);
    TLocalMovieInterface m(nullptr);
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    // The scope ends on every way out, here an exception.
    try {
        TAddOnPreviewScope scope;
        EXPECT_EQ(o.GetWorkBitmap(), &picture);
        EXPECT_TRUE(m.IsOpen());
        EXPECT_EQ(std::pair(m.GetWidth(), m.GetHeight()), std::pair(320, 240));
        TBitmap b(4, 2);
        EXPECT_TRUE(m.GetFrameAt(b, 123, 25));
        ExpectPixels(b, "1,1=11,0,0 2,0=22,0,0");
        // Filters that need a picture of their own must not take the shared one.
        const TBitmap in = Noise(40, 30, 8);
        Filtered<TColorFilter>(in, {.Color = 0x00FF00});
        Filtered<TPolyFilter>(in, 0.3L);
        Filtered<TZoomFilter>(in, -0.3L);
        Filtered<TZoomFilter>(in, 0.7L);
        throw Exception("leaving");
    } catch (const Exception&) {
    }
    EXPECT_FALSE(AddOnPreview.Active);
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(m.GetWidth(), 0);
    EXPECT_TRUE(Same(picture, kept));
    AddOnPreview = TAddOnPreviewContext{};
}

TEST(CustomAddOn, RunAppliesThenDrawsThePath) {
    // The filter's result is passed on; the path lies over what the filter drew.
    PathRig rig;
    std::string log;
    SpyFilter f(rig.Bridge, log);
    f.Bitmap = &rig.Frame;
    EXPECT_FALSE(f.Run(4, 5));
    EXPECT_EQ(log, "Apply 4 5;");
    ExpectPixels(rig.Frame, "0,0=0,255,0 13,24=0,0,255");
    // An overlay without BeforeDraw just draws; with it, it is called on the work bitmap first.
    log.clear();
    TAddOnBridge bridge;
    SpyOverlay o(bridge, log);
    TBitmap frame(4, 4);
    o.Bitmap = &frame;
    EXPECT_FALSE(o.Run(1, 2, 0.5L, 25));
    bridge.BeforeDraw = [&](TBitmap* b, Extended t) {
        log += std::string("BeforeDraw ") + (b == &bridge.WorkBitmap ? "work " : "? ") +
               std::to_string(double(t)) + ";";
    };
    EXPECT_FALSE(o.Run(3, 4, 1.25L, 10));
    EXPECT_EQ(o.Time, 1.25L);
    EXPECT_EQ(log, "DoOverlay 1 2 0.500000 25.000000;BeforeDraw work 1.250000;"
                   "DoOverlay 3 4 1.250000 10.000000;");
}

TEST(CustomAddOn, OverlayRecordKeepsLongFileNames) {
    std::string log;
    TAddOnBridge bridge;
    SpyOverlay a(bridge, log), b(bridge, log);
    a.Params = "p.bmp";
    a.ID = "{I}";
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    a.WriteData(w);
    EXPECT_EQ(bytes, HexBytes("0605 702e626d70 0603 7b497d"));
    a.Params = "/media/" + std::string(300, 'x') + ".bmp";
    bytes.clear();
    a.WriteData(w);
    TValueReader r(bytes.data(), bytes.size());
    b.ReadData(r);
    EXPECT_EQ(b.Params, a.Params);
    EXPECT_EQ(b.ID, "{I}");
    EXPECT_EQ(log, "SetParams 311;");
    EXPECT_TRUE(r.AtEnd());
}

TEST(MotionPath, LineBoxesAndCurrentPoint) {
    // From (16, 24) to (48, 24), half way at (32, 24): the red line; white key boxes framed in
    // red; the aqua current point framed in red.
    PathRig rig;
    rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0);
    rig.Curve->UpdateCurrentPoint(1.0L);
    rig.Draw();
    ExpectPixels(rig.Frame, "24,24=0,0,255 40,24=0,0,255 13,24=0,0,255 19,27=0,0,255 "
                            "51,24=0,0,255 29,24=0,0,255 32,27=0,0,255 16,24=255,255,255 "
                            "17,22=255,255,255 48,24=255,255,255 32,24=255,255,0 34,26=255,255,0 "
                            "40,25=0,0,0 12,24=0,0,0 16,28=0,0,0 52,24=0,0,0");
    // A single key has no line; the current point sits on it.
    PathRig one;
    one.Curve->UpdateCurrentPoint(0);
    one.Draw();
    ExpectPixels(one.Frame, "16,24=255,255,0 13,24=0,0,255 20,24=0,0,0 11,24=0,0,0");
}

TEST(MotionPath, NothingWhileExportingOrNotEdited) {
    for (int which = 0; which < 4; ++which) {
        PathRig rig;
        rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0);
        rig.Bridge.NoPath = which == 0;
        rig.Edited = which != 1;
        rig.Curve->SetEnabled(which != 2);
        if (which == 3)
            rig.Bridge.GetNodeInfo = [](TNodeInfo&) { return false; };
        rig.Draw();
        EXPECT_TRUE(Same(rig.Frame, TBitmap(64, 48))) << which;
    }
}
