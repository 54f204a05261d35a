// Add-on base classes: callbacks taken from the bridge, the Run wrappers, frame coordinates,
// the overlay record, the preview work bitmap and the motion path pixels.
#include <gtest/gtest.h>

#include "EffectRig.h"
#include "MyCustomAddOn.h"
#include "MyTimeData.h"
#include "MyValueStream.h"

using namespace effectrig;

namespace {

constexpr Px Red{0, 0, 255}, White{255, 255, 255}, Aqua{255, 255, 0}, Black{0, 0, 0};

// The pixels at x0, y0, x1, y1, ... all have colour c.
void ExpectPixels(const TBitmap& b, Px c, std::initializer_list<int> xy) {
    for (auto p = xy.begin(); p != xy.end(); p += 2)
        EXPECT_EQ(At(b, p[0], p[1]), c) << p[0] << "," << p[1];
}

using Log = std::vector<std::string>;

class SpyFilter : public TCustomFilter {
public:
    SpyFilter(TAddOnBridge& b, Log& log) : TCustomFilter(b), L(log) {}
    bool Result = true;
    bool Apply(int32_t f, int32_t f2) override {
        L.push_back("Apply " + std::to_string(f) + " " + std::to_string(f2));
        FillBitmap(*Bitmap, 0x00FF00);
        return Result;
    }
    Log& L;
};

class SpyOverlay : public TCustomOverlay {
public:
    SpyOverlay(TAddOnBridge& b, Log& log) : TCustomOverlay(b), L(log) {}
    bool DoOverlay(int32_t f, int32_t sf, Extended time, Extended fps) override {
        L.push_back("DoOverlay " + std::to_string(f) + " " + std::to_string(sf) + " " +
                    std::to_string(static_cast<double>(time)) + " " +
                    std::to_string(static_cast<double>(fps)));
        return false;
    }
    void SetParams(const std::string& text) override {
        L.push_back("SetParams " + std::to_string(text.size()));
        TCustomOverlay::SetParams(text);
    }
    Log& L;
};

// An effect that enables a curve from its constructor, as the built-in ones do.
class LevelFilter : public TCustomFilter {
public:
    explicit LevelFilter(TAddOnBridge& b) : TCustomFilter(b) {
        if (RegisterTimeEffect)
            RegisterTimeEffect(ckLevel, "Strength");
    }
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
        Bridge.GetNodeInfo = [this](TNodeInfo& info) {
            info = TNodeInfo{};
            info.IsEdited = Edited;
            info.Curves = &Set;
            return true;
        };
    }
    void Draw() {
        Log log;
        SpyFilter f(Bridge, log);
        f.Bitmap = &Frame;
        f.DrawMotionPath();
    }
    bool Untouched() const { return Same(Frame, TBitmap(64, 48)); }
};

} // namespace

TEST(CustomAddOn, CallbacksAreCopiedOnceAtCreation) {
    Rig rig;
    LevelFilter f(rig.Bridge);
    EXPECT_EQ(rig.Registered, (std::vector<std::pair<int, std::string>>{{ckLevel, "Strength"}}));
    // A callback bound after creation does not reach the add-on; the identifier is read live.
    rig.Bridge.GetNodeInfo = [](TNodeInfo& info) {
        info.X = 99;
        return true;
    };
    TNodeInfo info;
    f.GetNodeInfo(info);
    EXPECT_EQ(info.X, 0);
    rig.Bridge.ID = "{X}";
    EXPECT_EQ(f.GetAddOnID(), "{X}");
}

TEST(CustomAddOn, SizeAndFramePointFollowTheBitmap) {
    TAddOnBridge bridge;
    TCustomFilter f(bridge);
    TNodeInfo info;
    info.X = -5;
    info.Y = 7;
    TPoint p;
    f.ToFramePoint(info, p);
    EXPECT_EQ(p, Point(-5, 7));
    EXPECT_EQ(f.GetWidth(), 0);
    EXPECT_EQ(f.GetHeight(), 0);
    TBitmap even(320, 240), odd(321, 241);
    for (TBitmap* b : {&even, &odd}) {
        f.Bitmap = b;
        f.ToFramePoint(TNodeInfo{}, p);
        EXPECT_EQ(p, Point(160, 120));
        f.ToFramePoint(info, p);
        EXPECT_EQ(p, Point(155, 127));
    }
    EXPECT_EQ(f.GetWidth(), 321);
    EXPECT_EQ(f.GetHeight(), 241);
}

TEST(CustomAddOn, PreviewPictureStandsInForTheWorkBitmap) {
    TAddOnBridge bridge;
    TCustomOverlay o(bridge);
    TBitmap picture(16, 16);
    AddOnPreview.Picture = &picture;
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    try {
        TAddOnPreviewScope scope;
        EXPECT_EQ(o.GetWorkBitmap(), &picture);
        throw Exception("leaving");
    } catch (const Exception&) {
    }
    EXPECT_FALSE(AddOnPreview.Active);
    EXPECT_EQ(o.GetWorkBitmap(), &bridge.WorkBitmap);
    AddOnPreview.Picture = nullptr;
}

TEST(CustomAddOn, FilterRunAppliesThenDrawsThePath) {
    PathRig rig;
    rig.Curve->GetPoint(0)->SetPosition(-0.25L, 0);
    Log log;
    SpyFilter f(rig.Bridge, log);
    f.Bitmap = &rig.Frame;
    f.Result = false;
    EXPECT_FALSE(f.Run(4, 5));
    EXPECT_EQ(log, std::vector<std::string>{"Apply 4 5"});
    EXPECT_EQ(At(rig.Frame, 0, 0), (Px{0, 255, 0}));
    EXPECT_EQ(At(rig.Frame, 13, 24), Red); // the path lies over what the filter drew
}

TEST(CustomAddOn, OverlayRunOrder) {
    Log log;
    TAddOnBridge bridge;
    SpyOverlay o(bridge, log);
    TBitmap frame(4, 4);
    o.Bitmap = &frame;
    // Without BeforeDraw the overlay just draws.
    EXPECT_FALSE(o.Run(1, 2, 0.5L, 25));
    bridge.BeforeDraw = [&](TBitmap* b, Extended t) {
        log.push_back(std::string("BeforeDraw ") + (b == &bridge.WorkBitmap ? "work " : "? ") +
                      std::to_string(static_cast<double>(t)));
    };
    EXPECT_FALSE(o.Run(3, 4, 1.25L, 10));
    EXPECT_EQ(o.Time, 1.25L);
    EXPECT_EQ(log, (std::vector<std::string>{"DoOverlay 1 2 0.500000 25.000000",
                                             "BeforeDraw work 1.250000",
                                             "DoOverlay 3 4 1.250000 10.000000"}));
}

TEST(CustomAddOn, OverlayRecordKeepsLongFileNames) {
    Log log;
    TAddOnBridge bridge;
    SpyOverlay a(bridge, log);
    a.Params = "p.bmp";
    a.ID = "{I}";
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    a.WriteData(w);
    EXPECT_EQ(bytes,
              (std::vector<uint8_t>{0x06, 5, 'p', '.', 'b', 'm', 'p', 0x06, 3, '{', 'I', '}'}));

    a.Params = "/media/" + std::string(300, 'x') + ".bmp";
    bytes.clear();
    a.WriteData(w);
    SpyOverlay b(bridge, log);
    TValueReader r(bytes.data(), bytes.size());
    b.ReadData(r);
    EXPECT_EQ(b.Params, a.Params);
    EXPECT_EQ(b.ID, "{I}");
    EXPECT_EQ(log.back(), "SetParams 311");
    EXPECT_TRUE(r.AtEnd());
}

TEST(MotionPath, LineBoxesAndCurrentPoint) {
    PathRig rig;
    rig.Curve->GetPoint(0)->SetPosition(-0.25L, 0); // (16, 24)
    rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0); // (48, 24)
    rig.Curve->UpdateCurrentPoint(1.0L);            // half way: (32, 24)
    rig.Draw();
    // The red line; white key boxes framed in red; the aqua current point framed in red.
    ExpectPixels(rig.Frame, Red, {24, 24, 40, 24, 13, 24, 19, 27, 51, 24, 29, 24, 32, 27});
    ExpectPixels(rig.Frame, White, {16, 24, 17, 22, 48, 24});
    ExpectPixels(rig.Frame, Aqua, {32, 24, 34, 26});
    ExpectPixels(rig.Frame, Black, {40, 25, 12, 24, 16, 28, 52, 24});
    // A single key has no line; the current point sits on it.
    PathRig one;
    one.Curve->GetPoint(0)->SetPosition(-0.25L, 0);
    one.Curve->UpdateCurrentPoint(0);
    one.Draw();
    ExpectPixels(one.Frame, Aqua, {16, 24});
    ExpectPixels(one.Frame, Red, {13, 24});
    ExpectPixels(one.Frame, Black, {20, 24, 11, 24});
}

TEST(MotionPath, NothingWhileExportingOrNotEdited) {
    for (int which = 0; which < 4; ++which) {
        PathRig rig;
        rig.Curve->AddNew(2.0L)->SetPosition(0.25L, 0);
        if (which == 0)
            rig.Bridge.NoPath = true;
        if (which == 1)
            rig.Edited = false;
        if (which == 2)
            rig.Curve->SetEnabled(false);
        if (which == 3)
            rig.Bridge.GetNodeInfo = [](TNodeInfo&) { return false; };
        rig.Draw();
        EXPECT_TRUE(rig.Untouched()) << which;
    }
}
